#include "image/JpegCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "CodecSamples.h"
#include "HostileSamples.h"
#include "image/ExifReader.h"

namespace quiltara {
namespace {

using test::Bytes;
using test::JpegSample;

// Left half red, right half blue, bottom row band green: orientation and the
// channel order both show.
JpegSample Quadrants() {
    JpegSample s;
    s.width = 32;
    s.height = 32;
    s.sample = [](std::uint32_t x, std::uint32_t y, int c) -> std::uint8_t {
        if (y >= 24) {
            return c == 1 ? 200 : 0;
        }
        if (x < 16) {
            return c == 0 ? 220 : 10;
        }
        return c == 2 ? 230 : 20;
    };
    return s;
}

void ExpectNear(RgbQuad actual, RgbQuad expected, int tolerance) {
    EXPECT_NEAR(actual.blue, expected.blue, tolerance);
    EXPECT_NEAR(actual.green, expected.green, tolerance);
    EXPECT_NEAR(actual.red, expected.red, tolerance);
}

TEST(JpegReader, ColourFileGivesBlueGreenRedRowsBottomUp) {
    for (bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "baseline");
        JpegSample s = Quadrants();
        s.progressive = progressive;
        RasterImage image;
        ASSERT_TRUE(test::DecodeBytes(image, test::MakeJpeg(s), kFormatJpeg));
        EXPECT_EQ(image.FormatId(), 3u);
        EXPECT_EQ(image.BitsPerPixel(), 24);
        EXPECT_EQ(image.Width(), 32);
        ExpectNear(image.PixelColor(4, 28), RgbQuad{10, 10, 220, 0}, 6);  // top left: red
        ExpectNear(image.PixelColor(28, 28), RgbQuad{230, 20, 20, 0}, 6); // top right: blue
        ExpectNear(image.PixelColor(16, 2), RgbQuad{0, 200, 0, 0}, 6);    // bottom: green
    }
}

TEST(JpegReader, GreyFileGivesEightBitGreyRamp) {
    JpegSample s;
    s.components = 1;
    s.sample = [](std::uint32_t x, std::uint32_t, int) {
        return static_cast<std::uint8_t>(x * 16);
    };
    RasterImage image;
    ASSERT_TRUE(test::DecodeBytes(image, test::MakeJpeg(s), kFormatJpeg));
    EXPECT_EQ(image.BitsPerPixel(), 8);
    EXPECT_EQ(image.ColorCount(), 256u);
    EXPECT_TRUE(image.IsGreyRamp());
    EXPECT_NEAR(image.PixelIndex(10, 3), 160, 4);
}

TEST(JpegReader, CmykIsScaledByTheFourthComponent) {
    JpegSample s;
    s.components = 4;
    s.sample = [](std::uint32_t x, std::uint32_t, int c) -> std::uint8_t {
        static constexpr std::uint8_t kValues[4] = {200, 100, 50, 0};
        return c < 3 ? kValues[c] : (x < 8 ? 255 : 128);
    };
    RasterImage image;
    ASSERT_TRUE(test::DecodeBytes(image, test::MakeJpeg(s), kFormatJpeg));
    EXPECT_EQ(image.BitsPerPixel(), 24);
    ExpectNear(image.PixelColor(2, 5), RgbQuad{50, 100, 200, 0}, 3);
    ExpectNear(image.PixelColor(13, 5), RgbQuad{25, 50, 100, 0}, 3);
}

TEST(JpegReader, TruncatedDataIsDecodedAsFarAsItGoes) {
    JpegSample s;
    s.width = 96;
    s.height = 96;
    s.sample = [](std::uint32_t x, std::uint32_t y, int c) {
        return static_cast<std::uint8_t>((x * 7 + y * 13 + c * 50) % 256);
    };
    const Bytes whole = test::MakeJpeg(s);
    const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2));
    RasterImage full;
    ASSERT_TRUE(test::DecodeBytes(full, whole, kFormatJpeg));
    RasterImage image;
    ASSERT_TRUE(test::DecodeBytes(image, cut, kFormatJpeg)) << image.ErrorText();
    EXPECT_EQ(image.Width(), 96);
    EXPECT_EQ(image.Height(), 96);
    // The top of the picture arrived whole; the rows past the data stay zero.
    for (std::int32_t y = 95; y >= 88; --y) {
        for (std::int32_t x = 0; x < 96; ++x) {
            ASSERT_EQ(image.PixelColor(x, y), full.PixelColor(x, y)) << x << "," << y;
        }
    }
    for (std::int32_t y = 0; y < 8; ++y) {
        for (std::int32_t x = 0; x < 96; ++x) {
            ASSERT_EQ(image.PixelColor(x, y), RgbQuad{}) << x << "," << y;
        }
    }
}

bool RowIsZero(const RasterImage& image, std::uint32_t row) {
    const std::uint8_t* pixels = image.RowPointer(row);
    return std::all_of(pixels, pixels + image.RowBytes(), [](std::uint8_t b) { return b == 0; });
}

