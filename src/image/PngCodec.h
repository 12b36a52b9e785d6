#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "image/ImageMetadata.h"
#include "image/RasterImage.h"

struct png_struct_def;
struct png_info_def;

namespace quiltara {

// PNG reader and writer on libpng. Reading keeps the file's layout where the
// image can hold it (1-, 4- and 8-bit palettes and greys, 24-bit colour) and
// folds the rest into it: 2-bit data becomes 4-bit, 16-bit samples keep their
// high-order byte, alpha goes to the alpha plane.
class PngCodec : public RasterImage {
public:
    PngCodec() : RasterImage(kFormatPng) {}

    using RasterImage::Decode;
    using RasterImage::Encode;
    bool Decode(ByteStream* stream) override;
    bool Encode(ByteStream* stream) override;
    // Text chunks the next Encode writes (the map images' credit).
    void SetText(std::vector<PngTextEntry> text) { text_ = std::move(text); }

private:
    // libpng leaves these by longjmp on any error, so they own nothing: the
    // structures and buffers belong to the callers.
    bool ReadGuarded(png_struct_def* png, png_info_def* info, std::vector<std::uint8_t>& row);
    bool ReadBody(png_struct_def* png, png_info_def* info, std::vector<std::uint8_t>& row);
    void ReadPixels(png_struct_def* png, png_info_def* info, int passes, std::uint8_t* buffer);
    bool WritesGrey() const;
    bool WritesPaletteChunk() const;
    std::uint32_t HighestIndexUsed() const;
    bool WriteGuarded(png_struct_def* png, png_info_def* info, std::vector<std::uint8_t>& row,
                      bool swapped);
    void WriteBody(png_struct_def* png, png_info_def* info, std::vector<std::uint8_t>& row,
                   bool swapped);

    std::vector<PngTextEntry> text_;
};

} // namespace quiltara
