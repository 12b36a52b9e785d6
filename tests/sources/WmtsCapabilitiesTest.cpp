#include "sources/WmtsCapabilities.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "sources/TileSourceFile.h"
#include "sources/WmtsSource.h"
#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

using testing::HasSubstr;

constexpr double kZoomZeroScale = 559082264.0287178;

std::vector<int> Zooms(int first, int last) {
    std::vector<int> zooms;
    for (int zoom = first; zoom <= last; ++zoom) {
        zooms.push_back(zoom);
    }
    return zooms;
}

// A tile matrix set written as the standard has it, one matrix for each of
// the zooms, named after the pattern.
std::string MatrixSet(const char* identifier, const char* crs, const char* pattern,
                      const std::vector<int>& zooms, int tileSize = 256,
                      const char* corner = "-20037508.3427892 20037508.3427892") {
    std::string xml = std::string("<TileMatrixSet><ows:Identifier>") + identifier +
                      "</ows:Identifier><ows:SupportedCRS>" + crs + "</ows:SupportedCRS>";
    for (int zoom : zooms) {
        xml += "<TileMatrix><ows:Identifier>" + FormatText(pattern, zoom) +
               "</ows:Identifier><ScaleDenominator>" +
               FormatText("%.10g", kZoomZeroScale / std::exp2(zoom)) +
               "</ScaleDenominator><TopLeftCorner>" + corner + "</TopLeftCorner><TileWidth>" +
               std::to_string(tileSize) + "</TileWidth><TileHeight>" + std::to_string(tileSize) +
               "</TileHeight><MatrixWidth>1</MatrixWidth><MatrixHeight>1</MatrixHeight>"
               "</TileMatrix>";
    }
    return xml + "</TileMatrixSet>";
}

std::string Capabilities(const std::string& layerInside, const std::string& sets) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<Capabilities xmlns="http://www.opengis.net/wmts/1.0" xmlns:ows="http://www.opengis.net/ows/1.1"
              xmlns:xlink="http://www.w3.org/1999/xlink" version="1.0.0">
 <ows:ServiceIdentification><ows:Title>Example WMTS</ows:Title></ows:ServiceIdentification>
 <ows:ServiceProvider><ows:ProviderName>Example Survey</ows:ProviderName>
  <ows:ProviderSite xlink:href="https://survey.example/terms"/></ows:ServiceProvider>
 <ows:OperationsMetadata><ows:Operation name="GetTile"><ows:DCP><ows:HTTP>
  <ows:Get xlink:href="https://t.example/wmts?"><ows:Constraint name="GetEncoding">
   <ows:AllowedValues><ows:Value>KVP</ows:Value></ows:AllowedValues></ows:Constraint></ows:Get>
 </ows:HTTP></ows:DCP></ows:Operation></ows:OperationsMetadata>
 <Contents><Layer><ows:Title>Roads</ows:Title><ows:Identifier>roads</ows:Identifier>
  <ows:WGS84BoundingBox><ows:LowerCorner>5 45</ows:LowerCorner><ows:UpperCorner>10 48</ows:UpperCorner></ows:WGS84BoundingBox>
  <Style isDefault="true"><ows:Identifier>default</ows:Identifier></Style>
  <Format>image/png</Format>)" +
           layerInside + "</Layer>" + sets + "</Contents></Capabilities>";
}

const char* const kRest =
    R"(<ResourceURL format="image/png" resourceType="tile"
        template="https://t.example/rest/roads/{Style}/{TileMatrixSet}/{TileMatrix}/{TileRow}/{TileCol}.png"/>)";

struct WmtsCase {
    const char* name;
    std::string layerInside; // after the layer's format: links, dimensions, ResourceURL
    std::string sets;
    const char* refusal; // a part of the refusal; empty when the layer can be used
    const char* tileTemplate;
    int minZoom, maxZoom;
    int namedZoom; // -1: the matrices are the zoom numbers; else a zoom whose name is checked
    const char* zoomName;
};

