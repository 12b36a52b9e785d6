#include "image/PngCodec.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <utility>

#include "CodecSamples.h"
#include "FillingStream.h"
#include "HostileSamples.h"
#include "TestPaths.h"
#include "image/MemoryStream.h"
#include "image/RgbaReadback.h"

namespace quiltara {
namespace {

using test::Bytes;
using test::PngSample;

PngSample Palette8(std::vector<std::uint8_t> opacity) {
    PngSample s;
    s.colorType = PNG_COLOR_TYPE_PALETTE;
    for (int i = 0; i < 4; ++i) {
        s.palette.insert(s.palette.end(), {static_cast<std::uint8_t>(10 * i), 200, 30});
    }
    s.paletteOpacity = std::move(opacity);
    s.sample = [](std::uint32_t x, std::uint32_t y, int) { return (x + y) % 4; };
    return s;
}

TEST(PngReader, OneTransparentPaletteEntryBecomesTheTransparentIndex) {
    RasterImage image;
    ASSERT_TRUE(test::DecodeBytes(image, test::MakePng(Palette8({0})), kFormatPng));
    EXPECT_EQ(image.BitsPerPixel(), 8);
    EXPECT_EQ(image.TransparentIndex(), 0);
    EXPECT_FALSE(image.PaletteHasAlpha());
    EXPECT_EQ(image.ImportantColorCount(), 4u);
    EXPECT_EQ(image.PaletteEntry(3), (RgbQuad{30, 200, 30, 0}));
    // Pixel (0, 0) of the picture's top row holds index 0.
    EXPECT_TRUE(image.IsTransparentAt(0, 7));
    EXPECT_FALSE(image.IsTransparentAt(1, 7));
}

TEST(PngReader, SeveralPaletteOpacitiesGoToTheReservedBytes) {
    RasterImage image;
    ASSERT_TRUE(test::DecodeBytes(image, test::MakePng(Palette8({0, 100, 200})), kFormatPng));
    EXPECT_TRUE(image.PaletteHasAlpha());
    EXPECT_EQ(image.TransparentIndex(), -1);
    EXPECT_EQ(image.PaletteEntry(0).reserved, 0);
    EXPECT_EQ(image.PaletteEntry(1).reserved, 100);
    EXPECT_EQ(image.PaletteEntry(2).reserved, 200);
    EXPECT_EQ(image.PaletteEntry(3).reserved, 255);
    EXPECT_EQ(image.PaletteEntry(255).reserved, 255);
}

TEST(PngReader, OnePartlyOpaqueEntryIsAnOpacityNotATransparentIndex) {
    RasterImage image;
    ASSERT_TRUE(test::DecodeBytes(image, test::MakePng(Palette8({128})), kFormatPng));
    EXPECT_EQ(image.TransparentIndex(), -1);
    EXPECT_TRUE(image.PaletteHasAlpha());
    EXPECT_EQ(image.PaletteEntry(0).reserved, 128);
    EXPECT_EQ(image.PaletteEntry(1).reserved, 255);
    EXPECT_FALSE(image.IsTransparentAt(0, 7));
}

TEST(PngReader, RgbaGivesAlphaPlaneAndBlueGreenRedPixels) {
    PngSample s;
    s.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    s.width = 5;
    s.height = 3;
    s.sample = [](std::uint32_t x, std::uint32_t y, int c) {
        return static_cast<std::uint16_t>(c == 3 ? x * 50 : 10 * c + x + 100 * y);
    };
    RasterImage image;
    ASSERT_TRUE(test::DecodeBytes(image, test::MakePng(s), kFormatPng));
    EXPECT_EQ(image.BitsPerPixel(), 24);
    ASSERT_TRUE(image.HasAlpha());
    EXPECT_EQ(image.TransparentIndex(), -1);
    // Top row of the picture is stored row 2.
    EXPECT_EQ(image.PixelColor(3, 2), (RgbQuad{23, 13, 3, 0}));
    EXPECT_EQ(image.PixelColor(3, 0), (RgbQuad{223, 213, 203, 0}));
    EXPECT_EQ(image.AlphaAt(4, 0), 200);
    EXPECT_EQ(image.AlphaAt(0, 1), 0);
}

TEST(PngReader, SixteenBitSamplesKeepTheirHighByte) {
    PngSample s;
    s.bitDepth = 16;
    s.colorType = PNG_COLOR_TYPE_RGB;
    s.rgbKey[0] = 0x1234;
    s.rgbKey[1] = 0x5678;
    s.rgbKey[2] = 0x9ABC;
    s.sample = [](std::uint32_t x, std::uint32_t, int c) {
        return static_cast<std::uint16_t>((x * 30 + c) << 8 | 0xFF);
    };
    RasterImage image;
    ASSERT_TRUE(test::DecodeBytes(image, test::MakePng(s), kFormatPng));
    EXPECT_EQ(image.BitsPerPixel(), 24);
    EXPECT_EQ(image.PixelColor(2, 0), (RgbQuad{62, 61, 60, 0}));
    EXPECT_EQ(image.TransparentIndex(), 0);
    EXPECT_EQ(image.TransparentColor(), (RgbQuad{0x9A, 0x56, 0x12, 0}));
}

TEST(PngReader, SixteenBitGreyBecomesEightBitWithShiftedKey) {
    PngSample s;
    s.bitDepth = 16;
    s.colorType = PNG_COLOR_TYPE_GRAY;
    s.greyKey = 0x3400;
    s.sample = [](std::uint32_t x, std::uint32_t y, int) {
        return static_cast<std::uint16_t>((x + 8 * y) * 0x0401);
    };
    RasterImage image;
    ASSERT_TRUE(test::DecodeBytes(image, test::MakePng(s), kFormatPng));
    EXPECT_EQ(image.BitsPerPixel(), 8);
    EXPECT_TRUE(image.IsGreyRamp());
    EXPECT_EQ(image.TransparentIndex(), 0x34);
    EXPECT_EQ(image.PixelIndex(3, 7), 12); // top row: (3 * 0x0401) >> 8
}

TEST(PngReader, TwoBitGreyBecomesFourBitWithFourGreys) {
    PngSample s;
    s.bitDepth = 2;
    s.colorType = PNG_COLOR_TYPE_GRAY;
    s.width = 13; // not a whole number of bytes
    s.sample = [](std::uint32_t x, std::uint32_t y, int) {
        return static_cast<std::uint16_t>((x + y) % 4);
    };
    for (bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced ? "interlaced" : "plain");
        s.interlaced = interlaced;
        RasterImage image;
        ASSERT_TRUE(test::DecodeBytes(image, test::MakePng(s), kFormatPng));
        EXPECT_EQ(image.BitsPerPixel(), 4);
        EXPECT_EQ(image.ColorCount(), 16u);
        for (std::uint8_t i = 0; i < 4; ++i) {
            const auto grey = static_cast<std::uint8_t>(85 * i);
            EXPECT_EQ(image.PaletteEntry(i), (RgbQuad{grey, grey, grey, 0}));
        }
        for (std::int32_t y = 0; y < 8; ++y) {
            for (std::int32_t x = 0; x < 13; ++x) {
                ASSERT_EQ(image.PixelIndex(x, 7 - y), (x + y) % 4) << x << "," << y;
            }
        }
    }
}

// Each pass touches only its own rows; every kind of file, of sizes that
// leave some passes empty, still gives the pixels of its plain twin.
TEST(PngReader, InterlacedFileSetsTheOptionWordAndDecodesLikePlain) {
    struct Kind {
        int colorType;
        int bitDepth;
    };
    const Kind kinds[] = {{PNG_COLOR_TYPE_RGB_ALPHA, 8},   {PNG_COLOR_TYPE_RGB, 8},
                          {PNG_COLOR_TYPE_RGB, 16},        {PNG_COLOR_TYPE_GRAY_ALPHA, 8},
                          {PNG_COLOR_TYPE_GRAY_ALPHA, 16}, {PNG_COLOR_TYPE_GRAY, 1},
                          {PNG_COLOR_TYPE_GRAY, 2},        {PNG_COLOR_TYPE_GRAY, 16},
                          {PNG_COLOR_TYPE_PALETTE, 4},     {PNG_COLOR_TYPE_PALETTE, 8}};
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{11, 9}, {1, 1}, {3, 17}, {33, 2}};
    for (const Kind& kind : kinds) {
        for (const auto& [width, height] : sizes) {
            SCOPED_TRACE(testing::Message() << "colour type " << kind.colorType << ", depth "
                                            << kind.bitDepth << ", " << width << "x" << height);
            PngSample s;
            s.width = width;
            s.height = height;
            s.colorType = kind.colorType;
            s.bitDepth = kind.bitDepth;
            if (kind.colorType == PNG_COLOR_TYPE_PALETTE) {
                for (int i = 0; i < (1 << kind.bitDepth); ++i) {
                    s.palette.insert(s.palette.end(), {static_cast<std::uint8_t>(i * 13), 90,
                                                       static_cast<std::uint8_t>(255 - i)});
                }
            }
            const std::uint32_t top = (1u << kind.bitDepth) - 1;
            s.sample = [top](std::uint32_t x, std::uint32_t y, int c) {
                return static_cast<std::uint16_t>((x * 17 + y * 29 + c * 61) % (top + 1));
            };
            RasterImage plain;
            ASSERT_TRUE(test::DecodeBytes(plain, test::MakePng(s), kFormatPng));
            EXPECT_EQ(plain.CodecFlags(kFormatPng), 0u);
            s.interlaced = true;
            RasterImage interlaced;
            ASSERT_TRUE(test::DecodeBytes(interlaced, test::MakePng(s), kFormatPng));
            EXPECT_EQ(interlaced.CodecFlags(kFormatPng), 1u);
            EXPECT_EQ(interlaced.BitsPerPixel(), plain.BitsPerPixel());
            EXPECT_EQ(RgbaReadback(interlaced), RgbaReadback(plain));
            for (std::uint32_t y = 0; y < height; ++y) {
                ASSERT_EQ(
                    std::memcmp(interlaced.RowPointer(y), plain.RowPointer(y), plain.RowBytes()), 0)
                    << "stored row " << y;
            }
        }
    }
}

