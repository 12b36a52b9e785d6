#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sources/SourceCatalogue.h"

namespace quiltara {
namespace {

using testing::HasSubstr;
using testing::StartsWith;

// One tile of each shipped layer as its provider's documentation spells the
// address: a template with column and row swapped, a layer name mistyped or
// a zoom table lost shows here, without asking any server.
struct ShippedTile {
    const char* source;
    MapLayer layer;
    int column, row, zoom;
    const char* address;
};

const ShippedTile kTiles[] = {
    {"nasa-gibs", MapLayer::Satellite, 150, 100, 8,
     "https://gibs.earthdata.nasa.gov/wmts/epsg3857/best/MODIS_Terra_CorrectedReflectance_TrueColor"
     "/default/2024-06-15/GoogleMapsCompatible_Level9/8/100/150.jpg"},
    {"nasa-gibs", MapLayer::Terrain, 5, 3, 4,
     "https://gibs.earthdata.nasa.gov/wmts/epsg3857/best/BlueMarble_ShadedRelief_Bathymetry/"
     "default/"
     "GoogleMapsCompatible_Level8/4/3/5.jpg"},
    {"usgs-national-map", MapLayer::Map, 385, 816, 11,
     "https://basemap.nationalmap.gov/arcgis/rest/services/USGSTopo/MapServer/tile/11/816/385"},
    {"usgs-national-map", MapLayer::Terrain, 1, 2, 3,
     "https://basemap.nationalmap.gov/arcgis/rest/services/USGSShadedReliefOnly/MapServer/tile/3/2/"
     "1"},
    {"ign-france", MapLayer::Map, 2074, 1409, 12,
     "https://data.geopf.fr/wmts?SERVICE=WMTS&REQUEST=GetTile&VERSION=1.0.0&LAYER="
     "GEOGRAPHICALGRIDSYSTEMS.PLANIGNV2&STYLE=normal&FORMAT=image/png&TILEMATRIXSET=PM"
     "&TILEMATRIX=12&TILEROW=1409&TILECOL=2074"},
    {"ign-france", MapLayer::Satellite, 1, 0, 1,
     "https://data.geopf.fr/wmts?SERVICE=WMTS&REQUEST=GetTile&VERSION=1.0.0&LAYER="
     "ORTHOIMAGERY.ORTHOPHOTOS&STYLE=normal&FORMAT=image/jpeg&TILEMATRIXSET=PM"
     "&TILEMATRIX=1&TILEROW=0&TILECOL=1"},
    {"basemap-at", MapLayer::Map, 4468, 2839, 13,
     "https://mapsneu.wien.gv.at/basemap/geolandbasemap/normal/google3857/13/2839/4468.png"},
    {"basemap-at", MapLayer::Satellite, 4468, 2839, 13,
     "https://mapsneu.wien.gv.at/basemap/bmaporthofoto30cm/normal/google3857/13/2839/4468.jpeg"},
    {"basemap-at", MapLayer::Hybrid, 4468, 2839, 13,
     "https://mapsneu.wien.gv.at/basemap/bmapoverlay/normal/google3857/13/2839/4468.png"},
    {"kartverket-topo", MapLayer::Map, 1084, 563, 11,
     "https://cache.kartverket.no/v1/wmts?SERVICE=WMTS&REQUEST=GetTile&VERSION=1.0.0&LAYER=topo"
     "&STYLE=default&FORMAT=image/png&TILEMATRIXSET=webmercator&TILEMATRIX=11&TILEROW=563"
     "&TILECOL=1084"},
    {"gsi-japan", MapLayer::Map, 3627, 1613, 12, "https://maps.gsi.go.jp/xyz/std/12/3627/1613.png"},
    {"gsi-japan", MapLayer::Satellite, 3627, 1613, 12,
     "https://maps.gsi.go.jp/xyz/seamlessphoto/12/3627/1613.jpg"},
};

class ShippedTiles : public testing::TestWithParam<ShippedTile> {};

TEST_P(ShippedTiles, ExpandAsTheProviderDocumentsAndReadBack) {
    const ShippedTile& tile = GetParam();
    const SourceCatalogue catalogue = LoadSourceCatalogue({SourceFolders().front()});
    const TileSource* source = catalogue.Find(tile.source);
    ASSERT_NE(source, nullptr) << tile.source;
    const SourceLayer* layer = source->Layer(tile.layer);
    ASSERT_NE(layer, nullptr);
    EXPECT_LE(tile.zoom, source->maxZoom);
    const std::string url = layer->tileTemplate.Expand(tile.column, tile.row, tile.zoom, "");
    EXPECT_EQ(url, tile.address);
    EXPECT_EQ(layer->tileTemplate.Match(url, source->subdomains),
              (TileMatch{tile.column, tile.row, tile.zoom}));
}

INSTANTIATE_TEST_SUITE_P(Providers, ShippedTiles, testing::ValuesIn(kTiles), [](const auto& row) {
    std::string name = std::string(row.param.source) + "_" + LayerName(row.param.layer);
    for (char& c : name) {
        c = c == '-' ? '_' : c;
    }
    return name;
});

TEST(ShippedSources, EveryFileLoadsAndKeepsToItsProvidersTerms) {
    const SourceCatalogue catalogue = LoadSourceCatalogue({SourceFolders().front()});
    EXPECT_TRUE(catalogue.problems.empty())
        << (catalogue.problems.empty() ? "" : catalogue.problems.front().Text());
    ASSERT_EQ(catalogue.sources.size(), 7u);
    for (const TileSource& source : catalogue.sources) {
        SCOPED_TRACE(source.id);
        ASSERT_TRUE(source.start);
        EXPECT_GE(source.start->zoom, source.minZoom);
        EXPECT_LE(source.start->zoom, source.maxZoom);
        if (source.id == "offline-demo") {
            continue;
        }
        // Named as the provider asks, its terms a page of its own, polite.
        EXPECT_FALSE(source.attribution.empty());
        EXPECT_THAT(source.terms, StartsWith("https://"));
        ASSERT_TRUE(source.rate);
        EXPECT_LE(*source.rate, 10.0);
        EXPECT_LE(source.connections, 4);
        for (const SourceLayer& layer : source.layers) {
            EXPECT_THAT(layer.tileTemplate.Text(), StartsWith("https://"));
        }
    }
    // Tiles past zoom 11 carry data that may be shown but not copied.
    EXPECT_EQ(catalogue.Find("kartverket-topo")->maxZoom, 11);
    EXPECT_THAT(catalogue.Find("nasa-gibs")->attribution, HasSubstr("(GIBS)"));
}

} // namespace
} // namespace quiltara
