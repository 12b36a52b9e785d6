#include "image/BmpCodec.h"

#include <gtest/gtest.h>

#include "CodecSamples.h"
#include "image/RgbaReadback.h"

namespace quiltara {
namespace {

using test::Bytes;

void Put(Bytes& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

// A bitmap file: file header, info header of headerSize bytes (40 or more),
// optional masks and palette, then the pixel data.
Bytes Bitmap(std::int32_t width, std::int32_t height, int bits, std::uint32_t compression,
             const std::vector<std::uint32_t>& palette, const Bytes& pixels,
             std::uint32_t headerSize = 40, const std::vector<std::uint32_t>& masks = {}) {
    Bytes out = {'B', 'M'};
    const std::uint32_t offset =
        14 + headerSize + static_cast<std::uint32_t>(4 * palette.size()) +
        (headerSize == 40 ? static_cast<std::uint32_t>(4 * masks.size()) : 0);
    Put(out, offset + static_cast<std::uint32_t>(pixels.size()), 4);
    Put(out, 0, 4);
    Put(out, offset, 4);
    Put(out, headerSize, 4);
    Put(out, static_cast<std::uint32_t>(width), 4);
    Put(out, static_cast<std::uint32_t>(height), 4);
    Put(out, 1, 2);
    Put(out, static_cast<std::uint32_t>(bits), 2);
    Put(out, compression, 4);
    Put(out, static_cast<std::uint32_t>(pixels.size()), 4);
    Put(out, 11811, 4); // 300 dpi
    Put(out, 11811, 4);
    Put(out, static_cast<std::uint32_t>(palette.size()), 4);
    Put(out, 0, 4);
    for (std::uint32_t mask : masks) {
        Put(out, mask, 4);
    }
    const std::size_t headerEnd = 14 + headerSize;
    if (out.size() < headerEnd) {
        out.resize(headerEnd, 0);
    }
    for (std::uint32_t entry : palette) {
        Put(out, entry, 4);
    }
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

const std::vector<std::uint32_t> kFourColours = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};

TEST(BmpReader, RunLengthEightBitWithEscapes) {
    // Bottom row: 3 x index 1, then literal 2 3 2; next row: end of line at
    // once; then a delta to (1, 2) and one index 3; end of bitmap.
    const Bytes rle = {3, 1, 0, 3, 2, 3, 2, 0, 0, 0, 0, 0, 0, 2, 1, 0, 1, 3, 0, 1};
    RasterImage image;
    ASSERT_TRUE(test::DecodeBytes(image, Bitmap(6, 3, 8, 1, kFourColours, rle), kFormatBmp))
        << image.ErrorText();
    EXPECT_EQ(image.BitsPerPixel(), 8);
    const std::uint8_t expected[3][6] = {
        {1, 1, 1, 2, 3, 2}, {0, 0, 0, 0, 0, 0}, {0, 3, 0, 0, 0, 0}};
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 6; ++x) {
            EXPECT_EQ(image.PixelIndex(x, y), expected[y][x]) << x << "," << y;
        }
    }
    EXPECT_EQ(image.HorizontalDpi(), 300);
}

TEST(BmpReader, RunLengthFourBitAlternatesNibbles) {
    const Bytes rle = {5, 0x12, 0, 3, 0x31, 0x20, 0, 1};
    RasterImage image;
    ASSERT_TRUE(test::DecodeBytes(image, Bitmap(8, 1, 4, 2, kFourColours, rle), kFormatBmp))
        << image.ErrorText();
    const int expected[8] = {1, 2, 1, 2, 1, 3, 1, 2};
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(image.PixelIndex(x, 0), expected[x]) << x;
    }
}

TEST(BmpReader, RunsLeavingTheImageAreCut) {
    const Bytes rle = {200, 1, 0, 2, 250, 250, 9, 2, 0, 1};
    RasterImage image;
    ASSERT_TRUE(test::DecodeBytes(image, Bitmap(4, 2, 8, 1, kFourColours, rle), kFormatBmp));
    EXPECT_EQ(image.PixelIndex(3, 0), 1);
    EXPECT_EQ(image.PixelIndex(3, 1), 0);
}

TEST(BmpReader, EndlessDeltasToTheRightDoNotOverflowTheColumn) {
    // Enough moves of 255 columns to the right to pass the largest signed
    // 32-bit column, then one pixel and the end of the bitmap.
    constexpr std::size_t kMoves = (std::size_t{1} << 31) / 255 + 10;
    Bytes rle;
    rle.reserve(4 * kMoves + 4);
    for (std::size_t i = 0; i < kMoves; ++i) {
        rle.insert(rle.end(), {0, 2, 255, 0});
    }
    rle.insert(rle.end(), {1, 3, 0, 1});
    RasterImage image;
    ASSERT_TRUE(test::DecodeBytes(image, Bitmap(2, 1, 8, 1, kFourColours, rle), kFormatBmp))
        << image.ErrorText();
    EXPECT_EQ(image.PixelIndex(0, 0), 0);
    EXPECT_EQ(image.PixelIndex(1, 0), 0);
}