const WmtsCase kCases[] = {
    {"rest",
     std::string("<TileMatrixSetLink><TileMatrixSet>PM</TileMatrixSet></TileMatrixSetLink>") +
         kRest,
     MatrixSet("PM", "urn:ogc:def:crs:EPSG::3857", "%d", Zooms(0, 3)), "",
     "https://t.example/rest/roads/default/PM/{z}/{y}/{x}.png", 0, 3, -1, ""},
    {"key_value_epsg_names",
     "<TileMatrixSetLink><TileMatrixSet>GoogleMapsCompatible</TileMatrixSet></TileMatrixSetLink>",
     MatrixSet("GoogleMapsCompatible", "EPSG:3857", "EPSG:3857:%d", Zooms(0, 4)), "",
     "https://t.example/wmts?SERVICE=WMTS&REQUEST=GetTile&VERSION=1.0.0&LAYER=roads&STYLE=default"
     "&FORMAT=image/png&TILEMATRIXSET=GoogleMapsCompatible&TILEMATRIX={z}&TILEROW={y}&TILECOL={x}",
     0, 4, 3, "EPSG:3857:3"},
    {"padded_names_within_limits",
     std::string("<TileMatrixSetLink><TileMatrixSet>q</TileMatrixSet><TileMatrixSetLimits>"
                 "<TileMatrixLimits><TileMatrix>02</TileMatrix></TileMatrixLimits>"
                 "<TileMatrixLimits><TileMatrix>03</TileMatrix></TileMatrixLimits>"
                 "</TileMatrixSetLimits></TileMatrixSetLink>") +
         R"(<ResourceURL format="image/png" resourceType="tile" template="https://t.example/{TileMatrixSet}/{TileMatrix}/{TileCol}/{TileRow}.png"/>)",
     MatrixSet("q", "urn:ogc:def:crs:EPSG:6.18:3:3857", "%02d", Zooms(0, 9)), "",
     "https://t.example/q/{z}/{x}/{y}.png", 2, 3, 2, "02"},
    {"time_dimension",
     std::string("<Dimension><ows:Identifier>Time</ows:Identifier><Default>2024-05-01</Default>"
                 "<Value>2024-05-01</Value></Dimension>"
                 "<TileMatrixSetLink><TileMatrixSet>PM</TileMatrixSet></TileMatrixSetLink>") +
         R"(<ResourceURL format="image/jpeg" resourceType="tile" template="https://t.example/{Time}/{TileMatrix}/{TileRow}/{TileCol}.jpg"/>)",
     MatrixSet("PM", "EPSG:3857", "%d", Zooms(0, 9)), "",
     "https://t.example/2024-05-01/{z}/{y}/{x}.jpg", 0, 9, -1, ""},
    {"utm_refused",
     std::string("<TileMatrixSetLink><TileMatrixSet>UTM32</TileMatrixSet></TileMatrixSetLink>") +
         kRest,
     MatrixSet("UTM32", "urn:ogc:def:crs:EPSG::25832", "%d", Zooms(0, 3), 256,
               "-46133.17 6301219.54"),
     "its tile matrix set 'UTM32' uses EPSG:25832; Quiltara stitches Web Mercator (EPSG:3857) "
     "tiles only",
     "", 0, 0, -1, ""},
    {"large_tiles_refused",
     std::string("<TileMatrixSetLink><TileMatrixSet>hi</TileMatrixSet></TileMatrixSetLink>") +
         kRest,
     MatrixSet("hi", "EPSG:3857", "%d", Zooms(0, 3), 512), "has 512 x 512 tiles", "", 0, 0, -1, ""},
    {"zoom_gap_refused",
     std::string("<TileMatrixSetLink><TileMatrixSet>gap</TileMatrixSet></TileMatrixSetLink>") +
         kRest,
     MatrixSet("gap", "EPSG:3857", "%d", {0, 1, 3}), "not each half the scale of the one before",
     "", 0, 0, -1, ""},
    {"unknown_placeholder_refused",
     std::string("<TileMatrixSetLink><TileMatrixSet>PM</TileMatrixSet></TileMatrixSetLink>") +
         R"(<ResourceURL format="image/png" resourceType="tile" template="https://t.example/{Elevation}/{TileMatrix}/{TileRow}/{TileCol}.png"/>)",
     MatrixSet("PM", "EPSG:3857", "%d", Zooms(0, 3)), "names {Elevation}", "", 0, 0, -1, ""},
};

