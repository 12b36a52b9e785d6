#include "image/PngCodec.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "image/ByteStream.h"
#include "image/PngText.h"

namespace quiltara {

namespace {

// Owns the libpng read structures; destroys them on every way out of a read.
class PngReadHandles {
public:
    PngReadHandles() = default;
    PngReadHandles(const PngReadHandles&) = delete;
    PngReadHandles& operator=(const PngReadHandles&) = delete;
    ~PngReadHandles() {
        if (png != nullptr) {
            png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
        }
    }

    png_structp png = nullptr;
    png_infop info = nullptr;
};

// Owns the libpng write structures.
class PngWriteHandles {
public:
    PngWriteHandles() = default;
    PngWriteHandles(const PngWriteHandles&) = delete;
    PngWriteHandles& operator=(const PngWriteHandles&) = delete;
    ~PngWriteHandles() {
        if (png != nullptr) {
            png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
        }
    }

    png_structp png = nullptr;
    png_infop info = nullptr;
};

// Swaps two palette entries of an image being written and swaps them back
// however the write ends, so the caller's image is left as it was.
class PaletteSwap {
public:
    PaletteSwap(RasterImage& image, std::uint8_t a, std::uint8_t b) : image_(image), a_(a), b_(b) {
        image_.SwapPaletteIndices(a_, b_);
    }
    PaletteSwap(const PaletteSwap&) = delete;
    PaletteSwap& operator=(const PaletteSwap&) = delete;
    ~PaletteSwap() { image_.SwapPaletteIndices(a_, b_); }

private:
    RasterImage& image_;
    std::uint8_t a_;
    std::uint8_t b_;
};

// libpng's message becomes the image's error text; nothing reaches the console.
[[noreturn]] void OnError(png_structp png, png_const_charp message) {
    static_cast<RasterImage*>(png_get_error_ptr(png))->SetErrorText(message);
    png_longjmp(png, 1);
}

// Tiles are untrusted: libpng's complaints about ancillary chunks are not
// worth a line on the console for each of them.
void OnWarning(png_structp /*png*/, png_const_charp /*message*/) {}

// The format allows 2^31 - 1 pixels a side, and so do we: what an image of a
// given size may cost is the pixel block's rule, not libpng's default bounds.
constexpr png_uint_32 kLargestSide = 0x7FFFFFFF;

// Ancillary chunks this reader never looks at. libpng would read each into a
// buffer of the size its length field claims, zeroed first, so a few bytes
// claiming 2 GB of text cost 2 GB; skipped, they cost only the bytes present.
// libpng takes the names as a list of 5-byte entries, each zero-terminated.
constexpr png_byte kIgnoredChunks[] =
    "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0"
    "pCAL\0sBIT\0sCAL\0sPLT\0sRGB\0tEXt\0tIME\0zTXt";
constexpr int kIgnoredChunkCount = sizeof kIgnoredChunks / 5;

// A file row longer than this is refused: libpng and this reader each hold
// rows of that length, whatever the data behind them, so a tiny file claiming
// one immense row would otherwise cost as much as the row.
constexpr std::size_t kMaxFileRowBytes = std::size_t{64} << 20;

void OnRead(png_structp png, png_bytep data, std::size_t length) {
    auto* stream = static_cast<ByteStream*>(png_get_io_ptr(png));
    if (stream->Read(data, 1, length) != length) {
        png_error(png, "Read Error");
    }
}

// Ends the write with what failed and, when a file stream gave one, the
// system's reason (a full disk). png_error() does not return, so the text
// lives in a buffer of the thread rather than in an object with a destructor.
[[noreturn]] void FailWithReason(png_structp png, const char* what, int error) {
    thread_local char text[160];
    if (error == 0) {
        png_error(png, what);
    }
    std::snprintf(text, sizeof text, "%s: %s", what, std::strerror(error));
    png_error(png, text);
}

void OnWrite(png_structp png, png_bytep data, std::size_t length) {
    auto* stream = static_cast<ByteStream*>(png_get_io_ptr(png));
    errno = 0;
    if (stream->Write(data, 1, length) != length) {
        FailWithReason(png, "Write Error", errno);
    }
}

void OnFlush(png_structp png) {
    auto* stream = static_cast<ByteStream*>(png_get_io_ptr(png));
    errno = 0;
    if (!stream->Flush()) {
        FailWithReason(png, "Flush Error", errno);
    }
}

bool ResizeRow(std::vector<std::uint8_t>& row, std::size_t length) {
    try {
        row.assign(length, 0);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// A value the signed resolution field cannot hold counts as "not given"
// (96 dpi); every other value is taken as it is.
std::int32_t ClampDpi(double value) {
    return value > INT32_MAX ? 0 : static_cast<std::int32_t>(value);
}

std::int32_t MetresToDpi(png_uint_32 perMetre) {
    return ClampDpi(std::floor(perMetre * 0.0254 + 0.5));
}

// Turns a row of 2-bit indices into 4-bit indices of the same value, in place,
// from the right end so that no index is overwritten before it is read.
void Expand2To4(std::uint8_t* row, png_uint_32 width) {
    for (png_uint_32 x = width; x-- > 0;) {
        const std::uint8_t index = (row[x / 4] >> (6 - 2 * (x % 4))) & 0x03;
        std::uint8_t& target = row[x / 2];
        target = (x % 2 == 0) ? static_cast<std::uint8_t>((target & 0x0F) | index << 4)
                              : static_cast<std::uint8_t>((target & 0xF0) | index);
    }
}

} // namespace

bool PngCodec::Decode(ByteStream* stream) {
    if (stream == nullptr) {
        SetErrorText("null file handler");
        return false;
    }
    PngReadHandles handles;
    handles.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, this, OnError, OnWarning);
    if (handles.png == nullptr) {
        SetErrorText("Failed to create PNG structure");
        return false;
    }
    handles.info = png_create_info_struct(handles.png);
    if (handles.info == nullptr) {
        SetErrorText("Failed to initialize PNG info structure");
        return false;
    }
    png_set_read_fn(handles.png, stream, OnRead);
    png_set_user_limits(handles.png, kLargestSide, kLargestSide);
    png_set_keep_unknown_chunks(handles.png, PNG_HANDLE_CHUNK_NEVER, kIgnoredChunks,
                                kIgnoredChunkCount);
    std::vector<std::uint8_t> row;
    return ReadGuarded(handles.png, handles.info, row);
}

bool PngCodec::ReadGuarded(png_structp png, png_infop info, std::vector<std::uint8_t>& row) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    return ReadBody(png, info, row);
}

bool PngCodec::ReadBody(png_structp png, png_infop info, std::vector<std::uint8_t>& row) {
    png_read_info(png, info);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colorType = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, nullptr, nullptr, nullptr);
    if (ExceedsReadLimits(width, height)) {
        return false;
    }