TEST(BmpReader, SixteenBitFiveSixFiveAndTopDownRows) {
    // Two rows stored top first: white, black / pure red, pure blue.
    Bytes pixels;
    Put(pixels, 0xFFFF, 2);
    Put(pixels, 0x0000, 2);
    Put(pixels, 0xF800, 2);
    Put(pixels, 0x001F, 2);
    RasterImage image;
    ASSERT_TRUE(test::DecodeBytes(
        image, Bitmap(2, -2, 16, 3, {}, pixels, 40, {0xF800, 0x07E0, 0x1F}), kFormatBmp))
        << image.ErrorText();
    EXPECT_EQ(image.BitsPerPixel(), 24);
    EXPECT_EQ(image.PixelColor(0, 1), (RgbQuad{255, 255, 255, 0}));
    EXPECT_EQ(image.PixelColor(1, 1), (RgbQuad{0, 0, 0, 0}));
    EXPECT_EQ(image.PixelColor(0, 0), (RgbQuad{0, 0, 255, 0}));
    EXPECT_EQ(image.PixelColor(1, 0), (RgbQuad{255, 0, 0, 0}));
}

TEST(BmpReader, WideMasksScaleWithoutWrappingAround) {
    Bytes pixels;
    Put(pixels, 0xFFFFFFFF, 4);
    Put(pixels, 0x80000000, 4);
    RasterImage image;
    ASSERT_TRUE(test::DecodeBytes(
        image, Bitmap(2, 1, 32, 3, {}, pixels, 40, {0xFFFFFFFF, 0, 0xFFFFFF00}), kFormatBmp))
        << image.ErrorText();
    EXPECT_EQ(image.PixelColor(0, 0), (RgbQuad{255, 0, 255, 0}));
    EXPECT_EQ(image.PixelColor(1, 0), (RgbQuad{128, 0, 128, 0}));
}

TEST(BmpReader, ThirtyTwoBitWithAlphaMaskFillsTheAlphaPlane) {
    Bytes pixels;
    Put(pixels, 0x80102030, 4); // alpha 0x80, red 0x10, green 0x20, blue 0x30
    Put(pixels, 0xFF405060, 4);
    RasterImage image;
    ASSERT_TRUE(test::DecodeBytes(
        image, Bitmap(2, 1, 32, 3, {}, pixels, 124, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}),
        kFormatBmp))
        << image.ErrorText();
    ASSERT_TRUE(image.HasAlpha());
    EXPECT_EQ(image.PixelColor(0, 0), (RgbQuad{0x30, 0x20, 0x10, 0}));
    EXPECT_EQ(image.AlphaAt(0, 0), 0x80);
    EXPECT_EQ(image.AlphaAt(1, 0), 0xFF);

    // A plain 32-bit bitmap's fourth byte is padding, not alpha.
    RasterImage plain;
    ASSERT_TRUE(test::DecodeBytes(plain, Bitmap(2, 1, 32, 0, {}, pixels), kFormatBmp));
    EXPECT_FALSE(plain.HasAlpha());
    EXPECT_EQ(plain.PixelColor(1, 0), (RgbQuad{0x60, 0x50, 0x40, 0}));
}

TEST(BmpReader, ImpossibleHeadersAndTruncationsFailCleanly) {
    const Bytes row = {0x12, 0x34, 0, 0};
    const Bytes cases[] = {
        Bitmap(0, 1, 8, 0, kFourColours, row),          // no width
        Bitmap(4, 0, 8, 0, kFourColours, row),          // no height
        Bitmap(4, 1, 7, 0, kFourColours, row),          // no such depth
        Bitmap(4, 1, 24, 1, {}, row),                   // RLE8 at 24 bits
        Bitmap(4, -1, 8, 1, kFourColours, row),         // top-down RLE
        Bitmap(4, 1, 1, 0, kFourColours, row),          // 4 colours at 1 bit
        Bitmap(0x7FFFFFFF, 0x7FFFFFFF, 24, 0, {}, row), // absurd size
        Bitmap(4, 3, 8, 0, kFourColours, row),          // rows missing
    };
    for (const Bytes& file : cases) {
        RasterImage image(1, 1, 24, 6);
        EXPECT_FALSE(test::DecodeBytes(image, file, kFormatBmp));
        EXPECT_STRNE(image.ErrorText(), "");
        EXPECT_EQ(image.FormatId(), 6u);
    }
    RasterImage source(13, 7, 4, 0);
    test::FillPattern(source);
    const Bytes whole = test::EncodeBytes(source, kFormatBmp);
    for (std::size_t length = 0; length < whole.size(); ++length) {
        RasterImage image;
        EXPECT_FALSE(test::DecodeBytes(
            image, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)),
            kFormatBmp))
            << length;
    }
}

} // namespace
} // namespace quiltara