TEST(PngReader, ResolutionFromThePhysicalSizeChunk) {
    PngSample s;
    s.sample = [](std::uint32_t, std::uint32_t, int) { return std::uint16_t{0}; };
    RasterImage none;
    ASSERT_TRUE(test::DecodeBytes(none, test::MakePng(s), kFormatPng));
    EXPECT_EQ(none.HorizontalDpi(), 96);
    s.density = PngSample::Density{11811, 3937, PNG_RESOLUTION_METER};
    RasterImage metres;
    ASSERT_TRUE(test::DecodeBytes(metres, test::MakePng(s), kFormatPng));
    EXPECT_EQ(metres.HorizontalDpi(), 300);
    EXPECT_EQ(metres.VerticalDpi(), 100);
    s.density = PngSample::Density{3, 2, PNG_RESOLUTION_UNKNOWN};
    RasterImage aspect;
    ASSERT_TRUE(test::DecodeBytes(aspect, test::MakePng(s), kFormatPng));
    EXPECT_EQ(aspect.HorizontalDpi(), 3);
    EXPECT_EQ(aspect.VerticalDpi(), 2);
    // Large values are taken as they are while the signed field holds them.
    s.density = PngSample::Density{2000000, 0x80000000u, PNG_RESOLUTION_UNKNOWN};
    RasterImage large;
    ASSERT_TRUE(test::DecodeBytes(large, test::MakePng(s), kFormatPng));
    EXPECT_EQ(large.HorizontalDpi(), 2000000);
    EXPECT_EQ(large.VerticalDpi(), 96);
    s.density = PngSample::Density{100000000, 1, PNG_RESOLUTION_METER};
    RasterImage fine;
    ASSERT_TRUE(test::DecodeBytes(fine, test::MakePng(s), kFormatPng));
    EXPECT_EQ(fine.HorizontalDpi(), 2540000);
    EXPECT_EQ(fine.VerticalDpi(), 96);
}