// Data that ends before the picture's last row: cut short, or ended by an
// honest end-of-image marker long before the size the header claims. The
// reader pads with zero rows for its ordinary callers and refuses the file
// when the caller asks for whole data; a complete file passes both ways.
TEST(JpegReader, DataEndingBeforeTheLastRowIsPaddedOrRefusedAsTheCallerAsks) {
    for (bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "baseline");
        const Bytes whole = test::JpegClaiming(64, 64, progressive, 0);
        // Cut inside the first scan (a progressive file's is short).
        const Bytes cut = test::JpegClaiming(64, 64, progressive, progressive ? 40 : 120);
        const Bytes tall = test::JpegClaiming(64, 640, progressive, 0);
        const Bytes huge = test::JpegClaiming(6000, 6000, progressive, 300);
        for (const Bytes* file : {&whole, &cut, &tall, &huge}) {
            const bool complete = file == &whole;
            RasterImage padded;
            ASSERT_TRUE(test::DecodeBytes(padded, *file, kFormatJpeg)) << padded.ErrorText();
            EXPECT_EQ(RowIsZero(padded, 0), !complete);
            RasterImage strict;
            strict.SetReadLimits(ReadLimits{0, 0, true});
            EXPECT_EQ(test::DecodeBytes(strict, *file, kFormatJpeg), complete);
            if (!complete) {
                EXPECT_STREQ(strict.ErrorText(), "JPEG: the data ends before the last row");
                EXPECT_FALSE(strict.HasPixels());
            }
        }
        // Rows with data come out as a whole file gives them.
        RasterImage full;
        RasterImage top;
        ASSERT_TRUE(test::DecodeBytes(full, whole, kFormatJpeg));
        ASSERT_TRUE(test::DecodeBytes(top, tall, kFormatJpeg));
        for (std::int32_t y = 0; y < 48; ++y) {
            for (std::int32_t x = 0; x < 64; ++x) {
                ASSERT_EQ(top.PixelColor(x, 639 - y), full.PixelColor(x, 63 - y)) << x << "," << y;
            }
        }
    }
}

TEST(JpegReader, EveryTruncationEndsWithoutCrashing) {
    JpegSample s = Quadrants();
    s.progressive = true;
    const Bytes whole = test::MakeJpeg(s);
    for (std::size_t length = 0; length < whole.size(); ++length) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        RasterImage image(2, 2, 24, 4);
        if (test::DecodeBytes(image, cut, kFormatJpeg)) {
            ASSERT_EQ(image.Width(), 32) << length;
            ASSERT_EQ(image.Height(), 32) << length;
        } else {
            ASSERT_STRNE(image.ErrorText(), "") << length;
            ASSERT_EQ(image.Width(), 2) << length;
        }
    }
    RasterImage empty;
    EXPECT_FALSE(test::DecodeBytes(empty, Bytes{}, kFormatJpeg));
    EXPECT_STRNE(empty.ErrorText(), "");
}

TEST(JpegReader, HeaderOnlyAndReaderOptions) {
    const Bytes file = test::MakeJpeg(Quadrants());
    RasterImage header;
    header.SetEscape(-1);
    ASSERT_TRUE(test::DecodeBytes(header, file, kFormatJpeg));
    EXPECT_FALSE(header.HasPixels());
    EXPECT_EQ(header.Width(), 32);
    EXPECT_EQ(header.FormatId(), 3u);

    RasterImage grey;
    grey.SetCodecFlags(JpegCodec::kJpegGreyOutput, kFormatJpeg);
    ASSERT_TRUE(test::DecodeBytes(grey, file, kFormatJpeg));
    EXPECT_EQ(grey.BitsPerPixel(), 8);

    RasterImage scaled;
    scaled.SetJpegScale(4);
    ASSERT_TRUE(test::DecodeBytes(scaled, file, kFormatJpeg));
    EXPECT_EQ(scaled.Width(), 8);
    EXPECT_EQ(scaled.Height(), 8);
}

TEST(JpegReader, ImagesTooLargeForThePixelBlockAreRefusedBeforeDecoding) {
    for (bool progressive : {false, true}) {
        JpegSample s = Quadrants();
        s.progressive = progressive;
        const Bytes huge = test::JpegWithClaimedSize(test::MakeJpeg(s), 65000, 65000);
        RasterImage image;
        EXPECT_FALSE(test::DecodeBytes(image, huge, kFormatJpeg));
        EXPECT_STREQ(image.ErrorText(), "RasterImage::Create can't allocate memory");

        // Within 32 bits but beyond the configured limit.
        struct LimitGuard {
            LimitGuard() { SetPixelBlockLimit(1u << 20); }
            ~LimitGuard() { SetPixelBlockLimit(0); }
        } limit;
        const Bytes large = test::JpegWithClaimedSize(test::MakeJpeg(s), 4000, 4000);
        EXPECT_FALSE(test::DecodeBytes(image, large, kFormatJpeg));
        EXPECT_STREQ(image.ErrorText(), "RasterImage::Create can't allocate memory");
    }
}