    if (Escape() == -1) {
        header_.width = static_cast<std::int32_t>(width);
        header_.height = static_cast<std::int32_t>(height);
        settings_.formatId = kFormatPng;
        return true;
    }

    int channels = 0;
    switch (colorType) {
        case PNG_COLOR_TYPE_GRAY:
        case PNG_COLOR_TYPE_PALETTE:
            channels = 1;
            break;
        case PNG_COLOR_TYPE_RGB:
            channels = 3;
            break;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            channels = 2;
            break;
        case PNG_COLOR_TYPE_RGB_ALPHA:
            channels = 4;
            break;
        default:
            SetErrorText("unknown PNG color type");
            return false;
    }

    if ((std::uint64_t{width} * static_cast<std::uint64_t>(bitDepth * channels) + 7) / 8 >
        kMaxFileRowBytes) {
        SetErrorText("PNG: rows too long to read");
        return false;
    }

    int depth = std::min(bitDepth * channels, 8);
    if (channels >= 3) {
        depth = 24;
    } else if (channels == 2) {
        depth = 8;
    }
    if (Create(width, height, static_cast<std::uint32_t>(depth), kFormatPng) == nullptr) {
        return false;
    }

    png_uint_32 resX = 0;
    png_uint_32 resY = 0;
    int unit = PNG_RESOLUTION_UNKNOWN;
    png_get_pHYs(png, info, &resX, &resY, &unit);
    if (unit == PNG_RESOLUTION_UNKNOWN) {
        SetHorizontalDpi(ClampDpi(resX));
        SetVerticalDpi(ClampDpi(resY));
    } else if (unit == PNG_RESOLUTION_METER) {
        SetHorizontalDpi(MetresToDpi(resX));
        SetVerticalDpi(MetresToDpi(resY));
    }