TEST(PngReader, HeaderOnlyRequestGivesSizeWithoutPixels) {
    PngSample s;
    s.width = 300;
    s.height = 7;
    s.sample = [](std::uint32_t, std::uint32_t, int) { return std::uint16_t{1}; };
    RasterImage image;
    image.SetEscape(-1);
    ASSERT_TRUE(test::DecodeBytes(image, test::MakePng(s), kFormatPng));
    EXPECT_FALSE(image.HasPixels());
    EXPECT_EQ(image.Width(), 300);
    EXPECT_EQ(image.Height(), 7);
    EXPECT_EQ(image.FormatId(), 4u);
}

TEST(PngReader, AStopRequestFailsTheRead) {
    PngSample s;
    s.sample = [](std::uint32_t, std::uint32_t, int) { return std::uint16_t{1}; };
    RasterImage image;
    image.SetEscape(1);
    EXPECT_FALSE(test::DecodeBytes(image, test::MakePng(s), kFormatPng));
    EXPECT_FALSE(image.HasPixels());
}

TEST(PngReader, EveryTruncationFailsCleanlyAndLeavesTheImage) {
    PngSample s;
    s.width = 20;
    s.height = 20;
    s.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    s.interlaced = true;
    s.sample = [](std::uint32_t x, std::uint32_t y, int c) {
        return static_cast<std::uint16_t>((x * y + c * 77) % 256);
    };
    const Bytes whole = test::MakePng(s);
    RasterImage image(3, 3, 8, 4);
    for (std::size_t length = 0; length < whole.size(); ++length) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        ASSERT_FALSE(test::DecodeBytes(image, cut, kFormatPng)) << length;
        ASSERT_EQ(image.Width(), 3);
        ASSERT_STRNE(image.ErrorText(), "");
    }
    EXPECT_STREQ(image.ErrorText(), "Read Error");
    EXPECT_TRUE(test::DecodeBytes(image, whole, kFormatPng));
}

