#include "tiles/TileGrid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace quiltara {
namespace {

ZoomChoice Zoom(int zoom) {
    return ZoomChoice{zoom, std::to_string(zoom)};
}

TEST(ComputeRange, WorkedExampleGivesEveryTextAndOutline) {
    const CTileRect selection{20.25, 10.5, 12.75, 21.5};
    const RangeUpdate update = ComputeRange(selection, 5, Zoom(6), 100, 50);

    ASSERT_TRUE(update.changesAnything);
    ASSERT_TRUE(update.replacesTileList);
    ASSERT_TRUE(update.range.has_value());
    EXPECT_EQ(update.range->xFirst, 21);
    EXPECT_EQ(update.range->xLast, 25);
    EXPECT_EQ(update.range->yFirst, 40);
    EXPECT_EQ(update.range->yLast, 43);
    EXPECT_EQ(update.xImagesText, "5 (21 to 25)");
    EXPECT_EQ(update.yImagesText, "4 (40 to 43)");
    EXPECT_EQ(update.totImagesText, "20");
    EXPECT_EQ(update.longText, "from -61.875000000 to -39.375000000");
    EXPECT_EQ(update.latText, "from -40.979900249 to -52.482782554");

    // Rows top to bottom, columns left to right, outlines 128 view pixels wide.
    ASSERT_EQ(update.tiles.size(), 20u);
    const CTileCell& first = update.tiles.front();
    EXPECT_EQ(first.column, 21);
    EXPECT_EQ(first.row, 40);
    EXPECT_DOUBLE_EQ(first.left, 100.0);
    EXPECT_DOUBLE_EQ(first.top, 50.0 - 64.0);
    EXPECT_DOUBLE_EQ(first.right, 228.0);
    EXPECT_DOUBLE_EQ(first.bottom, 50.0 + 64.0);
    EXPECT_EQ(update.tiles[1].column, 22);
    EXPECT_EQ(update.tiles[1].row, 40);
    EXPECT_EQ(update.tiles[5].column, 21);
    EXPECT_EQ(update.tiles[5].row, 41);
    const CTileCell& last = update.tiles.back();
    EXPECT_EQ(last.column, 25);
    EXPECT_EQ(last.row, 43);
    EXPECT_DOUBLE_EQ(last.left, 100.0 + 4 * 128.0);
    EXPECT_DOUBLE_EQ(last.bottom, 50.0 + 2.5 * 128.0 + 128.0);
}

TEST(ComputeRange, EdgeOnTileBoundaryIncludesTheTileBeyond) {
    // Scaled right 4.0 and bottom 6.0 lie exactly on boundaries.
    const RangeUpdate update = ComputeRange(CTileRect{1.5, 1.0, 2.0, 3.0}, 3, Zoom(4), 0, 0);
    ASSERT_TRUE(update.range.has_value());
    EXPECT_EQ(update.range->xLast, 4);
    EXPECT_EQ(update.range->yLast, 6);
    EXPECT_EQ(update.xImagesText, "3 (2 to 4)");
    EXPECT_EQ(update.yImagesText, "4 (3 to 6)");
    EXPECT_EQ(update.tiles.size(), 12u);
}

TEST(ComputeRange, NotDeeperZoomAsksForAHigherOneAndEmptiesTheList) {
    for (int zoom : {5, 4}) {
        const RangeUpdate update =
            ComputeRange(CTileRect{20.25, 10.5, 12.75, 21.5}, 5, Zoom(zoom), 0, 0);
        EXPECT_TRUE(update.changesAnything);
        EXPECT_EQ(update.xImagesText, "Choose a higher zoom");
        EXPECT_EQ(update.yImagesText, "Unknown");
        EXPECT_EQ(update.totImagesText, "Unknown");
        EXPECT_FALSE(update.longText.has_value());
        EXPECT_FALSE(update.latText.has_value());
        EXPECT_FALSE(update.range.has_value());
        EXPECT_TRUE(update.replacesTileList);
        EXPECT_TRUE(update.tiles.empty());
    }
}

TEST(ComputeRange, FirstEntryOfTheZoomListChangesNothing) {
    const RangeUpdate update =
        ComputeRange(CTileRect{20.25, 10.5, 12.75, 21.5}, 5, ZoomChoice{0, "(enter zoom)"}, 0, 0);
    EXPECT_FALSE(update.changesAnything);
    EXPECT_FALSE(update.replacesTileList);
    EXPECT_FALSE(update.xImagesText.has_value());
}

TEST(ComputeRange, ZoomTextIsReadLikeAtoi) {
    // A custom entry such as " 7 " or "7x" still means zoom 7; "abc" means 0.
    EXPECT_EQ(ComputeRange(CTileRect{1, 1, 1, 1}, 5, ZoomChoice{3, " 7x"}, 0, 0).xImagesText,
              "1 (4 to 4)");
    EXPECT_EQ(ComputeRange(CTileRect{1, 1, 1, 1}, 5, ZoomChoice{3, "abc"}, 0, 0).xImagesText,
              "Choose a higher zoom");
}

TEST(ComputeRange, FailedProbeValuesProduceNoTileList) {
    const RangeUpdate update = ComputeRange(CTileRect{-1.0, -1.0, 3.5, 4.5}, 3, Zoom(5), 0, 0);
    EXPECT_TRUE(update.replacesTileList);
    EXPECT_TRUE(update.tiles.empty());
    EXPECT_FALSE(update.range.has_value());
    EXPECT_EQ(update.xImagesText, "No area measured");
    EXPECT_EQ(update.totImagesText, "Unknown");
}

TEST(ComputeRange, DeepestZoomsNeverWrapTileIndices) {
    // At zoom 31 the last column of the world is 2^31 - 1, still an int.
    const double edge = 1.0 - 1.0 / 1024.0; // just inside the world at zoom 0
    const RangeUpdate fits = ComputeRange(CTileRect{0.5, edge, edge, 0.5}, 0, Zoom(31), 0, 0);
    ASSERT_TRUE(fits.range.has_value());
    EXPECT_EQ(fits.range->xFirst, 2145386496);
    EXPECT_EQ(fits.range->xLast, 2145386496);
    EXPECT_EQ(fits.tiles.size(), 1u);

    for (int zoom : {32, 40, 49}) {
        const RangeUpdate deep = ComputeRange(CTileRect{0.5, 0.5, 0.5, 0.5}, 0, Zoom(zoom), 0, 0);
        EXPECT_TRUE(deep.tiles.empty()) << zoom;
        EXPECT_FALSE(deep.range.has_value()) << zoom;
        EXPECT_EQ(deep.xImagesText, "Zoom too deep for tile numbers") << zoom;
    }
}

TEST(ComputeRange, HugeAreasAreCountedButNotListed) {
    // Most of the world at zoom 19, selected at zoom 2.
    const RangeUpdate update = ComputeRange(CTileRect{0.0, 0.0, 3.5, 3.5}, 2, Zoom(19), 0, 0);
    EXPECT_TRUE(update.tiles.empty());
    EXPECT_FALSE(update.range.has_value());
    EXPECT_EQ(update.xImagesText, "458753 (0 to 458752)");
    EXPECT_EQ(update.totImagesText, "210454315009: too many tiles");
    // The spans belong to this range, not to whatever was computed before.
    EXPECT_EQ(update.longText, "from -180.000000000 to 135.000000000");
    EXPECT_EQ(update.latText, "from 85.051128402 to -79.171337018");
}

TEST(ComputeRange, LeftAndTopEdgesBeyondTileNumbersAreRefusedLikeTheFarEdges) {
    // A reversed rectangle whose left (top) edge lies past 2^31 at the output
    // zoom while its right (bottom) edge fits: no cast of it may happen.
    for (const CTileRect& rect : {CTileRect{0.5, 1.5, 0.25, 0.5}, CTileRect{1.5, 0.5, 0.5, 0.25}}) {
        const RangeUpdate update = ComputeRange(rect, 0, Zoom(31), 0, 0);
        EXPECT_FALSE(update.range.has_value());
        EXPECT_TRUE(update.tiles.empty());
        EXPECT_EQ(update.xImagesText, "Zoom too deep for tile numbers");
    }
}

TEST(TileSpans, ZoomOneValuesCarryTheSystemsConstants) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9f", TileLongitude(0, 1));
    EXPECT_STREQ(text, "-180.000000000");
    std::snprintf(text, sizeof text, "%.9f", TileLongitude(1, 1));
    EXPECT_STREQ(text, "0.000000000");
    std::snprintf(text, sizeof text, "%.9f", TileLatitude(0, 1));
    EXPECT_STREQ(text, "85.051128402");
    std::snprintf(text, sizeof text, "%.9f", TileLatitude(1, 1));
    EXPECT_STREQ(text, "-0.000001330");
}

