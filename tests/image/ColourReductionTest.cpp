#include "image/ColourReduction.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace quiltara {
namespace {

RgbQuad Grey(int i, std::uint8_t reserved = 0) {
    const auto v = static_cast<std::uint8_t>(i);
    return RgbQuad{v, static_cast<std::uint8_t>(v ^ 0x55), static_cast<std::uint8_t>(255 - v),
                   reserved};
}

// A distinct non-black colour for every n in 0..4095.
RgbQuad Distinct(int n) {
    return RgbQuad{static_cast<std::uint8_t>(1 + n % 200), static_cast<std::uint8_t>(n / 200),
                   static_cast<std::uint8_t>(7), 0};
}

TEST(IndexForColour, BlackIsIndexZeroAndNewColoursTakeTheNextEntries) {
    RasterImage image(4, 4, 8, 4);
    std::int32_t counter = 0;
    EXPECT_EQ(IndexForColour(image, RgbQuad{0, 0, 0, 9}, counter), 0);
    EXPECT_EQ(counter, 0);
    EXPECT_EQ(IndexForColour(image, Grey(10), counter), 1);
    EXPECT_EQ(IndexForColour(image, Grey(20), counter), 2);
    EXPECT_EQ(counter, 2);
    // Same red, green and blue with another reserved byte: the same entry.
    EXPECT_EQ(IndexForColour(image, Grey(10, 200), counter), 1);
    EXPECT_EQ(image.PaletteEntry(1), Grey(10));
    EXPECT_EQ(counter, 2);
}

TEST(IndexForColour, FullPaletteAnswersMinusOne) {
    RasterImage image(1, 1, 8, 4);
    std::int32_t counter = 0;
    for (int i = 0; i < 255; ++i) {
        ASSERT_EQ(IndexForColour(image, Distinct(i), counter), i + 1);
    }
    EXPECT_EQ(IndexForColour(image, Distinct(255), counter), -1);
    EXPECT_EQ(counter, 255);
    EXPECT_EQ(IndexForColour(image, Distinct(254), counter), 255);
}

TEST(NearestIndex, SearchRulesTiesAndTheImportantCount) {
    RasterImage image(1, 1, 8, 4);
    image.SetPaletteEntry(1, RgbQuad{100, 0, 0, 0});
    image.SetPaletteEntry(2, RgbQuad{120, 0, 0, 0});
    image.SetPaletteEntry(20, RgbQuad{111, 0, 0, 0});
    EXPECT_EQ(image.NearestIndex(RgbQuad{110, 0, 0, 0}), 20);
    image.SetImportantColorCount(16);
    // Only entries 0..15: halfway between 1 and 2 picks the lower index.
    EXPECT_EQ(image.NearestIndex(RgbQuad{110, 0, 0, 0}), 1);
    // An exact match ends the search even when a later entry is equal.
    image.SetPaletteEntry(3, RgbQuad{100, 0, 0, 0});
    EXPECT_EQ(image.NearestIndex(RgbQuad{100, 0, 0, 0}), 1);
    // Every colour finds some entry: the farthest colour from black-only is 0.
    RasterImage black(1, 1, 8, 4);
    EXPECT_EQ(black.NearestIndex(RgbQuad{255, 255, 255, 0}), 0);
    RasterImage colour(1, 1, 24, 4);
    EXPECT_EQ(colour.NearestIndex(RgbQuad{1, 2, 3, 0}), 0);
}

TEST(NearestIndex, PaletteWritesInvalidateTheCache) {
    RasterImage image(1, 1, 8, 4);
    image.SetPaletteEntry(1, RgbQuad{200, 0, 0, 0});
    const RgbQuad asked{180, 0, 0, 0};
    EXPECT_EQ(image.NearestIndex(asked), 1);
    image.SetPaletteEntry(2, RgbQuad{181, 0, 0, 0});
    EXPECT_EQ(image.NearestIndex(asked), 2);
    image.SwapPaletteIndices(2, 5);
    EXPECT_EQ(image.NearestIndex(asked), 5);
    image.SetImportantColorCount(4);
    EXPECT_EQ(image.NearestIndex(asked), 1);
    // A new block starts with a black palette and no remembered answer.
    image.Create(1, 1, 8, 4);
    EXPECT_EQ(image.NearestIndex(asked), 0);
}

TEST(PaletteBuilder, BlackTileAssignsNothing) {
    RasterImage output(8, 8, 8, 4);
    RasterImage tile(4, 4, 24, 4);
    int warnings = 0;
    PaletteBuilder builder(output, [&](const std::string&) { ++warnings; });
    builder.PasteTile(tile, 0, 0);
    EXPECT_EQ(builder.Counter(), 0);
    EXPECT_EQ(warnings, 0);
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(output.PixelIndex(x, 0), 0);
    }
}