TEST(PngReader, AbsurdClaimedSizesAreRefusedWithoutCrashing) {
    PngSample s;
    s.sample = [](std::uint32_t, std::uint32_t, int) { return std::uint16_t{1}; };
    const Bytes small = test::MakePng(s);
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {
        {0x7FFFFFFF, 0x7FFFFFFF}, {1000000, 1000000}, {60000, 60000}, {0, 5}, {5, 0}};
    for (const auto& [width, height] : sizes) {
        SCOPED_TRACE(testing::Message() << width << "x" << height);
        RasterImage image;
        EXPECT_FALSE(test::DecodeBytes(image, test::PngClaiming(small, width, height), kFormatPng));
        EXPECT_FALSE(image.HasPixels());
        EXPECT_STRNE(image.ErrorText(), "");
    }
}

// Reads back the chunks a file carries, for the writer's tests.
struct ChunkView {
    bool hasBackground = false;
    png_color_16 background{};
    bool hasTransparency = false;
    int transparencyCount = 0;
    png_color_16 transparency{};
    std::vector<std::uint8_t> opacity;
    std::uint32_t xPerMetre = 0;
    int unit = -1;
    int colorType = -1;
    int bitDepth = 0;
    int interlace = -1;
    int paletteCount = 0;
};

bool ReadChunks(png_structp png, png_infop info, ChunkView& view) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_read_info(png, info);
    view.colorType = png_get_color_type(png, info);
    view.bitDepth = png_get_bit_depth(png, info);
    view.interlace = png_get_interlace_type(png, info);
    png_color_16p background = nullptr;
    if (png_get_bKGD(png, info, &background) != 0) {
        view.hasBackground = true;
        view.background = *background;
    }
    png_bytep alpha = nullptr;
    png_color_16p key = nullptr;
    if (png_get_tRNS(png, info, &alpha, &view.transparencyCount, &key) != 0) {
        view.hasTransparency = true;
        if (key != nullptr) {
            view.transparency = *key;
        }
        if (alpha != nullptr && view.colorType == PNG_COLOR_TYPE_PALETTE) {
            view.opacity.assign(alpha, alpha + view.transparencyCount);
        }
    }
    png_uint_32 y = 0;
    png_get_pHYs(png, info, &view.xPerMetre, &y, &view.unit);
    png_colorp palette = nullptr;
    png_get_PLTE(png, info, &palette, &view.paletteCount);
    return true;
}

ChunkView Chunks(const Bytes& file) {
    ChunkView view;
    Bytes copy = file;
    MemoryStream stream(copy.data(), static_cast<std::uint32_t>(copy.size()));
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_read_fn(png, &stream, [](png_structp p, png_bytep data, std::size_t n) {
        static_cast<MemoryStream*>(png_get_io_ptr(p))->Read(data, 1, n);
    });
    const bool ok = ReadChunks(png, info, view);
    png_destroy_read_struct(&png, &info, nullptr);
    EXPECT_TRUE(ok);
    return view;
}

