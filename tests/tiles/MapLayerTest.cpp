#include "tiles/MapLayer.h"

#include <gtest/gtest.h>

namespace quiltara {
namespace {

TEST(MapLayer, PrefixesSettingsNamesAndTileNames) {
    EXPECT_STREQ(LayerPrefix(MapLayer::Map), "Map_");
    EXPECT_STREQ(LayerPrefix(MapLayer::Satellite), "Sat_");
    EXPECT_STREQ(LayerPrefix(MapLayer::Terrain), "Ter_");
    EXPECT_STREQ(LayerPrefix(MapLayer::Hybrid), "Hyb_");
    EXPECT_STREQ(LayerSettingsName(MapLayer::Hybrid), "SourceURL_HYB");
    EXPECT_EQ(TileFileName(21, 40, 6), "x=21y=40zoom=6.png");
    EXPECT_EQ(TileFileName(-1, 0, 49), "x=-1y=0zoom=49.png");
    EXPECT_EQ(kAllLayers.front(), MapLayer::Map);
    EXPECT_EQ(kAllLayers.back(), MapLayer::Hybrid);
}

} // namespace
} // namespace quiltara
