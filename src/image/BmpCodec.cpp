#include "image/BmpCodec.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "image/ByteStream.h"

namespace quiltara {

namespace {

constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kRle8 = 1;
constexpr std::uint32_t kRle4 = 2;
constexpr std::uint32_t kBitFields = 3;
constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;

std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t U32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

void Put16(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

bool ReadExact(ByteStream& stream, void* buffer, std::size_t length) {
    return stream.Read(buffer, 1, length) == length;
}

std::int32_t PerMetreToDpi(std::int32_t perMetre) {
    const double dpi = std::floor(perMetre * 0.0254 + 0.5);
    return dpi > 1000000.0 ? 0 : static_cast<std::int32_t>(dpi);
}

// Extracts one channel of a packed pixel through its bit mask and scales it to
// 0..255, whatever the mask's width.
std::uint8_t Channel(std::uint32_t pixel, std::uint32_t mask) {
    if (mask == 0) {
        return 0;
    }
    // Worked out in 64 bits: a mask wider than 24 bits would wrap around.
    const int shift = std::countr_zero(mask);
    const std::uint64_t maximum = mask >> shift;
    const std::uint64_t value = (pixel & mask) >> shift;
    return static_cast<std::uint8_t>((value * 255 + maximum / 2) / maximum);
}

} // namespace

bool BmpCodec::Truncated() {
    SetErrorText("BMP: unexpected end of data");
    return false;
}

bool BmpCodec::ReadHeader(ByteStream& stream, Layout& layout, std::uint32_t& pixelOffset) {
    std::uint8_t fileHeader[kFileHeaderSize + 4];
    if (!ReadExact(stream, fileHeader, sizeof fileHeader) || fileHeader[0] != 'B' ||
        fileHeader[1] != 'M') {
        SetErrorText("BMP: not a bitmap file");
        return false;
    }
    pixelOffset = U32(fileHeader + 10);
    const std::uint32_t headerSize = U32(fileHeader + 14);
    std::uint8_t header[124] = {};
    if (headerSize == 12) {
        if (!ReadExact(stream, header + 4, 8)) {
            return Truncated();
        }
        layout.coreHeader = true;
        layout.width = U16(header + 4);
        layout.height = U16(header + 6);
        if (U16(header + 8) != 1) {
            SetErrorText("BMP: unsupported header");
            return false;
        }
        layout.bitCount = U16(header + 10);
    } else if (headerSize >= kInfoHeaderSize && headerSize <= sizeof header) {
        if (!ReadExact(stream, header + 4, headerSize - 4)) {
            return Truncated();
        }
        layout.width = static_cast<std::int32_t>(U32(header + 4));
        layout.height = static_cast<std::int32_t>(U32(header + 8));
        if (U16(header + 12) != 1) {
            SetErrorText("BMP: unsupported header");
            return false;
        }
        layout.bitCount = U16(header + 14);
        layout.compression = U32(header + 16);
        layout.xPelsPerMeter = static_cast<std::int32_t>(U32(header + 24));
        layout.yPelsPerMeter = static_cast<std::int32_t>(U32(header + 28));
        layout.colorsUsed = U32(header + 32);
        if (layout.compression == kBitFields) {
            if (headerSize >= 52) {
                for (int i = 0; i < 3; ++i) {
                    layout.masks[i] = U32(header + 40 + 4 * i);
                }
            } else if (!ReadExact(stream, header + 40, 12)) {
                return Truncated();
            } else {
                for (int i = 0; i < 3; ++i) {
                    layout.masks[i] = U32(header + 40 + 4 * i);
                }
            }
        }
        if (headerSize >= 56) {
            layout.masks[3] = U32(header + 52);
        }
    } else {
        SetErrorText("BMP: unsupported header");
        return false;
    }

    const std::uint16_t bits = layout.bitCount;
    const std::uint32_t compression = layout.compression;
    const bool validDepth =
        bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    const bool validCompression = compression == kRgb || (compression == kRle8 && bits == 8) ||
                                  (compression == kRle4 && bits == 4) ||
                                  (compression == kBitFields && (bits == 16 || bits == 32));
    const bool topDown = layout.height < 0;
    if (!validDepth || !validCompression || layout.width <= 0 || layout.height == 0 ||
        layout.height == INT32_MIN || (topDown && (compression == kRle4 || compression == kRle8))) {
        SetErrorText("BMP: unsupported header");
        return false;
    }
    if (bits <= 8 && layout.colorsUsed > (1u << bits)) {
        SetErrorText("BMP: unsupported header");
        return false;
    }
    if (bits == 16 && compression == kRgb) {
        layout.masks[0] = 0x7C00; // 5-5-5
        layout.masks[1] = 0x03E0;
        layout.masks[2] = 0x001F;
    }
    if (bits == 32 && compression == kRgb) {
        layout.masks[0] = 0x00FF0000;
        layout.masks[1] = 0x0000FF00;
        layout.masks[2] = 0x000000FF;
        layout.masks[3] = 0; // the fourth byte of a plain 32-bit bitmap is padding
    }
    return true;
}

bool BmpCodec::ReadPalette(ByteStream& stream, const Layout& layout) {
    const std::uint32_t maximum = 1u << layout.bitCount;
    const std::uint32_t count = layout.colorsUsed != 0 ? layout.colorsUsed : maximum;
    const std::size_t entrySize = layout.coreHeader ? 3 : 4;
    std::uint8_t entries[256 * 4];
    if (!ReadExact(stream, entries, count * entrySize)) {
        return Truncated();
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = entries + i * entrySize;
        SetPaletteEntry(static_cast<std::uint8_t>(i), RgbQuad{entry[0], entry[1], entry[2], 0});
    }
    SetImportantColorCount(count);
    return true;
}

bool BmpCodec::Decode(ByteStream* stream) {
    if (stream == nullptr) {
        SetErrorText("null file handler");
        return false;
    }
    const std::int32_t start = stream->Tell();
    Layout layout;
    std::uint32_t pixelOffset = 0;
    if (!ReadHeader(*stream, layout, pixelOffset)) {
        return false;
    }
    const std::int32_t height = layout.height < 0 ? -layout.height : layout.height;
    if (ExceedsReadLimits(static_cast<std::uint32_t>(layout.width),
                          static_cast<std::uint32_t>(height))) {
        return false;
    }
    if (Escape() == -1) {
        header_.width = layout.width;
        header_.height = height;
        settings_.formatId = kFormatBmp;
        return true;
    }
    if (Escape() != 0) {
        return false;
    }
    const std::uint32_t depth = layout.bitCount <= 8 ? layout.bitCount : 24;
    if (Create(static_cast<std::uint32_t>(layout.width), static_cast<std::uint32_t>(height), depth,
               kFormatBmp) == nullptr) {
        return false;
    }
    if (layout.bitCount <= 8 && !ReadPalette(*stream, layout)) {
        return false;
    }
    SetHorizontalDpi(PerMetreToDpi(layout.xPelsPerMeter));
    SetVerticalDpi(PerMetreToDpi(layout.yPelsPerMeter));

    // The pixel offset counts from the file header; files that leave it 0 or
    // point back into the headers have their rows right behind the palette.
    const std::int64_t offset = std::int64_t{start} + pixelOffset;
    if (pixelOffset != 0 && offset > stream->Tell() && offset <= INT32_MAX &&
        !stream->Seek(static_cast<std::int32_t>(offset), 0)) {
        return Truncated();
    }
    if (layout.compression == kRle4 || layout.compression == kRle8) {
        return ReadRunLengthRows(*stream, layout);
    }
    if (layout.bitCount == 16 || layout.bitCount == 32) {
        return ReadMaskedRows(*stream, layout);
    }
    return ReadPlainRows(*stream, layout);
}

bool BmpCodec::ReadPlainRows(ByteStream& stream, const Layout& layout) {
    const auto height = static_cast<std::uint32_t>(Height());
    for (std::uint32_t row = 0; row < height; ++row) {
        if (Escape() != 0) {
            return false;
        }
        const std::uint32_t y = layout.height < 0 ? height - 1 - row : row;
        if (!ReadExact(stream, RowPointer(y), RowBytes())) {
            return Truncated();
        }
    }
    return true;
}

bool BmpCodec::ReadMaskedRows(ByteStream& stream, const Layout& layout) {
    const auto width = static_cast<std::uint32_t>(Width());
    const auto height = static_cast<std::uint32_t>(Height());
    const std::size_t pixelBytes = layout.bitCount / 8;
    const std::size_t fileRowBytes = ((std::size_t{width} * layout.bitCount + 31) / 32) * 4;
    std::vector<std::uint8_t> buffer(fileRowBytes);
    const bool withAlpha = layout.masks[3] != 0 && CreateAlpha();
    for (std::uint32_t row = 0; row < height; ++row) {
        if (Escape() != 0) {
            return false;
        }
        if (!ReadExact(stream, buffer.data(), fileRowBytes)) {
            return Truncated();
        }
        const std::uint32_t y = layout.height < 0 ? height - 1 - row : row;
        std::uint8_t* out = RowPointer(y);
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t* p = buffer.data() + x * pixelBytes;
            const std::uint32_t pixel = pixelBytes == 2 ? U16(p) : U32(p);
            out[3 * x] = Channel(pixel, layout.masks[2]);
            out[3 * x + 1] = Channel(pixel, layout.masks[1]);
            out[3 * x + 2] = Channel(pixel, layout.masks[0]);
            if (withAlpha) {
                SetAlphaAt(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y),
                           Channel(pixel, layout.masks[3]));
            }
        }
    }
    return true;
}

