#pragma once

#include "image/RasterImage.h"

struct tiff;

namespace quiltara {

// TIFF reader and writer on libtiff. The reader takes the first directory
// through libtiff's RGBA interface, so every photometric libtiff knows comes
// out as a 24-bit image (with an alpha plane when the file has alpha). The
// writer stores 24-bit images as RGB, palette images as palette (an 8-bit
// grey ramp as grey), with LZW compression.
class TiffCodec : public RasterImage {
public:
    TiffCodec() : RasterImage(kFormatTiff) {}

    using RasterImage::Decode;
    using RasterImage::Encode;
    bool Decode(ByteStream* stream) override;
    bool Encode(ByteStream* stream) override;

private:
    static bool ReadsDirectly(tiff* tif);
    bool ReadScanlines(tiff* tif, bool& reported);
    bool ReadThroughRgba(tiff* tif, bool& reported);
};

} // namespace quiltara
