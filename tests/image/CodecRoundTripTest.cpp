// SaveFile then LoadFile through each writer of the build gives the pixels
// back: palette indices and palettes where the format keeps them, colours,
// transparency and alpha.
#include <gtest/gtest.h>

#include <string>

#include "CodecSamples.h"
#include "TestPaths.h"
#include "image/RasterImage.h"
#include "image/RgbaReadback.h"

namespace quiltara {
namespace {

struct Kind {
    const char* name;
    std::uint32_t depth;
    bool grey;
    std::int32_t transparent; // -1: none
    bool alpha;
};

RasterImage MakeImage(const Kind& kind) {
    RasterImage image(37, 19, kind.depth, 0);
    if (kind.grey) {
        image.SetGreyRamp();
    } else {
        for (std::uint32_t i = 0; i < image.ColorCount(); ++i) {
            image.SetPaletteEntry(
                static_cast<std::uint8_t>(i),
                RgbQuad{static_cast<std::uint8_t>(i * 3), static_cast<std::uint8_t>(255 - i),
                        static_cast<std::uint8_t>(i * 7 + 1), 0});
        }
    }
    test::FillPattern(image);
    if (kind.transparent >= 0) {
        image.SetTransparentIndex(kind.transparent);
        if (kind.depth == 24) {
            image.SetTransparentColor(image.PixelColor(3, 4));
        }
    }
    if (kind.alpha) {
        image.CreateAlpha();
        for (std::int32_t y = 0; y < image.Height(); ++y) {
            for (std::int32_t x = 0; x < image.Width(); ++x) {
                image.SetAlphaAt(x, y, static_cast<std::uint8_t>(x * 11 + y));
            }
        }
    }
    return image;
}

const Kind kKinds[] = {
    {"1-bit palette", 1, false, -1, false},
    {"4-bit palette", 4, false, -1, false},
    {"8-bit palette", 8, false, -1, false},
    {"8-bit grey", 8, true, -1, false},
    {"24-bit", 24, false, -1, false},
    {"4-bit transparent index 0", 4, false, 0, false},
    {"8-bit transparent index 9", 8, false, 9, false},
    {"8-bit grey transparent index 40", 8, true, 40, false},
    {"24-bit transparent colour", 24, false, 0, false},
    {"24-bit alpha", 24, false, -1, true},
    {"8-bit grey alpha", 8, true, -1, true},
};

void ExpectSameIndices(const RasterImage& back, const RasterImage& image) {
    ASSERT_EQ(back.BitsPerPixel(), image.BitsPerPixel());
    for (std::uint32_t i = 0; i < image.ColorCount(); ++i) {
        const RgbQuad a = back.PaletteEntry(static_cast<std::uint8_t>(i));
        const RgbQuad b = image.PaletteEntry(static_cast<std::uint8_t>(i));
        ASSERT_EQ((RgbQuad{a.blue, a.green, a.red, 0}), (RgbQuad{b.blue, b.green, b.red, 0})) << i;
    }
    for (std::int32_t y = 0; y < image.Height(); ++y) {
        for (std::int32_t x = 0; x < image.Width(); ++x) {
            ASSERT_EQ(back.PixelIndex(x, y), image.PixelIndex(x, y)) << x << "," << y;
        }
    }
}

TEST(PngRoundTrip, EveryKindComesBackIdentical) {
    test::TempDir dir;
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        const RasterImage image = MakeImage(kind);
        RasterImage writer(image);
        const std::string path = (dir / "image.png").string();
        ASSERT_TRUE(writer.SaveFile(path, kFormatPng)) << writer.ErrorText();
        RasterImage back;
        ASSERT_TRUE(back.LoadFile(path, kFormatPng)) << back.ErrorText();
        EXPECT_EQ(back.FormatId(), 4u);
        EXPECT_EQ(back.Width(), image.Width());
        EXPECT_EQ(back.Height(), image.Height());
        EXPECT_EQ(back.HasAlpha(), image.HasAlpha());
        EXPECT_EQ(back.HasTransparentColor(), image.HasTransparentColor());
        EXPECT_EQ(RgbaReadback(back), RgbaReadback(image));
        const bool entriesSwapped = !kind.grey && kind.depth <= 8 && kind.transparent > 0;
        if (!kind.alpha && !entriesSwapped) {
            ExpectSameIndices(back, image);
            EXPECT_EQ(back.TransparentIndex(), image.TransparentIndex());
        }
    }
}

TEST(BmpRoundTrip, IndicesPalettesAndColoursComeBack) {
    for (const Kind& kind : kKinds) {
        if (kind.transparent >= 0 || kind.alpha) {
            continue; // a bitmap has neither
        }
        SCOPED_TRACE(kind.name);
        RasterImage image = MakeImage(kind);
        image.SetHorizontalDpi(300);
        RasterImage back;
        ASSERT_TRUE(test::DecodeBytes(back, test::EncodeBytes(image, kFormatBmp), kFormatBmp))
            << back.ErrorText();
        EXPECT_EQ(back.FormatId(), 1u);
        EXPECT_EQ(RgbaReadback(back), RgbaReadback(image));
        EXPECT_EQ(back.HorizontalDpi(), 300);
        if (kind.depth <= 8) {
            ExpectSameIndices(back, image);
        }
    }
}

TEST(GifRoundTrip, PaletteImagesAndTheirTransparentIndexComeBack) {
    for (const Kind& kind : kKinds) {
        if (kind.depth == 24 || kind.alpha) {
            continue;
        }
        SCOPED_TRACE(kind.name);
        const RasterImage image = MakeImage(kind);
        RasterImage writer(image);
        RasterImage back;
        ASSERT_TRUE(test::DecodeBytes(back, test::EncodeBytes(writer, kFormatGif), kFormatGif))
            << back.ErrorText();
        EXPECT_EQ(back.FormatId(), 2u);
        EXPECT_EQ(back.BitsPerPixel(), 8);
        EXPECT_EQ(back.TransparentIndex(), image.TransparentIndex());
        EXPECT_EQ(RgbaReadback(back), RgbaReadback(image));
    }
    RasterImage colour(4, 4, 24, 0);
    EXPECT_TRUE(test::EncodeBytes(colour, kFormatGif).empty());
    EXPECT_STREQ(colour.ErrorText(), "GIF can save only palette images");
}

TEST(TiffRoundTrip, ColoursAndAlphaComeBack) {
    for (const Kind& kind : kKinds) {
        if (kind.transparent >= 0) {
            continue; // keys are not kept in TIFF
        }
        SCOPED_TRACE(kind.name);
        RasterImage image = MakeImage(kind);
        image.SetVerticalDpi(150);
        RasterImage back;
        ASSERT_TRUE(test::DecodeBytes(back, test::EncodeBytes(image, kFormatTiff), kFormatTiff))
            << back.ErrorText();
        EXPECT_EQ(back.FormatId(), 6u);
        EXPECT_EQ(back.BitsPerPixel(), 24);
        EXPECT_EQ(back.HasAlpha(), image.HasAlpha());
        EXPECT_EQ(back.VerticalDpi(), 150);
        EXPECT_EQ(RgbaReadback(back), RgbaReadback(image));
    }
}

} // namespace
} // namespace quiltara