class WmtsCases : public testing::TestWithParam<WmtsCase> {};

TEST_P(WmtsCases, ReadsTheLayerOrSaysWhyNot) {
    const WmtsCase& c = GetParam();
    std::string error;
    const std::optional<WmtsService> service =
        ReadWmtsCapabilities(Capabilities(c.layerInside, c.sets), "https://t.example/caps", error);
    ASSERT_TRUE(service) << error;
    const WmtsLayer* layer = service->Find("roads");
    ASSERT_NE(layer, nullptr);
    if (*c.refusal != '\0') {
        EXPECT_THAT(layer->refusal, HasSubstr(c.refusal));
        return;
    }
    ASSERT_TRUE(layer->Usable()) << layer->refusal;
    EXPECT_EQ(layer->tileTemplate, c.tileTemplate);
    EXPECT_EQ(layer->minZoom, c.minZoom);
    EXPECT_EQ(layer->maxZoom, c.maxZoom);
    if (c.namedZoom < 0) {
        EXPECT_TRUE(layer->zoomNames.empty());
    } else {
        ASSERT_GT(layer->zoomNames.size(), static_cast<std::size_t>(c.namedZoom));
        EXPECT_EQ(layer->zoomNames[static_cast<std::size_t>(c.namedZoom)], c.zoomName);
    }
}

INSTANTIATE_TEST_SUITE_P(Documents, WmtsCases, testing::ValuesIn(kCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(WmtsCapabilities, NamesWhatIsWrongWithADocumentThatIsNone) {
    std::string error;
    EXPECT_FALSE(ReadWmtsCapabilities("<html><body>Moved</body></html>", "", error));
    EXPECT_THAT(error, HasSubstr("root element is html"));
    EXPECT_FALSE(ReadWmtsCapabilities("<Capabilities><Contents>", "", error));
    EXPECT_THAT(error, HasSubstr("not valid XML"));
    EXPECT_FALSE(ReadWmtsCapabilities(
        R"(<ows:ExceptionReport xmlns:ows="http://www.opengis.net/ows/1.1"><ows:Exception><ows:ExceptionText>Unknown layer</ows:ExceptionText></ows:Exception></ows:ExceptionReport>)",
        "", error));
    EXPECT_THAT(error, HasSubstr("Unknown layer"));
}

TEST(WmtsSource, TheSourceFileWrittenReadsBackWithItsZoomNames) {
    std::string error;
    const auto service = ReadWmtsCapabilities(
        Capabilities(std::string("<TileMatrixSetLink><TileMatrixSet>PM</TileMatrixSet>"
                                 "</TileMatrixSetLink>") +
                         kRest,
                     MatrixSet("PM", "EPSG:3857", "EPSG:3857:%d", Zooms(0, 12))),
        "https://t.example/caps", error);
    ASSERT_TRUE(service) << error;
    WmtsChoice choice;
    choice.layers[static_cast<std::size_t>(MapLayer::Satellite)] = "roads";
    const std::optional<TileSource> made = SourceFromWmts(*service, choice, "", error);
    ASSERT_TRUE(made) << error;
    EXPECT_EQ(made->id, "example-wmts");
    EXPECT_EQ(made->attribution, "Example Survey");
    EXPECT_EQ(made->terms, "https://survey.example/terms");
    ASSERT_TRUE(made->start);
    EXPECT_EQ(made->start->zoom, 7); // the 5-degree-wide area about three tiles across

    const std::optional<TileSource> read = ReadTileSource(TileSourceText(*made), error);
    ASSERT_TRUE(read) << error;
    ASSERT_NE(read->Layer(MapLayer::Satellite), nullptr);
    EXPECT_EQ(read->Layer(MapLayer::Satellite)->tileTemplate.Expand(5, 6, 12, ""),
              "https://t.example/rest/roads/default/PM/EPSG:3857:12/6/5.png");
    EXPECT_EQ(read->maxZoom, 12);

    choice.layers[static_cast<std::size_t>(MapLayer::Map)] = "rivers";
    EXPECT_FALSE(SourceFromWmts(*service, choice, "", error));
    EXPECT_THAT(error, HasSubstr("no layer 'rivers'"));
}

} // namespace
} // namespace quiltara
