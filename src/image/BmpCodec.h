#pragma once

#include <cstdint>

#include "image/RasterImage.h"

namespace quiltara {

// Windows bitmap reader and writer. Reads the core (12-byte) and info
// (40- to 124-byte) headers at 1, 4, 8, 16, 24 and 32 bits per pixel,
// uncompressed, run-length encoded (RLE4, RLE8) and with bit-field masks;
// 16- and 32-bit pixels become 24-bit, a 32-bit alpha mask becomes the alpha
// plane. Writes the image's own pixel block behind a file header.
class BmpCodec : public RasterImage {
public:
    BmpCodec() : RasterImage(kFormatBmp) {}

    using RasterImage::Decode;
    using RasterImage::Encode;
    bool Decode(ByteStream* stream) override;
    bool Encode(ByteStream* stream) override;

    // The fields of the bitmap's header that the reader acts on.
    struct Layout {
        std::int32_t width = 0;
        std::int32_t height = 0; // negative: rows stored top-down
        std::uint16_t bitCount = 0;
        std::uint32_t compression = 0;
        std::uint32_t colorsUsed = 0;
        std::int32_t xPelsPerMeter = 0;
        std::int32_t yPelsPerMeter = 0;
        std::uint32_t masks[4] = {}; // red, green, blue, alpha
        bool coreHeader = false;
    };

private:
    bool ReadHeader(ByteStream& stream, Layout& layout, std::uint32_t& pixelOffset);
    bool ReadPalette(ByteStream& stream, const Layout& layout);
    bool ReadPlainRows(ByteStream& stream, const Layout& layout);
    bool ReadMaskedRows(ByteStream& stream, const Layout& layout);
    bool ReadRunLengthRows(ByteStream& stream, const Layout& layout);
    bool Truncated();
};

} // namespace quiltara
