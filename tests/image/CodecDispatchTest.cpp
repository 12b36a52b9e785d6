#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "CodecSamples.h"
#include "TestPaths.h"
#include "image/MemoryStream.h"
#include "image/RasterImage.h"
#include "image/RgbaReadback.h"

namespace quiltara {
namespace {

using test::Bytes;
using test::PngSample;

constexpr const char* kUnknownDecode = "Decode: Unknown or wrong format";

test::Bytes SampleJpeg() {
    test::JpegSample s;
    s.sample = [](std::uint32_t x, std::uint32_t y, int c) {
        return static_cast<std::uint8_t>(c == 0 ? 8 * x : (c == 1 ? 8 * y : 128));
    };
    return test::MakeJpeg(s);
}

// One small file of every format this build reads, written by its own writer
// (JPEG by bare libjpeg).
std::vector<std::pair<std::uint32_t, Bytes>> SampleFiles() {
    RasterImage palette(7, 5, 8, 0);
    palette.SetPaletteEntry(3, RgbQuad{1, 2, 3, 0});
    test::FillPattern(palette);
    RasterImage colour(7, 5, 24, 0);
    test::FillPattern(colour);
    return {
        {kFormatBmp, test::EncodeBytes(colour, kFormatBmp)},
        {kFormatJpeg, SampleJpeg()},
        {kFormatGif, test::EncodeBytes(palette, kFormatGif)},
        {kFormatPng, test::EncodeBytes(colour, kFormatPng)},
        {kFormatTiff, test::EncodeBytes(colour, kFormatTiff)},
    };
}

TEST(FormatIds, SlotsAndAcceptedIds) {
    for (std::uint32_t id = 0; id <= 15; ++id) {
        EXPECT_EQ(RasterImage::FormatSlot(id), id);
    }
    EXPECT_EQ(RasterImage::FormatSlot(16), 0u);
    EXPECT_EQ(RasterImage::FormatSlot(17), 16u);
    EXPECT_EQ(RasterImage::FormatSlot(18), 17u);
    EXPECT_EQ(RasterImage::FormatSlot(19), 18u);
    EXPECT_EQ(RasterImage::FormatSlot(20), 0u);
    EXPECT_EQ(RasterImage::FormatSlot(0xFFFFFFFF), 0u);

    RasterImage image(kFormatPng);
    for (std::uint32_t id : {1u, 9u, 15u, 17u, 19u}) {
        EXPECT_TRUE(image.SetFormatId(id));
        EXPECT_EQ(image.FormatId(), id);
    }
    for (std::uint32_t id : {0u, 16u, 20u}) {
        image.SetFormatId(kFormatPng);
        EXPECT_FALSE(image.SetFormatId(id));
        EXPECT_EQ(image.FormatId(), 0u);
    }
}

TEST(FormatIds, CodecFlagsFallBackToTheImagesOwnSlot) {
    RasterImage image(kFormatJpeg);
    image.SetCodecFlags(0x80, kFormatUnknown); // slot 0: falls back to JPEG's slot
    EXPECT_EQ(image.CodecFlags(kFormatJpeg), 0x80u);
    EXPECT_EQ(image.CodecFlags(kFormatNone), 0x80u);
    image.SetCodecFlags(1, kFormatPng);
    EXPECT_EQ(image.CodecFlags(kFormatPng), 1u);
    EXPECT_EQ(image.CodecFlags(kFormatJpeg), 0x80u);
    image.SetCodecFlags(5, kFormatRaw);
    EXPECT_EQ(image.Settings().codecOptions[18], 5u);
}

TEST(LoadFile, JpegDataUnderThePngIdIsReadThroughSniffing) {
    test::TempDir dir;
    test::WriteBytes(dir / "x=1y=2zoom=3.png", SampleJpeg());
    RasterImage image;
    ASSERT_TRUE(image.LoadFile((dir / "x=1y=2zoom=3.png").string(), kFormatPng));
    EXPECT_EQ(image.FormatId(), 3u);
    EXPECT_EQ(image.Width(), 16);
    EXPECT_TRUE(image.HasPixels());
}

TEST(LoadFile, TextUnderThePngIdReportsThePngReadersComplaint) {
    test::TempDir dir;
    const std::string path = (dir / "tile.png").string();
    test::WriteBytes(path, Bytes{'<', 'h', 't', 'm', 'l', '>', ' ', 'n', 'o', 't', ' ',
                                 'f', 'o', 'u', 'n', 'd', '<', '/', 'h', 't', 'm', 'l'});
    RasterImage image(4, 4, 24, 7);
    EXPECT_FALSE(image.LoadFile(path, kFormatPng));
    EXPECT_STRNE(image.ErrorText(), kUnknownDecode);
    EXPECT_STRNE(image.ErrorText(), "");
    EXPECT_EQ(image.Width(), 4);
    EXPECT_EQ(image.FormatId(), 7u);

    RasterImage any;
    EXPECT_FALSE(any.LoadFile(path, kFormatUnknown));
    EXPECT_STREQ(any.ErrorText(), kUnknownDecode);

    // Id 16 has no reader: straight to sniffing, and the text from before
    // the call comes back.
    RasterImage none;
    none.SetErrorText("earlier");
    EXPECT_FALSE(none.LoadFile(path, kFormatNone));
    EXPECT_STREQ(none.ErrorText(), "earlier");
}

TEST(LoadFile, IdWithoutReaderStillLoadsThroughSniffing) {
    test::TempDir dir;
    RasterImage colour(5, 3, 24, 0);
    test::FillPattern(colour);
    ASSERT_TRUE(colour.SaveFile((dir / "a.png").string(), kFormatPng));
    RasterImage image;
    ASSERT_TRUE(image.LoadFile((dir / "a.png").string(), kFormatNone));
    EXPECT_EQ(image.FormatId(), 4u);
    EXPECT_EQ(RgbaReadback(image), RgbaReadback(colour));
}

TEST(LoadFile, MissingFileFailsAtOnceLeavingTheErrorText) {
    test::TempDir dir;
    RasterImage image;
    image.SetErrorText("untouched");
    EXPECT_FALSE(image.LoadFile((dir / "absent.png").string(), kFormatPng));
    EXPECT_STREQ(image.ErrorText(), "untouched");
    EXPECT_FALSE(image.LoadFile((dir / "absent.png").string(), kFormatUnknown));
    EXPECT_STREQ(image.ErrorText(), "untouched");
}

TEST(SaveFile, PngIdWritesPngWhateverTheExtension) {
    test::TempDir dir;
    RasterImage image(10, 10, 24, 0);
    test::FillPattern(image);
    ASSERT_TRUE(image.SaveFile((dir / "map.jpg").string(), kFormatPng));
    const Bytes file = test::ReadBytes(dir / "map.jpg");
    ASSERT_GE(file.size(), 8u);
    EXPECT_EQ(std::memcmp(file.data(), "\x89PNG\r\n\x1a\n", 8), 0);
}

TEST(SaveFile, UnopenablePathFailsWithoutAText) {
    test::TempDir dir;
    RasterImage image(10, 10, 24, 0);
    image.SetErrorText("untouched");
    EXPECT_FALSE(image.SaveFile((dir / "no-such-folder" / "map.png").string(), kFormatPng));
    EXPECT_STREQ(image.ErrorText(), "untouched");
}

TEST(SaveFile, DataThatCannotReachTheDiskIsAFailure) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "/dev/full is not available";
    }
    RasterImage image(10, 10, 24, 0);
    test::FillPattern(image);
    // Small enough to sit in the FILE buffer until the end.
    EXPECT_FALSE(image.SaveFile("/dev/full", kFormatPng));
    EXPECT_STREQ(image.ErrorText(), "Error saving PNG file: Flush Error: No space left on device");
    image.SetErrorText("");
    EXPECT_FALSE(image.SaveFile("/dev/full", kFormatBmp));
    EXPECT_STRNE(image.ErrorText(), "");
}