    png_colorp palette = nullptr;
    int paletteLength = 0;
    if (ColorCount() > 0) {
        if (png_get_PLTE(png, info, &palette, &paletteLength) != 0 && palette != nullptr) {
            static_assert(sizeof(png_color) == 3, "png_color must be a red, green, blue triple");
            SetPaletteFromTriples(reinterpret_cast<const std::uint8_t*>(palette),
                                  static_cast<std::uint32_t>(paletteLength));
            SetImportantColorCount(static_cast<std::uint32_t>(paletteLength));
        } else if (bitDepth == 2) {
            for (std::uint8_t i = 0; i < 4; ++i) {
                const auto grey = static_cast<std::uint8_t>(i * 85);
                SetPaletteEntry(i, RgbQuad{grey, grey, grey, 0});
            }
        } else {
            SetGreyRamp();
        }
    }

    const int shift = bitDepth == 16 ? 8 : 0;
    png_bytep transAlpha = nullptr;
    int transCount = 0;
    png_color_16p transColor = nullptr;
    if (png_get_tRNS(png, info, &transAlpha, &transCount, &transColor) != 0) {
        const bool hasPalette = colorType == PNG_COLOR_TYPE_PALETTE && ColorCount() > 0;
        if (transCount == 1 && colorType == PNG_COLOR_TYPE_PALETTE && transAlpha != nullptr &&
            transAlpha[0] != 0) {
            // One entry that is not fully transparent is an opacity like any
            // other; making entry 0 the transparent index would hide it.
            RgbQuad entry = PaletteEntry(0);
            entry.reserved = transAlpha[0];
            SetPaletteEntry(0, entry);
            for (std::uint32_t i = 1; i < ColorCount(); ++i) {
                RgbQuad other = PaletteEntry(static_cast<std::uint8_t>(i));
                other.reserved = 255;
                SetPaletteEntry(static_cast<std::uint8_t>(i), other);
            }
            SetPaletteHasAlpha(true);
        } else if (transCount == 1 && transColor != nullptr) {
            if (colorType == PNG_COLOR_TYPE_PALETTE) {
                SetTransparentIndex(transColor->index);
            } else if (colorType == PNG_COLOR_TYPE_GRAY) {
                SetTransparentIndex(transColor->gray >> shift);
            }
        } else if (transCount > 1 && hasPalette && transAlpha != nullptr) {
            const auto opaqueFrom =
                std::min<std::uint32_t>(ColorCount(), static_cast<std::uint32_t>(transCount));
            for (std::uint32_t i = 0; i < ColorCount(); ++i) {
                RgbQuad entry = PaletteEntry(static_cast<std::uint8_t>(i));
                entry.reserved = i < opaqueFrom ? transAlpha[i] : 255;
                SetPaletteEntry(static_cast<std::uint8_t>(i), entry);
            }
            SetPaletteHasAlpha(true);
        }
        if (channels == 3 && transColor != nullptr) {
            SetTransparentColor(RgbQuad{static_cast<std::uint8_t>(transColor->blue >> shift),
                                        static_cast<std::uint8_t>(transColor->green >> shift),
                                        static_cast<std::uint8_t>(transColor->red >> shift), 0});
            SetTransparentIndex(0);
        }
    }

    if (channels == 2 || channels == 4) {
        if (!CreateAlpha()) {
            SetErrorText("RasterImage::Create can't allocate memory");
            return false;
        }
    }
    if ((colorType & PNG_COLOR_MASK_COLOR) != 0) {
        png_set_bgr(png);
    }

