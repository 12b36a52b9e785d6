#include "image/GifCodec.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include "CodecSamples.h"

namespace quiltara {
namespace {

using test::Bytes;

int Append(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

// A 6 x 10 screen with background index 2 and a 4 x 9 frame at (1, 1) whose
// row r is filled with index r; the frame's lines are stored in the
// interlaced order when asked.
Bytes FramedGif(bool interlaced, int transparent) {
    Bytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, Append, &error);
    GifColorType colours[16];
    for (int i = 0; i < 16; ++i) {
        colours[i] = GifColorType{static_cast<GifByteType>(i * 10), 7, 9};
    }
    ColorMapObject* map = GifMakeMapObject(16, colours);
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, 6, 10, 4, 2, map);
    if (transparent >= 0) {
        GraphicsControlBlock control{};
        control.TransparentColor = transparent;
        GifByteType extension[4];
        EGifGCBToExtension(&control, extension);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension);
    }
    EGifPutImageDesc(gif, 1, 1, 4, 9, interlaced, nullptr);
    std::vector<int> order;
    if (interlaced) {
        for (int start : {0, 4, 2, 1}) {
            for (int r = start; r < 9; r += start == 0 ? 8 : (start == 1 ? 2 : start * 2)) {
                order.push_back(r);
            }
        }
    } else {
        for (int r = 0; r < 9; ++r) {
            order.push_back(r);
        }
    }
    for (int r : order) {
        GifPixelType line[4] = {static_cast<GifPixelType>(r), static_cast<GifPixelType>(r),
                                static_cast<GifPixelType>(r), static_cast<GifPixelType>(r)};
        EGifPutLine(gif, line, 4);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

TEST(GifReader, FrameOnTheScreenInPlainAndInterlacedOrder) {
    for (bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced ? "interlaced" : "plain");
        RasterImage image;
        ASSERT_TRUE(test::DecodeBytes(image, FramedGif(interlaced, -1), kFormatGif))
            << image.ErrorText();
        EXPECT_EQ(image.Width(), 6);
        EXPECT_EQ(image.Height(), 10);
        EXPECT_EQ(image.ImportantColorCount(), 16u);
        EXPECT_EQ(image.PaletteEntry(5), (RgbQuad{9, 7, 50, 0}));
        EXPECT_EQ(image.TransparentIndex(), -1);
        for (int top = 0; top < 10; ++top) {
            for (int x = 0; x < 6; ++x) {
                const bool inFrame = x >= 1 && x <= 4 && top >= 1;
                ASSERT_EQ(image.PixelIndex(x, 9 - top), inFrame ? top - 1 : 2) << x << "," << top;
            }
        }
    }
}

TEST(GifReader, TransparentIndexFillsTheScreenAroundTheFrame) {
    RasterImage image;
    ASSERT_TRUE(test::DecodeBytes(image, FramedGif(false, 11), kFormatGif));
    EXPECT_EQ(image.TransparentIndex(), 11);
    EXPECT_TRUE(image.IsTransparentAt(0, 0));
    EXPECT_FALSE(image.IsTransparentAt(1, 0));
}

TEST(GifReader, AbsurdScreensAndTruncationsAreSurvived) {
    Bytes huge = FramedGif(false, -1);
    huge[6] = huge[7] = huge[8] = huge[9] = 0xFF; // a 65535 x 65535 screen
    RasterImage image;
    ASSERT_TRUE(test::DecodeBytes(image, huge, kFormatGif)) << image.ErrorText();
    EXPECT_EQ(image.Width(), 4); // the picture alone
    EXPECT_EQ(image.Height(), 9);

    const Bytes whole = FramedGif(true, 3);
    for (std::size_t length = 0; length < whole.size(); ++length) {
        RasterImage cut(1, 1, 24, 7);
        const bool decoded = test::DecodeBytes(
            cut, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)),
            kFormatGif);
        if (!decoded) {
            ASSERT_EQ(cut.FormatId(), 7u) << length;
            ASSERT_STRNE(cut.ErrorText(), "") << length;
        }
    }
}

} // namespace
} // namespace quiltara
