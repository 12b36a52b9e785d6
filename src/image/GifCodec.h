#pragma once

#include "image/RasterImage.h"

namespace quiltara {

// GIF reader and writer on giflib. The reader takes the first picture of the
// file into an 8-bit palette image of the logical screen's size (the frame's
// own size when it does not fit the screen or the screen is absurdly large),
// with the frame's transparent
// index; the writer stores palette images of 1, 4 or 8 bits.
class GifCodec : public RasterImage {
public:
    GifCodec() : RasterImage(kFormatGif) {}

    using RasterImage::Decode;
    using RasterImage::Encode;
    bool Decode(ByteStream* stream) override;
    bool Encode(ByteStream* stream) override;
};

} // namespace quiltara
