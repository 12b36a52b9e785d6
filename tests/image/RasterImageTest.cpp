#include "image/RasterImage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>

namespace quiltara {
namespace {

constexpr const char* kNoMemory = "RasterImage::Create can't allocate memory";

// Restores the process-wide block limit when a test ends.
class BlockLimit {
public:
    explicit BlockLimit(std::uint64_t bytes) { SetPixelBlockLimit(bytes); }
    ~BlockLimit() { SetPixelBlockLimit(0); }
};

TEST(RasterImageCreate, SizesFollowDepthAndRowPadding) {
    struct Case {
        std::uint32_t width, height, askedDepth;
        std::uint16_t depth;
        std::uint32_t rowBytes, colours;
    };
    const Case cases[] = {
        {3, 2, 24, 24, 12, 0}, {256, 1, 1, 1, 32, 2},     {9, 1, 1, 1, 4, 2},
        {33, 1, 1, 1, 8, 2},   {256, 256, 2, 4, 128, 16}, {7, 3, 4, 4, 4, 16},
        {5, 2, 8, 8, 8, 256},  {10, 10, 16, 24, 32, 0},   {1, 1, 0, 1, 4, 2},
        {2, 2, 32, 24, 8, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "@" << c.askedDepth);
        RasterImage image(c.width, c.height, c.askedDepth, 4);
        ASSERT_TRUE(image.HasPixels());
        EXPECT_EQ(image.BitsPerPixel(), c.depth);
        EXPECT_EQ(image.RowBytes(), c.rowBytes);
        EXPECT_EQ(image.ColorCount(), c.colours);
        EXPECT_EQ(image.Header().sizeImage, c.rowBytes * c.height);
        EXPECT_EQ(image.BlockSize(), 40 + 4 * c.colours + c.rowBytes * c.height);
        EXPECT_EQ(image.FormatId(), 4u);
        // The block starts with its own copy of the header.
        ImageHeader stored;
        std::memcpy(&stored, image.PixelBlock(), sizeof stored);
        EXPECT_EQ(stored.size, 40u);
        EXPECT_EQ(stored.height, static_cast<std::int32_t>(c.height));
        EXPECT_EQ(stored.bitCount, c.depth);
        // Palette and pixels start out zero.
        for (std::uint32_t i = 40; i < image.BlockSize(); ++i) {
            ASSERT_EQ(image.PixelBlock()[i], 0) << "byte " << i;
        }
    }
}

TEST(RasterImageCreate, ZeroSizeIsRefusedWithItsText) {
    RasterImage image;
    EXPECT_EQ(image.Create(0, 5, 24, 4), nullptr);
    EXPECT_FALSE(image.HasPixels());
    EXPECT_STREQ(image.ErrorText(),
                 "RasterImage::Create : width and height must be greater than zero");
    EXPECT_EQ(image.Create(5, 0, 24, 4), nullptr);
    EXPECT_EQ(image.RowPointer(0), nullptr);
}

TEST(RasterImageCreate, SizesBeyond32BitsAreRefusedLikeAFailedAllocation) {
    RasterImage image;
    // 70000 x 70000 x 3 bytes does not fit 32 bits; 2^31 pixels wide does not
    // fit the signed width.
    EXPECT_EQ(image.Create(70000, 70000, 24, 4), nullptr);
    EXPECT_STREQ(image.ErrorText(), kNoMemory);
    EXPECT_FALSE(image.HasPixels());
    // The size fields of the request stay, as after a failed allocation.
    EXPECT_EQ(image.Width(), 70000);
    EXPECT_EQ(image.BitsPerPixel(), 24);

    RasterImage wide;
    EXPECT_EQ(wide.Create(0x80000000u, 1, 1, 4), nullptr);
    EXPECT_STREQ(wide.ErrorText(), kNoMemory);
    // The pixel rows fit in 32 bits, the block with header and palette does not.
    RasterImage edge;
    EXPECT_EQ(edge.Create(4, 0x3FFFFFFF, 8, 4), nullptr);
    EXPECT_STREQ(edge.ErrorText(), kNoMemory);
}

TEST(RasterImageCreate, BlockLimitActsLikeAFailedAllocation) {
    BlockLimit limit(40 + 1024 + 64 * 64);
    RasterImage fits(64, 64, 8, 4);
    EXPECT_TRUE(fits.HasPixels());
    RasterImage tooBig(64, 64, 24, 4);
    EXPECT_FALSE(tooBig.HasPixels());
    EXPECT_STREQ(tooBig.ErrorText(), kNoMemory);
    // A later success keeps the last failure's text.
    EXPECT_NE(tooBig.Create(8, 8, 24, 4), nullptr);
    EXPECT_STREQ(tooBig.ErrorText(), kNoMemory);
}

TEST(RasterImageCreate, DefaultsOfAFreshImage) {
    RasterImage image(4);
    EXPECT_FALSE(image.HasPixels());
    EXPECT_EQ(image.HorizontalDpi(), 96);
    EXPECT_EQ(image.Header().yPelsPerMeter, 3780);
    EXPECT_FLOAT_EQ(image.Quality(), 90.0f);
    EXPECT_EQ(image.TransparentIndex(), -1);
}

TEST(RasterImageCreate, ResolutionSettersReachTheBlockHeader) {
    RasterImage image(2, 2, 24, 4);
    image.SetHorizontalDpi(300);
    image.SetVerticalDpi(-5);
    EXPECT_EQ(image.HorizontalDpi(), 300);
    EXPECT_EQ(image.VerticalDpi(), 96);
    EXPECT_EQ(image.Header().xPelsPerMeter, 11811);
    ImageHeader stored;
    std::memcpy(&stored, image.PixelBlock(), sizeof stored);
    EXPECT_EQ(stored.xPelsPerMeter, 11811);
    EXPECT_EQ(stored.yPelsPerMeter, 3780);
    // A resolution from a damaged file still gives a valid header value.
    image.SetHorizontalDpi(INT32_MAX);
    EXPECT_EQ(image.HorizontalDpi(), INT32_MAX);
    EXPECT_EQ(image.Header().xPelsPerMeter, INT32_MAX);
    image.SetHorizontalDpi(300);
    // Create keeps the resolution of the record.
    image.Create(3, 3, 8, 4);
    std::memcpy(&stored, image.PixelBlock(), sizeof stored);
    EXPECT_EQ(stored.xPelsPerMeter, 11811);
}

TEST(RasterImagePixels, BitPackingOfOneAndFourBitWrites) {
    RasterImage mono(256, 1, 1, 4);
    mono.PutPixelIndex(9, 0, 1);
    EXPECT_EQ(mono.RowPointer(0)[1], 0x40);
    mono.PutPixelIndex(8, 0, 3); // only the lowest bit counts
    EXPECT_EQ(mono.RowPointer(0)[1], 0xC0);
    mono.PutPixelIndex(9, 0, 0);
    EXPECT_EQ(mono.RowPointer(0)[1], 0x80);
    EXPECT_EQ(mono.PixelIndex(8, 0), 1);
    EXPECT_EQ(mono.PixelIndex(9, 0), 0);

    RasterImage nibbles(5, 2, 4, 4);
    nibbles.PutPixelIndex(2, 1, 0xA);
    nibbles.PutPixelIndex(3, 1, 0x15); // low 4 bits only
    EXPECT_EQ(nibbles.RowPointer(1)[1], 0xA5);
    nibbles.PutPixelIndex(2, 1, 0x3);
    EXPECT_EQ(nibbles.RowPointer(1)[1], 0x35);
    EXPECT_EQ(nibbles.PixelIndex(3, 1), 5);
    EXPECT_EQ(nibbles.RowPointer(0)[1], 0); // the other row is untouched
}

TEST(RasterImagePixels, RowsAreStoredBottomUp) {
    RasterImage image(2, 3, 24, 4);
    image.PutPixelColor(1, 0, RgbQuad{1, 2, 3, 0});
    const std::uint8_t* bottom = image.RowPointer(0);
    EXPECT_EQ(bottom, image.PixelBlock() + 40);
    EXPECT_EQ(bottom[3], 1);
    EXPECT_EQ(bottom[4], 2);
    EXPECT_EQ(bottom[5], 3);
    EXPECT_EQ(image.RowPointer(2), bottom + 16);
    EXPECT_EQ(image.RowPointer(3), nullptr);
}

TEST(RasterImagePixels, WritesOutsideTheImageAreIgnored) {
    RasterImage image(4, 4, 8, 4);
    const std::uint32_t size = image.BlockSize();
    std::unique_ptr<std::uint8_t[]> before(new std::uint8_t[size]);
    std::memcpy(before.get(), image.PixelBlock(), size);
    for (auto [x, y] : {std::pair{-1, 0}, {4, 0}, {0, -1}, {0, 4}}) {
        image.PutPixelIndex(x, y, 7);
        image.PutPixelColor(x, y, RgbQuad{9, 9, 9, 9});
    }
    EXPECT_EQ(std::memcmp(before.get(), image.PixelBlock(), size), 0);

    RasterImage colour(2, 2, 24, 4);
    colour.PutPixelIndex(0, 0, 5); // no palette: nothing to write
    EXPECT_EQ(colour.RowPointer(0)[0], 0);
}

TEST(RasterImagePixels, ReadsOutsideGiveTheFallbacks) {
    RasterImage colour(3, 3, 24, 4);
    colour.PutPixelColor(0, 0, RgbQuad{10, 20, 30, 0});
    EXPECT_EQ(colour.PixelColor(-1, 0), (RgbQuad{10, 20, 30, 0}));
    colour.CreateAlpha();
    colour.SetAlphaAt(0, 0, 77);
    // The fall-back pixel (0, 0) is read with its alpha.
    EXPECT_EQ(colour.PixelColor(3, 1, false), (RgbQuad{10, 20, 30, 77}));
    colour.SetTransparentIndex(0);
    colour.SetTransparentColor(RgbQuad{1, 2, 3, 4});
    EXPECT_EQ(colour.PixelColor(0, 9), (RgbQuad{1, 2, 3, 4}));
    // Inside, the reserved byte comes from the transparent colour.
    EXPECT_EQ(colour.PixelColor(1, 1, false), (RgbQuad{0, 0, 0, 4}));

    RasterImage palette(3, 3, 8, 4);
    palette.SetPaletteEntry(5, RgbQuad{50, 60, 70, 80});
    palette.SetPaletteEntry(9, RgbQuad{90, 91, 92, 93});
    palette.PutPixelIndex(0, 0, 9);
    EXPECT_EQ(palette.PixelIndex(-1, -1), 9); // first byte of the pixel area
    EXPECT_EQ(palette.PixelColor(5, 5), (RgbQuad{90, 91, 92, 93}));
    palette.SetTransparentIndex(5);
    EXPECT_EQ(palette.PixelIndex(3, 0), 5);
    EXPECT_EQ(palette.PixelColor(3, 0), (RgbQuad{50, 60, 70, 80}));

    RasterImage empty;
    EXPECT_EQ(empty.PixelIndex(0, 0), 0);
    EXPECT_EQ(empty.PixelColor(0, 0), RgbQuad{});
    EXPECT_FALSE(empty.IsTransparentAt(0, 0));
}

TEST(RasterImagePixels, PaletteColourWritesGoThroughNearestIndex) {
    RasterImage image(2, 1, 4, 4);
    image.SetPaletteEntry(3, RgbQuad{200, 0, 0, 0});
    image.SetPaletteEntry(7, RgbQuad{0, 0, 200, 0});
    image.PutPixelColor(1, 0, RgbQuad{10, 0, 180, 0});
    EXPECT_EQ(image.PixelIndex(1, 0), 7);
    EXPECT_EQ(image.PixelColorUnchecked(1, 0), (RgbQuad{0, 0, 200, 0}));
}

TEST(RasterImagePixels, TransparencyByIndexColourAndAlpha) {
    RasterImage palette(2, 1, 8, 4);
    palette.PutPixelIndex(1, 0, 3);
    EXPECT_FALSE(palette.IsTransparentAt(1, 0));
    palette.SetTransparentIndex(3);
    EXPECT_TRUE(palette.IsTransparentAt(1, 0));
    EXPECT_FALSE(palette.IsTransparentAt(0, 0));

    RasterImage colour(2, 1, 24, 4);
    colour.PutPixelColor(0, 0, RgbQuad{5, 6, 7, 0});
    colour.SetTransparentIndex(0);
    colour.SetTransparentColor(RgbQuad{5, 6, 7, 0});
    EXPECT_TRUE(colour.IsTransparentAt(0, 0));
    EXPECT_FALSE(colour.IsTransparentAt(1, 0));
    ASSERT_TRUE(colour.CreateAlpha());
    colour.SetAlphaAt(1, 0, 0);
    EXPECT_TRUE(colour.IsTransparentAt(1, 0));
}

TEST(RasterImagePixels, AlphaPlaneIsRowMajorFromTheBottom) {
    RasterImage image(3, 2, 24, 4);
    ASSERT_TRUE(image.CreateAlpha());
    EXPECT_EQ(image.AlphaAt(2, 1), 255);
    image.SetAlphaAt(2, 1, 9);
    EXPECT_EQ(image.AlphaPlane()[1 * 3 + 2], 9);
    image.SetAlphaAt(3, 0, 1); // outside: ignored, and reads as 0
    EXPECT_EQ(image.AlphaAt(3, 0), 0);
    EXPECT_EQ(image.AlphaPlane()[3], 255);
    image.PutPixelColor(0, 1, RgbQuad{1, 1, 1, 44}, true);
    EXPECT_EQ(image.PixelColor(0, 1, true).reserved, 44);
}

TEST(RasterImagePalette, EntryWritesRespectThePaletteSize) {
    RasterImage sixteen(4, 4, 4, 4);
    sixteen.SetPaletteEntry(44, RgbQuad{1, 2, 3, 4});
    EXPECT_EQ(sixteen.PaletteEntry(44), RgbQuad{});
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(sixteen.PaletteEntry(static_cast<std::uint8_t>(i)), RgbQuad{});
    }
    RasterImage full(4, 4, 8, 4);
    full.SetPaletteEntry(44, RgbQuad{1, 2, 3, 4});
    EXPECT_EQ(full.PaletteEntry(44), (RgbQuad{1, 2, 3, 4}));
    EXPECT_EQ(full.PixelBlock()[40 + 4 * 44 + 3], 4); // the reserved byte too