TEST(PngWriter, MapOutputsCarryWhiteOrIndexBackgroundAndNinetySixDpi) {
    RasterImage rgb(40, 30, 24, 4);
    test::FillPattern(rgb);
    const ChunkView colour = Chunks(test::EncodeBytes(rgb, kFormatPng));
    EXPECT_EQ(colour.colorType, PNG_COLOR_TYPE_RGB);
    EXPECT_EQ(colour.bitDepth, 8);
    EXPECT_EQ(colour.interlace, PNG_INTERLACE_NONE);
    EXPECT_TRUE(colour.hasBackground);
    EXPECT_EQ(colour.background.red, 255);
    EXPECT_EQ(colour.background.green, 255);
    EXPECT_EQ(colour.background.blue, 255);
    EXPECT_EQ(colour.xPerMetre, 3780u);
    EXPECT_EQ(colour.unit, PNG_RESOLUTION_METER);
    EXPECT_FALSE(colour.hasTransparency);

    RasterImage palette(40, 30, 8, 4);
    palette.SetPaletteEntry(1, RgbQuad{1, 2, 3, 0});
    test::FillPattern(palette);
    const ChunkView indexed = Chunks(test::EncodeBytes(palette, kFormatPng));
    EXPECT_EQ(indexed.colorType, PNG_COLOR_TYPE_PALETTE);
    EXPECT_EQ(indexed.paletteCount, 256);
    EXPECT_TRUE(indexed.hasBackground);
    EXPECT_EQ(indexed.background.index, 0);
    EXPECT_FALSE(indexed.hasTransparency);
}

TEST(PngWriter, TransparentPaletteEntryIsWrittenAsEntryZeroAndTheImageIsRestored) {
    RasterImage image(9, 5, 4, 4);
    for (std::uint8_t i = 0; i < 16; ++i) {
        image.SetPaletteEntry(i, RgbQuad{i, static_cast<std::uint8_t>(2 * i), 77, 0});
    }
    test::FillPattern(image);
    image.SetTransparentIndex(6);
    const RasterImage before(image);
    const Bytes file = test::EncodeBytes(image, kFormatPng);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(std::memcmp(image.PixelBlock(), before.PixelBlock(), image.BlockSize()), 0);

    const ChunkView chunks = Chunks(file);
    EXPECT_EQ(chunks.transparencyCount, 1);
    ASSERT_EQ(chunks.opacity.size(), 1u);
    EXPECT_EQ(chunks.opacity[0], 0);
    EXPECT_EQ(chunks.background.red, 77); // the transparent entry's colour
    EXPECT_EQ(chunks.background.green, 12);

    RasterImage back;
    ASSERT_TRUE(test::DecodeBytes(back, file, kFormatPng));
    EXPECT_EQ(back.TransparentIndex(), 0);
    EXPECT_EQ(RgbaReadback(back), RgbaReadback(image));
}

TEST(PngWriter, TransparentIndexOutsideThePaletteMakesNothingTransparent) {
    // No pixel can hold such an index, so entry 0 must not be marked in its place.
    for (const auto& [depth, index] : {std::pair{4, 20}, std::pair{8, 300}}) {
        SCOPED_TRACE(depth);
        RasterImage image(7, 4, static_cast<std::uint32_t>(depth), 4);
        for (std::uint32_t i = 0; i < image.ColorCount(); ++i) {
            image.SetPaletteEntry(static_cast<std::uint8_t>(i),
                                  RgbQuad{static_cast<std::uint8_t>(i), 40, 90, 0});
        }
        test::FillPattern(image);
        image.SetTransparentIndex(index);
        const Bytes file = test::EncodeBytes(image, kFormatPng);
        ASSERT_FALSE(file.empty()) << image.ErrorText();
        EXPECT_FALSE(Chunks(file).hasTransparency);
        RasterImage back;
        ASSERT_TRUE(test::DecodeBytes(back, file, kFormatPng));
        EXPECT_EQ(RgbaReadback(back), RgbaReadback(image));
    }
}