// Run-length data may skip pixels (end of line, end of bitmap, deltas); those
// keep index 0. Runs that would leave the image are cut at its edge.
bool BmpCodec::ReadRunLengthRows(ByteStream& stream, const Layout& layout) {
    const std::int32_t width = Width();
    const std::int32_t height = Height();
    const bool fourBit = layout.compression == kRle4;
    // Moves to the right are not bounded by the data's own rules: a long file
    // of them would take a 32-bit column past its largest value.
    std::int64_t x = 0;
    std::int64_t y = 0;
    const auto put = [&](std::uint8_t index) {
        if (x < width && y < height) {
            PutPixelIndex(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), index);
        }
        ++x;
    };
    while (y < height) {
        if (Escape() != 0) {
            return false;
        }
        std::uint8_t pair[2];
        if (!ReadExact(stream, pair, 2)) {
            return Truncated();
        }
        if (pair[0] > 0) { // a run of one value (two alternating nibbles in RLE4)
            for (int i = 0; i < pair[0] && x < width; ++i) {
                put(fourBit ? static_cast<std::uint8_t>(i % 2 == 0 ? pair[1] >> 4 : pair[1] & 0x0F)
                            : pair[1]);
            }
            continue;
        }
        if (pair[1] == 0) { // end of line
            x = 0;
            ++y;
        } else if (pair[1] == 1) { // end of bitmap
            return true;
        } else if (pair[1] == 2) { // move right and up
            std::uint8_t delta[2];
            if (!ReadExact(stream, delta, 2)) {
                return Truncated();
            }
            x += delta[0];
            y += delta[1];
        } else { // literal pixels, padded to a 16-bit boundary
            const int count = pair[1];
            const int bytes = fourBit ? (count + 1) / 2 : count;
            std::uint8_t literal[256];
            if (!ReadExact(stream, literal, static_cast<std::size_t>((bytes + 1) & ~1))) {
                return Truncated();
            }
            for (int i = 0; i < count; ++i) {
                put(fourBit ? static_cast<std::uint8_t>(i % 2 == 0 ? literal[i / 2] >> 4
                                                                   : literal[i / 2] & 0x0F)
                            : literal[i]);
            }
        }
    }
    return true;
}

