#include "image/RasterImage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>

namespace quiltara {
namespace {

// The paste as a plain per-pixel walk over the whole source, columns outer
// and rows inner, written only with the image's public pixel operations. The
// real PasteOver must give exactly these pixels.
void ReferencePaste(RasterImage& target, const RasterImage& source, int xOffset, int yOffset) {
    for (int x = 0; x < source.Width(); ++x) {
        for (int y = 0; y < source.Height(); ++y) {
            if (source.HasTransparentColor() && source.IsTransparentAt(x, y)) {
                continue;
            }
            target.PutPixelColor(xOffset + x, yOffset + y, source.PixelColorUnchecked(x, y, true),
                                 false);
        }
    }
}

void Scribble(RasterImage& image, std::mt19937& random) {
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::uint32_t i = 40; i < image.BlockSize(); ++i) {
        image.PixelBlock()[i] = static_cast<std::uint8_t>(byte(random));
    }
}

bool SamePixels(const RasterImage& a, const RasterImage& b) {
    return a.BlockSize() == b.BlockSize() &&
           std::memcmp(a.PixelBlock(), b.PixelBlock(), a.BlockSize()) == 0;
}

TEST(PasteOver, OverhangingSourceWritesOnlyTheOverlap) {
    RasterImage target(512, 512, 24, 4);
    RasterImage tile(256, 256, 24, 4);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            tile.PutPixelColor(x, y, RgbQuad{1, 2, 3, 0});
        }
    }
    target.PasteOver(tile, -10, 300);
    int written = 0;
    for (int y = 0; y < 512; ++y) {
        for (int x = 0; x < 512; ++x) {
            const bool inside = x < 246 && y >= 300;
            const RgbQuad expected = inside ? RgbQuad{1, 2, 3, 0} : RgbQuad{};
            ASSERT_EQ(target.PixelColor(x, y), expected) << x << "," << y;
            written += inside ? 1 : 0;
        }
    }
    EXPECT_EQ(written, 246 * 212);
}

TEST(PasteOver, SourceEntirelyOutsideOrEmptyChangesNothing) {
    RasterImage target(8, 8, 24, 4);
    RasterImage tile(4, 4, 24, 4);
    std::mt19937 random(1);
    Scribble(tile, random);
    const RasterImage before(target);
    for (auto [x, y] : {std::pair{8, 0}, {-4, 0}, {0, 8}, {0, -4}, {INT32_MIN, INT32_MAX}}) {
        target.PasteOver(tile, x, y);
    }
    RasterImage empty;
    target.PasteOver(empty, 0, 0);
    RasterImage failed;
    failed.Create(0, 4, 24, 4);
    target.PasteOver(failed, 0, 0);
    EXPECT_TRUE(SamePixels(target, before));

    RasterImage noPixels;
    noPixels.PasteOver(tile, 0, 0); // nothing to write into, and no crash
    EXPECT_FALSE(noPixels.HasPixels());
}

TEST(PasteOver, TransparentIndexLeavesTargetPixelsAlone) {
    RasterImage target(4, 1, 24, 4);
    for (int x = 0; x < 4; ++x) {
        target.PutPixelColor(x, 0, RgbQuad{9, 9, 9, 0});
    }
    RasterImage tile(4, 1, 8, 4);
    tile.SetPaletteEntry(1, RgbQuad{10, 20, 30, 0});
    tile.SetPaletteEntry(2, RgbQuad{40, 50, 60, 0});
    tile.PutPixelIndex(0, 0, 1);
    tile.PutPixelIndex(1, 0, 2);
    tile.PutPixelIndex(2, 0, 2);
    tile.PutPixelIndex(3, 0, 1);
    tile.SetTransparentIndex(2);
    target.PasteOver(tile, 0, 0);
    EXPECT_EQ(target.PixelColor(0, 0), (RgbQuad{10, 20, 30, 0}));
    EXPECT_EQ(target.PixelColor(1, 0), (RgbQuad{9, 9, 9, 0}));
    EXPECT_EQ(target.PixelColor(2, 0), (RgbQuad{9, 9, 9, 0}));
    EXPECT_EQ(target.PixelColor(3, 0), (RgbQuad{10, 20, 30, 0}));
}

