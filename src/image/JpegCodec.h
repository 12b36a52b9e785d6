#pragma once

#include "image/ExifReader.h"
#include "image/RasterImage.h"

namespace quiltara {

// JPEG reader and writer on libjpeg. The reader decodes truncated data as far
// as it goes and leaves the rows without data zero, which is how a tile cut
// short by the network still lands in the map; a caller whose read limits ask
// for whole data gets a failure instead.
//
// Reader options, in the JPEG codec option word (CodecFlags(kFormatJpeg)):
// kJpegGreyOutput decodes to 8-bit grey, kJpegFastDct trades accuracy for
// speed, kJpegNoSmoothing turns off fancy upsampling and block smoothing. The
// decoding scale of the settings (2, 4 or 8) shrinks the output by that factor.
class JpegCodec : public RasterImage {
public:
    static constexpr std::uint32_t kJpegGreyOutput = 0x80;
    static constexpr std::uint32_t kJpegFastDct = 0x400;
    static constexpr std::uint32_t kJpegNoSmoothing = 0x800;

    JpegCodec() : RasterImage(kFormatJpeg) {}

    using RasterImage::Decode;
    using RasterImage::Encode;
    bool Decode(ByteStream* stream) override;
    bool Encode(ByteStream* stream) override;

    // What the last Decode found in the data's EXIF block.
    const ExifReader& Exif() const { return exif_; }

private:
    struct Decompressor;
    struct Compressor;

    // libjpeg leaves these by longjmp on any error, so they own nothing: the
    // libjpeg objects belong to the callers.
    bool DecodeGuarded(Decompressor& jpeg);
    bool DecodeBody(Decompressor& jpeg);
    bool AbsorbScans(Decompressor& jpeg);
    bool ReadRows(Decompressor& jpeg);
    void ApplyResolution(const Decompressor& jpeg);
    bool EncodeGuarded(Compressor& jpeg);
    void EncodeBody(Compressor& jpeg);

    ExifReader exif_;
};

} // namespace quiltara