    if (Escape() != 0) {
        return false;
    }
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    SetCodecFlags(passes > 1 ? 1 : 0, kFormatPng);
    if (!ResizeRow(row, png_get_rowbytes(png, info) + 8)) {
        SetErrorText("RasterImage::Create can't allocate memory");
        return false;
    }
    ReadPixels(png, info, passes, row.data());
    if (Escape() != 0) {
        return false;
    }
    png_read_end(png, nullptr);
    return true;
}

void PngCodec::ReadPixels(png_structp png, png_infop info, int passes, std::uint8_t* buffer) {
    const auto width = static_cast<png_uint_32>(Width());
    const auto height = static_cast<png_uint_32>(Height());
    const int bitDepth = png_get_bit_depth(png, info);
    const int channels = png_get_channels(png, info);
    const std::size_t fileRowBytes = png_get_rowbytes(png, info);
    const std::size_t sampleStride = bitDepth == 16 ? 2 : 1;
    const std::size_t pixelStride = sampleStride * static_cast<std::size_t>(channels);
    std::uint8_t* const alpha = AlphaPlane();

    const bool interlaced = passes > 1;
    for (int pass = 0; pass < passes; ++pass) {
        const bool rebuild = pass > 0;
        for (png_uint_32 fileRow = 0; fileRow < height; ++fileRow) {
            if (Escape() != 0) {
                return;
            }
            if (interlaced && !PNG_ROW_IN_INTERLACE_PASS(fileRow, pass)) {
                // libpng still counts the row; its pixels come in other passes
                // and the stored row stays as it is.
                png_read_row(png, nullptr, nullptr);
                continue;
            }
            const png_uint_32 y = height - 1 - fileRow;
            std::uint8_t* const pixels = RowPointer(y);
            if (alpha != nullptr) {
                std::uint8_t* const alphaRow = alpha + std::size_t{y} * width;
                if (channels == 2) {
                    if (rebuild) {
                        for (png_uint_32 x = 0; x < width; ++x) {
                            buffer[x * pixelStride] = pixels[x];
                            buffer[x * pixelStride + sampleStride] = alphaRow[x];
                        }
                    }
                    png_read_row(png, buffer, nullptr);
                    for (png_uint_32 x = 0; x < width; ++x) {
                        pixels[x] = buffer[x * pixelStride];
                        alphaRow[x] = buffer[x * pixelStride + sampleStride];
                    }
                } else {
                    if (rebuild) {
                        for (png_uint_32 x = 0; x < width; ++x) {
                            std::uint8_t* const sample = buffer + x * pixelStride;
                            sample[0] = pixels[3 * x];
                            sample[sampleStride] = pixels[3 * x + 1];
                            sample[2 * sampleStride] = pixels[3 * x + 2];
                            sample[3 * sampleStride] = alphaRow[x];
                        }
                    }
                    png_read_row(png, buffer, nullptr);
                    for (png_uint_32 x = 0; x < width; ++x) {
                        const std::uint8_t* const sample = buffer + x * pixelStride;
                        pixels[3 * x] = sample[0];
                        pixels[3 * x + 1] = sample[sampleStride];
                        pixels[3 * x + 2] = sample[2 * sampleStride];
                        alphaRow[x] = sample[3 * sampleStride];
                    }
                }
                continue;
            }

            std::size_t rowBytes = fileRowBytes;
            if (sampleStride == 2) {
                const std::size_t samples = fileRowBytes / 2;
                if (rebuild) {
                    for (std::size_t i = samples; i-- > 0;) {
                        buffer[2 * i] = pixels[i];
                    }
                }
                png_read_row(png, buffer, nullptr);
                for (std::size_t i = 0; i < samples; ++i) {
                    buffer[i] = buffer[2 * i];
                }
                rowBytes = samples;
            } else {
                if (rebuild) {
                    std::memcpy(buffer, pixels, std::min<std::size_t>(fileRowBytes, RowBytes()));
                }
                png_read_row(png, buffer, nullptr);
            }
            std::memcpy(pixels, buffer, std::min<std::size_t>(rowBytes, RowBytes()));
            if (bitDepth == 2 && !interlaced) {
                Expand2To4(pixels, width);
            }
        }
    }
    // The passes combine 2-bit pixels in the stored rows; only complete rows
    // can be widened.
    if (bitDepth == 2 && interlaced) {
        for (png_uint_32 y = 0; y < height; ++y) {
            Expand2To4(RowPointer(y), width);
        }
    }
}