TEST(PaletteBuilder, OverflowWarnsOnceAndFallsBackToNearest) {
    RasterImage output(1, 1, 8, 4);
    std::vector<std::string> messages;
    PaletteBuilder builder(output, [&](const std::string& m) { messages.push_back(m); });
    for (int i = 0; i < 255; ++i) {
        ASSERT_EQ(builder.IndexFor(Distinct(i)), i + 1);
    }
    EXPECT_TRUE(messages.empty());
    RgbQuad near = Distinct(100);
    near.red = 9; // close to entry 101 only
    EXPECT_EQ(builder.IndexFor(near), 101);
    EXPECT_EQ(builder.IndexFor(Distinct(3000)), output.NearestIndex(Distinct(3000)));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0],
              "Too many colours in final output image, there may be some image quality loss");
    EXPECT_TRUE(builder.Warned());
    EXPECT_EQ(builder.Counter(), 255);
}

// The tile walk goes columns first: that order decides which colours get
// the free entries.
TEST(PaletteBuilder, TileWalkAssignsColumnsFirstAndIgnoresTransparency) {
    RasterImage output(4, 4, 8, 4);
    RasterImage tile(2, 2, 24, 4);
    tile.PutPixelColor(0, 0, Grey(1));
    tile.PutPixelColor(0, 1, Grey(2));
    tile.PutPixelColor(1, 0, Grey(3));
    tile.PutPixelColor(1, 1, Grey(4));
    tile.SetTransparentIndex(0);
    tile.SetTransparentColor(Grey(2));
    PaletteBuilder builder(output, nullptr);
    builder.PasteTile(tile, 1, 2);
    EXPECT_EQ(output.PixelIndex(1, 2), 1);
    EXPECT_EQ(output.PixelIndex(1, 3), 2); // the transparent colour is written too
    EXPECT_EQ(output.PixelIndex(2, 2), 3);
    EXPECT_EQ(output.PixelIndex(2, 3), 4);
    EXPECT_EQ(output.PaletteEntry(2).red, Grey(2).red);
    // Pixels beyond the output still take palette entries.
    builder.PasteTile(tile, 3, 3);
    EXPECT_EQ(builder.Counter(), 4);
}

// The builder's table lookup must answer exactly as the palette scan of
// IndexForColour followed by NearestIndex would, for a long mixed sequence
// that overflows the palette.
TEST(PaletteBuilder, AgreesWithThePaletteScan) {
    RasterImage fast(1, 1, 8, 4);
    RasterImage slow(1, 1, 8, 4);
    // A palette that already holds colours, one of them twice.
    for (RasterImage* image : {&fast, &slow}) {
        image->SetPaletteEntry(7, Grey(70));
        image->SetPaletteEntry(9, Grey(70));
    }
    PaletteBuilder builder(fast, nullptr);
    std::int32_t counter = 0;
    std::mt19937 random(99);
    std::uniform_int_distribution<int> pick(0, 400);
    for (int step = 0; step < 5000; ++step) {
        const RgbQuad colour = step % 7 == 0 ? Grey(70) : Distinct(pick(random));
        int expected = IndexForColour(slow, colour, counter);
        if (expected < 0) {
            expected = slow.NearestIndex(colour);
        }
        ASSERT_EQ(builder.IndexFor(colour), expected) << "step " << step;
    }
    EXPECT_EQ(builder.Counter(), counter);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(fast.PaletteEntry(static_cast<std::uint8_t>(i)),
                  slow.PaletteEntry(static_cast<std::uint8_t>(i)));
    }
}

} // namespace
} // namespace quiltara