    RasterImage colour(4, 4, 24, 4);
    colour.SetPaletteEntry(0, RgbQuad{1, 2, 3, 4});
    EXPECT_EQ(colour.PaletteEntry(0), RgbQuad{});
}

TEST(RasterImagePalette, TriplesGreyRampAndImportantCount) {
    RasterImage image(1, 1, 4, 4);
    const std::uint8_t rgb[] = {10, 20, 30, 40, 50, 60};
    image.SetPaletteFromTriples(rgb, 2);
    EXPECT_EQ(image.PaletteEntry(1), (RgbQuad{60, 50, 40, 0}));
    image.SetGreyRamp();
    EXPECT_EQ(image.PaletteEntry(1), (RgbQuad{17, 17, 17, 0}));
    EXPECT_EQ(image.PaletteEntry(15), (RgbQuad{255, 255, 255, 0}));

    RasterImage grey(1, 1, 8, 4);
    EXPECT_FALSE(grey.IsGreyRamp());
    grey.SetGreyRamp();
    EXPECT_TRUE(grey.IsGreyRamp());

    grey.SetImportantColorCount(300);
    EXPECT_EQ(grey.ImportantColorCount(), 0u);
    image.SetImportantColorCount(40);
    EXPECT_EQ(image.ImportantColorCount(), 16u);
}

TEST(RasterImagePalette, SwapIndicesRewritesPixels) {
    RasterImage image(3, 1, 4, 4);
    image.SetPaletteEntry(0, RgbQuad{1, 1, 1, 0});
    image.SetPaletteEntry(5, RgbQuad{5, 5, 5, 0});
    image.PutPixelIndex(0, 0, 0);
    image.PutPixelIndex(1, 0, 5);
    image.PutPixelIndex(2, 0, 2);
    image.SwapPaletteIndices(0, 5);
    EXPECT_EQ(image.PaletteEntry(0), (RgbQuad{5, 5, 5, 0}));
    EXPECT_EQ(image.PaletteEntry(5), (RgbQuad{1, 1, 1, 0}));
    EXPECT_EQ(image.PixelIndex(0, 0), 5);
    EXPECT_EQ(image.PixelIndex(1, 0), 0);
    EXPECT_EQ(image.PixelIndex(2, 0), 2);
    // The colours seen at each pixel do not change.
    EXPECT_EQ(image.PixelColor(0, 0), (RgbQuad{1, 1, 1, 0}));
}

TEST(RasterImagePalette, SwapRedBlueStaysInsideTheRow) {
    RasterImage image(2, 1, 24, 4); // 6 pixel bytes, row of 8
    std::uint8_t row[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    image.SwapRedBlue(row, 9);
    const std::uint8_t expected[9] = {3, 2, 1, 6, 5, 4, 7, 8, 9};
    EXPECT_EQ(std::memcmp(row, expected, 9), 0);
    image.SwapRedBlue(row, 4); // only one whole pixel
    EXPECT_EQ(row[0], 1);
    EXPECT_EQ(row[3], 6);
    RasterImage palette(2, 1, 8, 4);
    palette.SwapRedBlue(row, 9);
    EXPECT_EQ(row[0], 1);
}

// ---- copying and hand-over ----

RasterImage MakeDecorated() {
    RasterImage image(5, 4, 8, 4);
    image.SetPaletteEntry(7, RgbQuad{7, 8, 9, 10});
    image.PutPixelIndex(2, 3, 7);
    image.SetTransparentIndex(7);
    image.SetQuality(42.0f);
    image.SetErrorText("old trouble");
    image.CreateAlpha();
    image.SetAlphaAt(4, 0, 3);
    image.CreateSelection();
    return image;
}

TEST(RasterImageTransfer, AssignmentCopiesPaletteSettingsAndBuffers) {
    const RasterImage source = MakeDecorated();
    RasterImage target(9, 9, 24, 4);
    target.CreateAlpha();
    target = source;
    ASSERT_TRUE(target.HasPixels());
    EXPECT_NE(target.PixelBlock(), source.PixelBlock());
    EXPECT_EQ(target.ColorCount(), 256u);
    EXPECT_EQ(target.BitsPerPixel(), 8);
    EXPECT_EQ(target.PaletteEntry(7), (RgbQuad{7, 8, 9, 10}));
    EXPECT_EQ(target.PixelIndex(2, 3), 7);
    EXPECT_EQ(target.TransparentIndex(), 7);
    EXPECT_FLOAT_EQ(target.Quality(), 42.0f);
    EXPECT_STREQ(target.ErrorText(), "old trouble");
    ASSERT_TRUE(target.HasAlpha());
    EXPECT_NE(target.AlphaPlane(), source.AlphaPlane());
    EXPECT_EQ(target.AlphaAt(4, 0), 3);
    EXPECT_NE(target.SelectionMask(), nullptr);
    EXPECT_EQ(std::memcmp(target.PixelBlock(), source.PixelBlock(), source.BlockSize()), 0);
}

TEST(RasterImageTransfer, SelfAssignmentChangesNothing) {
    RasterImage image = MakeDecorated();
    const std::uint8_t* block = image.PixelBlock();
    RasterImage& alias = image;
    image = alias;
    EXPECT_EQ(image.PixelBlock(), block);
    EXPECT_EQ(image.PixelIndex(2, 3), 7);
    image.CopyFrom(alias);
    EXPECT_EQ(image.PixelBlock(), block);
    EXPECT_TRUE(image.AdoptFrom(image, true));
    EXPECT_EQ(image.PixelBlock(), block);
}

TEST(RasterImageTransfer, CopyWithoutPixelsTakesOnlyThePalette) {
    const RasterImage source = MakeDecorated();
    RasterImage copy(source, false, false, false);
    ASSERT_TRUE(copy.HasPixels());
    EXPECT_EQ(copy.PaletteEntry(7), (RgbQuad{7, 8, 9, 10}));
    EXPECT_EQ(copy.PixelIndex(2, 3), 0);
    EXPECT_FALSE(copy.HasAlpha());
    EXPECT_EQ(copy.SelectionMask(), nullptr);
}

TEST(RasterImageTransfer, CopyThatCannotAllocateLeavesAnEmptyImageWithTheText) {
    RasterImage source(64, 64, 24, 4);
    BlockLimit limit(1000);
    RasterImage target(2, 2, 24, 4); // fits the limit
    ASSERT_TRUE(target.HasPixels());
    target = source;
    EXPECT_FALSE(target.HasPixels());
    EXPECT_STREQ(target.ErrorText(), kNoMemory);
    EXPECT_EQ(target.RowPointer(0), nullptr);
    EXPECT_EQ(target.Width(), 64);
}

TEST(RasterImageTransfer, AdoptTakesEveryBufferAndEmptiesTheSource) {
    auto source = std::make_unique<RasterImage>(MakeDecorated());
    ASSERT_TRUE(source->AppendFrame(std::make_unique<RasterImage>(2, 2, 24, 4)));
    ASSERT_TRUE(source->AppendLayer(std::make_unique<RasterImage>(3, 3, 8, 4)));
    const std::uint8_t* block = source->PixelBlock();
    const std::uint8_t* alpha = source->AlphaPlane();

    RasterImage target(10, 10, 24, 4);
    ASSERT_TRUE(target.AppendFrame(std::make_unique<RasterImage>(1, 1, 24, 4)));
    ASSERT_TRUE(target.AdoptFrom(*source, true));
    EXPECT_EQ(target.PixelBlock(), block);
    EXPECT_EQ(target.AlphaPlane(), alpha);
    EXPECT_EQ(target.TransparentIndex(), 7);
    EXPECT_EQ(target.FrameSlots(), 1u);
    EXPECT_EQ(target.Frame(0)->Width(), 2);
    EXPECT_EQ(target.LayerSlots(), 1u);
    EXPECT_EQ(target.Layer(0)->Width(), 3);

    EXPECT_FALSE(source->HasPixels());
    EXPECT_EQ(source->Width(), 0);
    EXPECT_EQ(source->Height(), 0);
    EXPECT_FALSE(source->HasAlpha());
    EXPECT_EQ(source->FrameSlots(), 0u);
    source.reset(); // frees nothing: the sanitizer build would see a double free
    EXPECT_EQ(target.PixelIndex(2, 3), 7);
}

TEST(RasterImageTransfer, AdoptWithoutFramesKeepsEachSidesFrames) {
    RasterImage source(2, 2, 24, 4);
    ASSERT_TRUE(source.AppendFrame(std::make_unique<RasterImage>(4, 4, 24, 4)));
    RasterImage target;
    ASSERT_TRUE(target.AppendFrame(std::make_unique<RasterImage>(5, 5, 24, 4)));
    ASSERT_TRUE(target.AdoptFrom(source, false));
    EXPECT_EQ(target.Frame(0)->Width(), 5);
    EXPECT_EQ(source.Frame(0)->Width(), 4);
}

TEST(RasterImageTransfer, BorrowingImageShowsButNeverFrees) {
    RasterImage owner = MakeDecorated();
    ASSERT_TRUE(owner.AppendFrame(std::make_unique<RasterImage>(1, 1, 24, 4)));
    {
        auto borrower = std::make_unique<RasterImage>(3, 3, 24, 4);
        borrower->BorrowFrom(owner);
        EXPECT_TRUE(borrower->IsBorrowing());
        EXPECT_EQ(borrower->PixelBlock(), owner.PixelBlock());
        EXPECT_EQ(borrower->AlphaPlane(), owner.AlphaPlane());
        EXPECT_EQ(borrower->Frame(0), owner.Frame(0));
        EXPECT_FALSE(borrower->Release());
        EXPECT_FALSE(borrower->ReleaseFrames());
        EXPECT_EQ(borrower->Create(4, 4, 24, 4), nullptr);
        EXPECT_TRUE(borrower->HasPixels());
        // Writes through the borrower land in the owner's pixels.
        borrower->PutPixelIndex(0, 0, 9);
        // Copying into a borrower would overwrite buffers it does not own.
        RasterImage other(1, 1, 24, 4);
        borrower->CopyFrom(other);
        EXPECT_EQ(borrower->PixelBlock(), owner.PixelBlock());
        // A copy of a borrower borrows the same buffers.
        RasterImage copy(*borrower);
        EXPECT_TRUE(copy.IsBorrowing());
        EXPECT_EQ(copy.PixelBlock(), owner.PixelBlock());
        // A borrower owns nothing it could hand over.
        RasterImage taker;
        EXPECT_FALSE(taker.AdoptFrom(*borrower, true));
    }
    EXPECT_EQ(owner.PixelIndex(0, 0), 9);
    EXPECT_EQ(owner.PixelIndex(2, 3), 7);
    EXPECT_EQ(owner.AlphaAt(4, 0), 3);
}

TEST(RasterImageTransfer, SettingsReachOnlyAnImageWithoutPixels) {
    RasterImage caller(7);
    caller.SetEscape(-1);
    RasterImage codec(4);
    codec.CopySettingsFrom(caller);
    EXPECT_EQ(codec.Escape(), -1);
    EXPECT_EQ(codec.FormatId(), 7u);
    RasterImage withPixels(2, 2, 24, 4);
    withPixels.CopySettingsFrom(caller);
    EXPECT_EQ(withPixels.Escape(), 0);
    // Settings of a borrower do not make the receiver a borrower.
    RasterImage borrower;
    borrower.BorrowFrom(caller);
    RasterImage receiver;
    receiver.CopySettingsFrom(borrower);
    EXPECT_FALSE(receiver.IsBorrowing());
}

TEST(RasterImageTransfer, ReleaseFreesBuffersButKeepsTheRecord) {
    RasterImage image = MakeDecorated();
    ASSERT_TRUE(image.AppendLayer(std::make_unique<RasterImage>(2, 2, 8, 4)));
    EXPECT_EQ(image.Layer(0)->Settings().parent, &image);
    EXPECT_TRUE(image.Release());
    EXPECT_FALSE(image.HasPixels());
    EXPECT_FALSE(image.HasAlpha());
    EXPECT_EQ(image.SelectionMask(), nullptr);
    EXPECT_EQ(image.LayerSlots(), 0u);
    EXPECT_EQ(image.Settings().layerCount, 0);
    EXPECT_EQ(image.Width(), 5);
    EXPECT_EQ(image.TransparentIndex(), 7);
    EXPECT_EQ(image.PixelColor(0, 0), RgbQuad{});
}

} // namespace
} // namespace quiltara