bool PngCodec::Encode(ByteStream* stream) {
    if (CheckBeforeEncode(stream)) {
        return false;
    }
    PngWriteHandles handles;
    handles.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, this, OnError, OnWarning);
    if (handles.png == nullptr) {
        SetErrorText("Failed to create PNG structure");
        return false;
    }
    handles.info = png_create_info_struct(handles.png);
    if (handles.info == nullptr) {
        SetErrorText("Failed to initialize PNG info structure");
        return false;
    }
    png_set_write_fn(handles.png, stream, OnWrite, OnFlush);
    png_set_user_limits(handles.png, kLargestSide, kLargestSide);

    // A palette image whose transparent entry is not entry 0 is written with
    // the two entries exchanged, so the one-byte transparency chunk can name it.
    std::optional<PaletteSwap> swap;
    if (WritesPaletteChunk() && TransparentIndex() > 0 &&
        TransparentIndex() < static_cast<std::int32_t>(ColorCount())) {
        swap.emplace(*this, 0, static_cast<std::uint8_t>(TransparentIndex()));
    }
    std::vector<std::uint8_t> row;
    if (!WriteGuarded(handles.png, handles.info, row, swap.has_value())) {
        SetErrorText(std::string("Error saving PNG file: ") + ErrorText());
        return false;
    }
    return true;
}

bool PngCodec::WritesGrey() const {
    // Only an 8-bit grey ramp reads back as the same colours from a grey file;
    // a 1- or 4-bit palette of entries 0, 1, 2... would come back brightened.
    return ColorCount() > 0 && BitsPerPixel() == 8 && IsGreyRamp() && !PaletteHasAlpha();
}

bool PngCodec::WritesPaletteChunk() const {
    return ColorCount() > 0 && !HasAlpha() && !WritesGrey();
}

std::uint32_t PngCodec::HighestIndexUsed() const {
    std::uint32_t highest = 0;
    const auto width = static_cast<std::uint32_t>(Width());
    const std::uint32_t bits = BitsPerPixel();
    for (std::uint32_t y = 0; y < static_cast<std::uint32_t>(Height()); ++y) {
        const std::uint8_t* row = RowPointer(y);
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t bit = x * bits;
            const std::uint32_t index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
            highest = std::max(highest, index);
        }
    }
    return highest;
}

bool PngCodec::WriteGuarded(png_structp png, png_infop info, std::vector<std::uint8_t>& row,
                            bool swapped) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    WriteBody(png, info, row, swapped);
    return true;
}