TEST(Dispatch, NullStreamsAndEmptyImages) {
    RasterImage image(3, 3, 24, 0);
    EXPECT_FALSE(image.Decode(static_cast<ByteStream*>(nullptr), kFormatPng));
    EXPECT_STREQ(image.ErrorText(), "null file handler");
    EXPECT_FALSE(image.Decode(static_cast<std::FILE*>(nullptr), kFormatUnknown));
    EXPECT_STREQ(image.ErrorText(), "null file handler");
    image.SetErrorText("");
    EXPECT_FALSE(image.Encode(static_cast<ByteStream*>(nullptr), kFormatPng));
    EXPECT_STREQ(image.ErrorText(), "null file handler");
    EXPECT_TRUE(image.HasPixels());

    RasterImage empty;
    for (std::uint32_t id : {kFormatBmp, kFormatGif, kFormatJpeg, kFormatPng, kFormatTiff}) {
        empty.SetErrorText("");
        EXPECT_TRUE(test::EncodeBytes(empty, id).empty()) << id;
        EXPECT_STREQ(empty.ErrorText(), "null image!!!") << id;
    }
}

TEST(Dispatch, IdsWithoutACodecAndTheRefusingWriters) {
    RasterImage image(3, 3, 24, 0);
    for (std::uint32_t id : {0u, 5u, 7u, 16u, 17u, 20u}) {
        image.SetErrorText("");
        EXPECT_TRUE(test::EncodeBytes(image, id).empty()) << id;
        EXPECT_STREQ(image.ErrorText(), "Encode: Unknown format") << id;
    }
    EXPECT_TRUE(test::EncodeBytes(image, kFormatWmf).empty());
    EXPECT_STREQ(image.ErrorText(), "Save WMF not supported");
    EXPECT_TRUE(test::EncodeBytes(image, kFormatRaw).empty());
    EXPECT_STREQ(image.ErrorText(), "Save RAW not supported");

    const Bytes png = test::EncodeBytes(image, kFormatPng);
    for (std::uint32_t id : {5u, 16u, 19u, 20u}) {
        image.SetErrorText("");
        EXPECT_FALSE(test::DecodeBytes(image, png, id)) << id;
        EXPECT_STREQ(image.ErrorText(), kUnknownDecode) << id;
    }
}

