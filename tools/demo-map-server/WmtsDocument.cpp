#include "WmtsDocument.h"

#include <cstdio>

namespace demomap {
namespace {

// The scale denominator of zoom 0 of Web Mercator at 0.28 mm pixels.
constexpr double kZoomZeroScale = 559082264.0287178;
constexpr const char* kCorner = "-20037508.3427892 20037508.3427892";
constexpr int kDeepestZoom = 19;

std::string Format(const char* format, double a) {
    char text[64];
    std::snprintf(text, sizeof text, format, a);
    return text;
}

// One tile matrix set with a matrix per zoom 0..kDeepestZoom, named by zoom
// after the pattern ("EPSG:3857:%d", "%02d", "%d").
std::string MatrixSet(const std::string& identifier, const std::string& crs, const char* pattern,
                      int tileSize) {
    std::string xml = "  <TileMatrixSet>\n    <ows:Identifier>" + identifier +
                      "</ows:Identifier>\n    <ows:SupportedCRS>" + crs + "</ows:SupportedCRS>\n";
    for (int zoom = 0; zoom <= kDeepestZoom; ++zoom) {
        char name[32];
        std::snprintf(name, sizeof name, pattern, zoom);
        const long long tiles = 1LL << zoom;
        // A set of 512-pixel tiles covers the world with half the matrix size.
        const long long matrix = tileSize == 256 ? tiles : (tiles + 1) / 2;
        xml += std::string("    <TileMatrix>\n      <ows:Identifier>") + name +
               "</ows:Identifier>\n      <ScaleDenominator>" +
               Format("%.10g", kZoomZeroScale / static_cast<double>(tiles)) +
               "</ScaleDenominator>\n      <TopLeftCorner>" + kCorner +
               "</TopLeftCorner>\n      <TileWidth>" + std::to_string(tileSize) +
               "</TileWidth>\n      <TileHeight>" + std::to_string(tileSize) +
               "</TileHeight>\n      <MatrixWidth>" + std::to_string(matrix) +
               "</MatrixWidth>\n      <MatrixHeight>" + std::to_string(matrix) +
               "</MatrixHeight>\n    </TileMatrix>\n";
    }
    return xml + "  </TileMatrixSet>\n";
}

std::string Layer(const std::string& identifier, const std::string& title, const char* format,
                  const std::string& set, const std::string& extra) {
    return "  <Layer>\n    <ows:Title>" + title +
           "</ows:Title>\n    <ows:WGS84BoundingBox>\n      <ows:LowerCorner>-180 "
           "-85.051129</ows:LowerCorner>\n      <ows:UpperCorner>180 "
           "85.051129</ows:UpperCorner>\n    </ows:WGS84BoundingBox>\n    <ows:Identifier>" +
           identifier +
           "</ows:Identifier>\n    <Style isDefault=\"true\"><ows:Identifier>default</"
           "ows:Identifier></Style>\n    <Format>" +
           format + "</Format>\n" + extra + "    <TileMatrixSetLink><TileMatrixSet>" + set +
           "</TileMatrixSet></TileMatrixSetLink>\n  </Layer>\n";
}

std::string Rest(const std::string& origin, const std::string& layer, const char* format,
                 const char* extension, const std::string& between = "{Style}") {
    return std::string("    <ResourceURL format=\"") + format +
           "\" resourceType=\"tile\" template=\"" + origin + "/wmts/rest/" + layer + "/" + between +
           "/{TileMatrixSet}/{TileMatrix}/{TileRow}/{TileCol}." + extension + "\"/>\n";
}

std::string KeyValueOperation(const std::string& name, const std::string& origin) {
    return "    <ows:Operation name=\"" + name +
           "\">\n      <ows:DCP><ows:HTTP><ows:Get xlink:href=\"" + origin +
           "/wmts?\">\n        <ows:Constraint name=\"GetEncoding\"><ows:AllowedValues>"
           "<ows:Value>KVP</ows:Value></ows:AllowedValues></ows:Constraint>\n"
           "      </ows:Get></ows:HTTP></ows:DCP>\n    </ows:Operation>\n";
}

} // namespace

std::string WmtsCapabilitiesXml(const std::string& origin) {
    const std::string mercator = "urn:ogc:def:crs:EPSG::3857";
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<Capabilities xmlns=\"http://www.opengis.net/wmts/1.0\" "
        "xmlns:ows=\"http://www.opengis.net/ows/1.1\" "
        "xmlns:xlink=\"http://www.w3.org/1999/xlink\" version=\"1.0.0\">\n"
        "  <ows:ServiceIdentification>\n    <ows:Title>Quiltara demo WMTS</ows:Title>\n"
        "    <ows:ServiceType>OGC WMTS</ows:ServiceType>\n"
        "    <ows:ServiceTypeVersion>1.0.0</ows:ServiceTypeVersion>\n"
        "    <ows:Fees>none</ows:Fees>\n    <ows:AccessConstraints>none</ows:AccessConstraints>\n"
        "  </ows:ServiceIdentification>\n"
        "  <ows:ServiceProvider>\n    <ows:ProviderName>Quiltara demo-map-server"
        "</ows:ProviderName>\n    <ows:ProviderSite xlink:href=\"" +
        origin + "/\"/>\n  </ows:ServiceProvider>\n  <ows:OperationsMetadata>\n" +
        KeyValueOperation("GetCapabilities", origin) + KeyValueOperation("GetTile", origin) +
        "  </ows:OperationsMetadata>\n  <Contents>\n";
    xml += Layer("demo-road", "Demo road map", "image/png", "WebMercatorQuad",
                 Rest(origin, "demo-road", "image/png", "png"));
    xml += Layer("demo-photo", "Demo photo", "image/jpeg", "GoogleMapsCompatible",
                 Rest(origin, "demo-photo", "image/jpeg", "jpg"));
    xml +=
        "  <Layer>\n    <ows:Title>Demo relief</ows:Title>\n"
        "    <ows:Identifier>demo-relief</ows:Identifier>\n"
        "    <Style isDefault=\"true\"><ows:Identifier>default</ows:Identifier></Style>\n"
        "    <Format>image/png</Format>\n    <TileMatrixSetLink>\n"
        "      <TileMatrixSet>Plain</TileMatrixSet>\n      <TileMatrixSetLimits>\n";
    for (int zoom = 2; zoom <= 16; ++zoom) {
        const std::string last = std::to_string((1LL << zoom) - 1);
        xml += "        <TileMatrixLimits><TileMatrix>" + std::to_string(zoom) +
               "</TileMatrix><MinTileRow>0</MinTileRow><MaxTileRow>" + last +
               "</MaxTileRow><MinTileCol>0</MinTileCol><MaxTileCol>" + last +
               "</MaxTileCol></TileMatrixLimits>\n";
    }
    xml += "      </TileMatrixSetLimits>\n    </TileMatrixSetLink>\n  </Layer>\n";
    xml += Layer("demo-labels", "Demo labels", "image/png", "Plain",
                 Rest(origin, "demo-labels", "image/png", "png"));
    xml += Layer("demo-daily", "Demo daily map", "image/png", "WebMercatorQuad",
                 "    <Dimension>\n      <ows:Identifier>Time</ows:Identifier>\n"
                 "      <Default>2024-05-01</Default>\n      <Value>2024-05-01</Value>\n"
                 "      <Value>2024-04-30</Value>\n    </Dimension>\n" +
                     Rest(origin, "demo-daily", "image/png", "png", "{Style}/{Time}"));
    xml += Layer("demo-utm", "Demo UTM zone 32", "image/png", "UTM32",
                 Rest(origin, "demo-utm", "image/png", "png"));
    xml += Layer("demo-hidpi", "Demo high-density", "image/png", "WebMercatorQuad512",
                 Rest(origin, "demo-hidpi", "image/png", "png"));
    xml += MatrixSet("WebMercatorQuad", mercator, "EPSG:3857:%d", 256);
    xml += MatrixSet("GoogleMapsCompatible", "urn:ogc:def:crs:EPSG:6.18:3:3857", "%02d", 256);
    xml += MatrixSet("Plain", "EPSG:3857", "%d", 256);
    xml += MatrixSet("WebMercatorQuad512", mercator, "%d", 512);
    xml +=
        "  <TileMatrixSet>\n    <ows:Identifier>UTM32</ows:Identifier>\n"
        "    <ows:SupportedCRS>urn:ogc:def:crs:EPSG::25832</ows:SupportedCRS>\n"
        "    <TileMatrix>\n      <ows:Identifier>0</ows:Identifier>\n"
        "      <ScaleDenominator>77371428.5714</ScaleDenominator>\n"
        "      <TopLeftCorner>-2000000 9045984</TopLeftCorner>\n"
        "      <TileWidth>256</TileWidth><TileHeight>256</TileHeight>\n"
        "      <MatrixWidth>1</MatrixWidth><MatrixHeight>1</MatrixHeight>\n"
        "    </TileMatrix>\n  </TileMatrixSet>\n";
    return xml + "  </Contents>\n</Capabilities>\n";
}

} // namespace demomap