TEST(TileSpans, AgreeWithTextbookMercatorAtEveryZoom) {
    for (int zoom = 1; zoom <= 30; ++zoom) {
        const double tiles = std::ldexp(1.0, zoom);
        for (double fraction : {0.0, 0.1, 0.25, 0.5, 0.73, 0.999}) {
            const auto index = static_cast<std::int64_t>(fraction * tiles);
            const double lon = static_cast<double>(index) / tiles * 360.0 - 180.0;
            const double lat =
                std::atan(std::sinh(std::numbers::pi *
                                    (1.0 - 2.0 * static_cast<double>(index) / tiles))) *
                180.0 / std::numbers::pi;
            EXPECT_NEAR(TileLongitude(index, zoom), lon, 1e-5) << zoom << " " << index;
            EXPECT_NEAR(TileLatitude(index, zoom), lat, 1e-5) << zoom << " " << index;
        }
    }
}

TEST(TileSpans, LatitudeSpansReadNorthToSouth) {
    const RangeUpdate update = ComputeRange(CTileRect{2.0, 2.0, 3.0, 3.0}, 3, Zoom(8), 0, 0);
    ASSERT_TRUE(update.range.has_value());
    EXPECT_GT(TileLatitude(update.range->yFirst, 8), TileLatitude(update.range->yLast, 8));
}

} // namespace
} // namespace quiltara