TEST(PngWriter, PaletteCoversEveryIndexThePixelsUse) {
    RasterImage image(5, 3, 4, 4);
    for (std::uint8_t i = 0; i < 16; ++i) {
        image.SetPaletteEntry(i, RgbQuad{i, 0, 0, 0});
    }
    image.SetImportantColorCount(2);
    image.PutPixelIndex(4, 2, 9);
    const Bytes file = test::EncodeBytes(image, kFormatPng);
    ASSERT_FALSE(file.empty()) << image.ErrorText();
    EXPECT_EQ(Chunks(file).paletteCount, 10);
    RasterImage back;
    ASSERT_TRUE(test::DecodeBytes(back, file, kFormatPng));
    EXPECT_EQ(back.PixelIndex(4, 2), 9);
    EXPECT_EQ(back.PaletteEntry(9).blue, 9);
}

TEST(PngWriter, GreyKeyNamesTheGreyValue) {
    RasterImage image(6, 6, 8, 4);
    image.SetGreyRamp();
    test::FillPattern(image);
    image.SetTransparentIndex(20);
    const Bytes file = test::EncodeBytes(image, kFormatPng);
    const ChunkView chunks = Chunks(file);
    EXPECT_EQ(chunks.colorType, PNG_COLOR_TYPE_GRAY);
    EXPECT_EQ(chunks.transparency.gray, 20);
    RasterImage back;
    ASSERT_TRUE(test::DecodeBytes(back, file, kFormatPng));
    EXPECT_EQ(back.TransparentIndex(), 20);
}

TEST(PngWriter, OptionWordOneWritesAdam7) {
    RasterImage image(13, 11, 24, 4);
    test::FillPattern(image);
    image.SetCodecFlags(1, kFormatPng);
    const Bytes file = test::EncodeBytes(image, kFormatPng);
    EXPECT_EQ(Chunks(file).interlace, PNG_INTERLACE_ADAM7);
    RasterImage back;
    ASSERT_TRUE(test::DecodeBytes(back, file, kFormatPng));
    EXPECT_EQ(back.CodecFlags(kFormatPng), 1u);
    EXPECT_EQ(RgbaReadback(back), RgbaReadback(image));
}

// libpng's own message ends up in the error text, and nothing on the console.
TEST(PngWriter, WriteAndFlushFailuresEndWithTheSaveTextAndLibpngsReason) {
    RasterImage image(64, 64, 24, 4);
    test::FillPattern(image);
    ASSERT_GT(test::EncodeBytes(image, kFormatPng).size(), 200u);
    testing::internal::CaptureStderr();
    for (std::uint32_t accepted : {0u, 8u, 33u, 200u}) {
        test::FillingStream stream(accepted);
        image.SetErrorText("");
        EXPECT_FALSE(image.Encode(&stream, kFormatPng)) << accepted;
        EXPECT_STREQ(image.ErrorText(), "Error saving PNG file: Write Error");
    }
    test::FillingStream noFlush(std::size_t{1} << 30, true);
    EXPECT_FALSE(image.Encode(&noFlush, kFormatPng));
    EXPECT_STREQ(image.ErrorText(), "Error saving PNG file: Flush Error");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// The format allows 2^31 - 1 pixels a side; libpng's default bound of a
// million would refuse a map more than 3906 tiles wide, and its read-back.
TEST(PngWriter, SidesBeyondAMillionPixelsAreWrittenAndReadBack) {
    for (const auto& [width, height] : {std::pair{8391425u, 7u}, std::pair{3u, 1000001u}}) {
        SCOPED_TRACE(testing::Message() << width << "x" << height);
        RasterImage image(width, height, 1, 4);
        ASSERT_TRUE(image.HasPixels());
        image.SetPaletteEntry(1, RgbQuad{10, 20, 30, 0});
        image.PutPixelIndex(static_cast<std::int32_t>(width) - 1,
                            static_cast<std::int32_t>(height) - 1, 1);
        testing::internal::CaptureStderr();
        const Bytes file = test::EncodeBytes(image, kFormatPng);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        ASSERT_FALSE(file.empty()) << image.ErrorText();
        RasterImage back;
        ASSERT_TRUE(test::DecodeBytes(back, file, kFormatPng)) << back.ErrorText();
        EXPECT_EQ(back.Width(), static_cast<std::int32_t>(width));
        EXPECT_EQ(back.Height(), static_cast<std::int32_t>(height));
        EXPECT_EQ(back.PixelIndex(static_cast<std::int32_t>(width) - 1,
                                  static_cast<std::int32_t>(height) - 1),
                  1);
        EXPECT_EQ(back.PixelIndex(0, 0), 0);
    }
}

} // namespace
} // namespace quiltara