TEST(PasteOver, AlphaAloneIsNotTransparencyAndIsNeverCarriedOver) {
    RasterImage target(2, 1, 24, 4);
    ASSERT_TRUE(target.CreateAlpha());
    target.SetAlphaAt(0, 0, 200);
    RasterImage tile(2, 1, 24, 4);
    tile.PutPixelColor(0, 0, RgbQuad{1, 2, 3, 0});
    tile.PutPixelColor(1, 0, RgbQuad{4, 5, 6, 0});
    ASSERT_TRUE(tile.CreateAlpha());
    tile.SetAlphaAt(0, 0, 0);
    tile.SetAlphaAt(1, 0, 0);
    target.PasteOver(tile, 0, 0);
    // No transparent index: the whole source is pasted, colours as stored.
    EXPECT_EQ(target.PixelColor(0, 0), (RgbQuad{1, 2, 3, 0}));
    EXPECT_EQ(target.PixelColor(1, 0), (RgbQuad{4, 5, 6, 0}));
    EXPECT_EQ(target.AlphaAt(0, 0), 200);

    // With a transparent index set, pixels of alpha 0 are skipped too.
    RasterImage keyed(2, 1, 24, 4);
    tile.SetTransparentIndex(0);
    tile.SetTransparentColor(RgbQuad{7, 7, 7, 0});
    keyed.PasteOver(tile, 0, 0);
    EXPECT_EQ(keyed.PixelColor(0, 0), RgbQuad{});
    EXPECT_EQ(keyed.PixelColor(1, 0), RgbQuad{});
}

TEST(PasteOver, PaletteTargetMapsThroughNearestIndex) {
    RasterImage target(2, 1, 8, 4);
    target.SetPaletteEntry(1, RgbQuad{0, 0, 250, 0});
    target.SetPaletteEntry(2, RgbQuad{250, 0, 0, 0});
    RasterImage tile(2, 1, 24, 4);
    tile.PutPixelColor(0, 0, RgbQuad{240, 10, 10, 0});
    tile.PutPixelColor(1, 0, RgbQuad{10, 10, 230, 0});
    target.PasteOver(tile, 0, 0);
    EXPECT_EQ(target.PixelIndex(0, 0), 2);
    EXPECT_EQ(target.PixelIndex(1, 0), 1);
}

// Every depth, transparency kind and placement: the row-wise paths must give
// the pixels of the per-pixel walk.
TEST(PasteOver, MatchesThePixelWalkForEveryKindOfSource) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> offset(-20, 40);
    for (std::uint32_t targetDepth : {24u, 8u, 4u}) {
        for (std::uint32_t sourceDepth : {1u, 4u, 8u, 24u}) {
            for (int mode = 0; mode < 4; ++mode) { // plain, key, alpha, key + alpha
                SCOPED_TRACE(testing::Message() << "target " << targetDepth << " source "
                                                << sourceDepth << " mode " << mode);
                RasterImage source(23, 17, sourceDepth, 4);
                Scribble(source, random);
                if (sourceDepth == 24 && (mode & 1)) {
                    // A key colour that really occurs in the source.
                    source.SetTransparentColor(source.PixelColor(3, 4));
                    source.PutPixelColor(5, 6, source.PixelColor(3, 4));
                }
                if (mode & 1) {
                    source.SetTransparentIndex(sourceDepth == 1 ? 1 : 3);
                }
                if (mode & 2) {
                    ASSERT_TRUE(source.CreateAlpha());
                    for (int i = 0; i < 23 * 17; ++i) {
                        source.AlphaPlane()[i] =
                            static_cast<std::uint8_t>(random() % 3 == 0 ? 0 : 128);
                    }
                }
                RasterImage fast(31, 29, targetDepth, 4);
                Scribble(fast, random);
                RasterImage slow(fast);
                for (int round = 0; round < 6; ++round) {
                    const int x = offset(random);
                    const int y = offset(random);
                    fast.PasteOver(source, x, y);
                    ReferencePaste(slow, source, x, y);
                    ASSERT_TRUE(SamePixels(fast, slow)) << "at " << x << "," << y;
                }
            }
        }
    }
}

TEST(PasteOver, IntoItselfFollowsThePixelOrder) {
    std::mt19937 random(7);
    RasterImage image(12, 9, 24, 4);
    Scribble(image, random);
    RasterImage expected(image);
    const RasterImage& alias = image;
    image.PasteOver(alias, 2, 1);
    ReferencePaste(expected, expected, 2, 1);
    EXPECT_TRUE(SamePixels(image, expected));
}

} // namespace
} // namespace quiltara