void PngCodec::WriteBody(png_structp png, png_infop info, std::vector<std::uint8_t>& row,
                         bool swapped) {
    const auto width = static_cast<png_uint_32>(Width());
    const auto height = static_cast<png_uint_32>(Height());
    const bool hasPalette = ColorCount() > 0;
    const bool hasAlpha = HasAlpha();
    const bool grey = WritesGrey();

    int channels = BitsPerPixel() == 24 ? 3 : 1;
    int bitDepth = BitsPerPixel() / channels;
    int colorType =
        grey ? PNG_COLOR_TYPE_GRAY : (hasPalette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB);
    if (hasAlpha) {
        // libpng has no palette-with-alpha type: such images go out as RGBA.
        colorType = grey ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_RGB_ALPHA;
        channels = grey ? 2 : 4;
        bitDepth = 8;
    }
    const int interlace = CodecFlags(kFormatPng) == 1 ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;
    png_set_IHDR(png, info, width, height, bitDepth, colorType, interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);

    // A palette image's transparent index must name one of its entries; any
    // other index marks no pixel, and entry 0 must not be marked in its place.
    const bool transparent =
        HasTransparentColor() &&
        (!hasPalette || TransparentIndex() < static_cast<std::int32_t>(ColorCount()));
    png_color_16 background{};
    background.red = background.green = background.blue = 255;
    if (transparent) {
        const auto entry = static_cast<std::uint8_t>(swapped ? 0 : TransparentIndex());
        const RgbQuad colour = hasPalette ? PaletteEntry(entry) : TransparentColor();
        background.red = colour.red;
        background.green = colour.green;
        background.blue = colour.blue;
    }
    png_set_bKGD(png, info, &background);
    png_set_pHYs(png, info, static_cast<png_uint_32>(Header().xPelsPerMeter),
                 static_cast<png_uint_32>(Header().yPelsPerMeter), PNG_RESOLUTION_METER);

    std::uint32_t paletteCount = ImportantColorCount() != 0 ? ImportantColorCount() : ColorCount();
    paletteCount = std::min(paletteCount, ColorCount());
    if (paletteCount < ColorCount()) {
        // Pixels may use entries past the important ones (a bitmap's colour
        // count is only a hint); a palette chunk without them is no PNG.
        paletteCount = std::max(paletteCount, HighestIndexUsed() + 1);
    }
    const bool writesPalette = WritesPaletteChunk();
    png_color palette[256] = {};
    png_byte opacity[256] = {};
    if (writesPalette) {
        for (std::uint32_t i = 0; i < paletteCount; ++i) {
            const RgbQuad entry = PaletteEntry(static_cast<std::uint8_t>(i));
            palette[i] = png_color{entry.red, entry.green, entry.blue};
            opacity[i] = entry.reserved;
        }
        png_set_PLTE(png, info, palette, static_cast<int>(paletteCount));
    }
    if (writesPalette && PaletteHasAlpha()) {
        png_set_tRNS(png, info, opacity, static_cast<int>(paletteCount), nullptr);
    } else if (transparent && !hasAlpha) {
        png_color_16 transColor{};
        transColor.index = static_cast<png_byte>(TransparentIndex());
        transColor.gray = static_cast<png_uint_16>(TransparentIndex());
        transColor.red = TransparentColor().red;
        transColor.green = TransparentColor().green;
        transColor.blue = TransparentColor().blue;
        png_byte entryZero = 0; // the transparent entry is entry 0 by now
        png_set_tRNS(png, info, writesPalette ? &entryZero : nullptr, 1, &transColor);
    }

    SetPngText(png, info, text_);
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);

    const std::size_t sampleBytes =
        static_cast<std::size_t>(bitDepth / 8) * static_cast<std::size_t>(channels) * width;
    if (!ResizeRow(row, std::max<std::size_t>(sampleBytes, RowBytes()))) {
        png_error(png, "Out of memory");
    }
    std::uint8_t* const buffer = row.data();
    const std::uint8_t* const alpha = AlphaPlane();
    const RgbQuad key = TransparentColor();
    const bool keyOut = transparent && hasAlpha && !hasPalette;
    const std::size_t copyLength = std::min<std::size_t>(row.size(), RowBytes());

    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = height; y-- > 0;) {
            const std::uint8_t* const pixels = RowPointer(y);
            if (hasAlpha) {
                const std::uint8_t* const alphaRow = alpha + std::size_t{y} * width;
                std::uint8_t* out = buffer;
                for (png_uint_32 x = 0; x < width; ++x) {
                    const RgbQuad colour = PixelColorUnchecked(static_cast<std::int32_t>(x),
                                                               static_cast<std::int32_t>(y), false);
                    std::uint8_t opacityValue = alphaRow[x];
                    if (keyOut && colour.blue == key.blue && colour.green == key.green &&
                        colour.red == key.red) {
                        opacityValue = 0;
                    }
                    if (grey) {
                        *out++ = colour.blue;
                    } else {
                        *out++ = colour.red;
                        *out++ = colour.green;
                        *out++ = colour.blue;
                    }
                    *out++ = opacityValue;
                }
            } else {
                std::memcpy(buffer, pixels, copyLength);
                if (colorType == PNG_COLOR_TYPE_RGB) {
                    SwapRedBlue(buffer, static_cast<std::uint32_t>(copyLength));
                }
            }
            png_write_row(png, buffer);
        }
    }
    png_write_end(png, info);
    // libpng itself never flushes after the end chunk; a stream that cannot
    // push out the file's last bytes has not saved it.
    OnFlush(png);
}

} // namespace quiltara