TEST(Dispatch, EveryReaderRejectsTheOtherFormatsWithoutTouchingTheImage) {
    const auto files = SampleFiles();
    for (const auto& [reader, unused] : files) {
        for (const auto& [format, bytes] : files) {
            if (format == reader) {
                continue;
            }
            SCOPED_TRACE(testing::Message() << "reader " << reader << " on format " << format);
            RasterImage image(2, 2, 8, 9);
            image.SetPaletteEntry(1, RgbQuad{5, 6, 7, 0});
            image.PutPixelIndex(1, 1, 1);
            const RasterImage before(image);
            image.SetErrorText("");
            EXPECT_FALSE(test::DecodeBytes(image, bytes, reader));
            EXPECT_STRNE(image.ErrorText(), "");
            EXPECT_EQ(image.FormatId(), 9u);
            ASSERT_EQ(image.BlockSize(), before.BlockSize());
            EXPECT_EQ(std::memcmp(image.PixelBlock(), before.PixelBlock(), image.BlockSize()), 0);
        }
    }
}

TEST(Dispatch, SniffingFindsEachFormatFromTheStreamsPosition) {
    for (const auto& [format, bytes] : SampleFiles()) {
        SCOPED_TRACE(testing::Message() << "format " << format);
        // The data sits behind 37 bytes of something else; the stream is
        // positioned on it, and every reader must start (and restart) there.
        Bytes padded(37 + bytes.size(), 0xAB);
        std::copy(bytes.begin(), bytes.end(), padded.begin() + 37);
        MemoryStream stream(padded.data(), static_cast<std::uint32_t>(padded.size()));
        ASSERT_TRUE(stream.Seek(37, 0));
        RasterImage image;
        ASSERT_TRUE(image.Decode(&stream, kFormatUnknown)) << image.ErrorText();
        EXPECT_EQ(image.FormatId(), format);
        EXPECT_TRUE(image.HasPixels());
        EXPECT_EQ(image.Width(), format == kFormatJpeg ? 16 : 7);

        RasterImage header;
        header.SetEscape(-1);
        ASSERT_TRUE(test::DecodeBytes(header, bytes, kFormatUnknown));
        EXPECT_FALSE(header.HasPixels());
        EXPECT_EQ(header.FormatId(), format);
        EXPECT_EQ(header.Width(), format == kFormatJpeg ? 16 : 7);
        EXPECT_EQ(header.Height(), format == kFormatJpeg ? 16 : 5);
    }
}