struct ResolutionCase {
    const char* name;
    Bytes exif;
    int densityUnit;
    std::uint16_t xDensity, yDensity;
    std::int32_t xDpi, yDpi;
};

TEST(JpegReader, ResolutionFromExifElseFromJfif) {
    const ResolutionCase cases[] = {
        {"EXIF inches", test::MakeExif(false, 300, 1, 150, 1, 2), 1, 72, 72, 300, 150},
        {"EXIF no unit counts as inches", test::MakeExif(true, 600, 2, 200, 1, 1), 1, 72, 72, 300,
         200},
        {"EXIF centimetres", test::MakeExif(true, 100, 1, 40, 1, 3), 0, 1, 1, 254, 101},
        {"EXIF millimetres", test::MakeExif(false, 10, 1, 10, 1, 4), 0, 1, 1, 254, 254},
        // An EXIF block wins even when it gives nothing usable.
        {"EXIF unknown unit", test::MakeExif(false, 300, 1, 300, 1, 9), 1, 200, 200, 96, 96},
        {"EXIF zero resolution", test::MakeExif(false, 0, 1, 300, 1, 2), 1, 200, 200, 96, 300},
        {"EXIF large and oversized", test::MakeExif(false, 3000000, 1, 4000000000u, 1, 2), 1, 72,
         72, 3000000, 96},
        {"JFIF dots per inch", {}, 1, 300, 150, 300, 150},
        {"JFIF dots per centimetre", {}, 2, 100, 40, 254, 102},
        {"JFIF aspect ratio", {}, 0, 2, 3, 96, 144},
        {"JFIF zero density", {}, 1, 0, 0, 96, 96},
    };
    for (const ResolutionCase& c : cases) {
        SCOPED_TRACE(c.name);
        JpegSample s;
        s.sample = [](std::uint32_t, std::uint32_t, int) { return std::uint8_t{90}; };
        s.exif = c.exif;
        s.densityUnit = c.densityUnit;
        s.xDensity = c.xDensity;
        s.yDensity = c.yDensity;
        RasterImage image;
        ASSERT_TRUE(test::DecodeBytes(image, test::MakeJpeg(s), kFormatJpeg));
        EXPECT_EQ(image.HorizontalDpi(), c.xDpi);
        EXPECT_EQ(image.VerticalDpi(), c.yDpi);
    }
}

TEST(ExifReader, DamagedBlocksAreIgnored) {
    Bytes good = test::MakeExif(false, 300, 1, 300, 1, 2);
    ExifReader reader;
    ASSERT_TRUE(reader.Parse(good.data(), good.size()));
    EXPECT_DOUBLE_EQ(reader.Record().xResolution, 300.0);
    EXPECT_EQ(reader.Record().resolutionUnit, 2);
    // Every shortened block parses or is refused, never read past its end
    // (the sanitizer build checks the reads).
    for (std::size_t length = 0; length < good.size(); ++length) {
        Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
        ExifReader partial;
        partial.Parse(cut.data(), cut.size());
    }
    Bytes wrongOrder = good;
    wrongOrder[6] = 'X';
    EXPECT_FALSE(ExifReader().Parse(wrongOrder.data(), wrongOrder.size()));
    Bytes farDirectory = good;
    farDirectory[10] = 0xF0; // first directory offset beyond the block
    EXPECT_FALSE(ExifReader().Parse(farDirectory.data(), farDirectory.size()));
}

TEST(JpegWriter, ColourAndGreyGoOutOtherDepthsAreRefused) {
    RasterImage colour(40, 24, 24, 0);
    test::FillPattern(colour);
    colour.SetHorizontalDpi(300);
    colour.SetVerticalDpi(200);
    colour.SetQuality(100.0f);
    RasterImage back;
    ASSERT_TRUE(test::DecodeBytes(back, test::EncodeBytes(colour, kFormatJpeg), kFormatJpeg));
    EXPECT_EQ(back.Width(), 40);
    EXPECT_EQ(back.Height(), 24);
    EXPECT_EQ(back.HorizontalDpi(), 300);
    EXPECT_EQ(back.VerticalDpi(), 200);
    ExpectNear(back.PixelColor(20, 3), colour.PixelColor(20, 3), 12);

    RasterImage grey(16, 16, 8, 0);
    grey.SetGreyRamp();
    test::FillPattern(grey);
    ASSERT_TRUE(test::DecodeBytes(back, test::EncodeBytes(grey, kFormatJpeg), kFormatJpeg));
    EXPECT_EQ(back.BitsPerPixel(), 8);

    for (std::uint32_t depth : {1u, 4u, 8u}) {
        RasterImage palette(8, 8, depth, 0);
        palette.SetPaletteEntry(1, RgbQuad{0, 0, 255, 0});
        EXPECT_TRUE(test::EncodeBytes(palette, kFormatJpeg).empty()) << depth;
        EXPECT_STREQ(palette.ErrorText(), "JPEG can save only RGB or GreyScale images");
    }
}

} // namespace
} // namespace quiltara