bool BmpCodec::Encode(ByteStream* stream) {
    if (CheckBeforeEncode(stream)) {
        return false;
    }
    const std::uint32_t paletteBytes = 4 * ColorCount();
    const std::uint32_t imageBytes = RowBytes() * static_cast<std::uint32_t>(Height());
    const std::uint32_t pixelOffset = kFileHeaderSize + kInfoHeaderSize + paletteBytes;
    std::uint8_t headers[kFileHeaderSize + kInfoHeaderSize] = {'B', 'M'};
    Put32(headers + 2, pixelOffset + imageBytes);
    Put32(headers + 10, pixelOffset);
    std::uint8_t* info = headers + kFileHeaderSize;
    Put32(info, kInfoHeaderSize);
    Put32(info + 4, static_cast<std::uint32_t>(Width()));
    Put32(info + 8, static_cast<std::uint32_t>(Height()));
    Put16(info + 12, 1);
    Put16(info + 14, BitsPerPixel());
    Put32(info + 16, kRgb);
    Put32(info + 20, imageBytes);
    Put32(info + 24, static_cast<std::uint32_t>(Header().xPelsPerMeter));
    Put32(info + 28, static_cast<std::uint32_t>(Header().yPelsPerMeter));
    Put32(info + 32, ColorCount());
    Put32(info + 36, ImportantColorCount());

    bool written = stream->Write(headers, 1, sizeof headers) == sizeof headers;
    if (written && paletteBytes > 0) {
        written = stream->Write(PixelBlock() + kInfoHeaderSize, 1, paletteBytes) == paletteBytes;
    }
    if (written) {
        written = stream->Write(RowPointer(0), 1, imageBytes) == imageBytes;
    }
    if (!written) {
        SetErrorText("BMP: write error");
        return false;
    }
    return true;
}

} // namespace quiltara