TEST(Dispatch, TransparencyOfAnEarlierPictureDoesNotReachTheNextOne) {
    PngSample keyed;
    keyed.colorType = PNG_COLOR_TYPE_PALETTE;
    keyed.palette = {0, 0, 0, 200, 10, 10};
    keyed.paletteOpacity = {0};
    keyed.sample = [](std::uint32_t x, std::uint32_t, int) { return std::uint16_t(x % 2); };
    PngSample faded = keyed;
    faded.paletteOpacity = {0, 128};
    PngSample plain;
    plain.sample = [](std::uint32_t, std::uint32_t, int) { return std::uint16_t{0}; }; // black
    RasterImage image;
    for (const PngSample* earlier : {&keyed, &faded}) {
        for (std::uint32_t id : {kFormatPng, kFormatUnknown}) {
            ASSERT_TRUE(test::DecodeBytes(image, test::MakePng(*earlier), kFormatPng));
            ASSERT_TRUE(image.HasTransparentColor() || image.PaletteHasAlpha());
            ASSERT_TRUE(test::DecodeBytes(image, test::MakePng(plain), id));
            EXPECT_FALSE(image.HasTransparentColor());
            EXPECT_FALSE(image.PaletteHasAlpha());
            EXPECT_FALSE(image.IsTransparentAt(0, 0));
        }
    }
    // Options the caller sets for the read still reach the reader.
    image.SetEscape(-1);
    ASSERT_TRUE(test::DecodeBytes(image, test::MakePng(keyed), kFormatPng));
    EXPECT_FALSE(image.HasPixels());
}

TEST(Dispatch, ABorrowingImageCannotTakeADecodedPicture) {
    RasterImage owner(3, 2, 24, 4);
    test::FillPattern(owner);
    const RasterImage before(owner);
    RasterImage source(5, 5, 24, 4);
    const Bytes png = test::EncodeBytes(source, kFormatPng);
    RasterImage view;
    view.BorrowFrom(owner);
    for (std::uint32_t id : {kFormatPng, kFormatUnknown}) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(test::DecodeBytes(view, png, id));
        EXPECT_EQ(view.Width(), 3);
        EXPECT_EQ(view.PixelBlock(), owner.PixelBlock());
    }
    EXPECT_EQ(std::memcmp(owner.PixelBlock(), before.PixelBlock(), owner.BlockSize()), 0);
}

TEST(Dispatch, FailedNamedReaderLeavesItsTextAndTheImage) {
    RasterImage image(2, 2, 24, 4);
    const Bytes garbage(100, 0x42);
    EXPECT_FALSE(test::DecodeBytes(image, garbage, kFormatGif));
    EXPECT_EQ(std::string(image.ErrorText()).rfind("GIF: ", 0), 0u) << image.ErrorText();
    EXPECT_FALSE(test::DecodeBytes(image, garbage, kFormatUnknown));
    EXPECT_STREQ(image.ErrorText(), kUnknownDecode);
    EXPECT_EQ(image.Width(), 2);
    EXPECT_TRUE(image.HasPixels());
}

} // namespace
} // namespace quiltara
