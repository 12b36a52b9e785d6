#pragma once

#include <cstdint>
#include <vector>

#include "image/RasterImage.h"

namespace quiltara {

// The pixels of an image as red, green, blue, alpha bytes, rows from the top
// of the picture down: the colour is the palette entry or the stored colour;
// alpha comes from the alpha plane, else from the palette's opacity bytes,
// else it is 0 where the pixel counts as transparent and 255 elsewhere. This
// is what developers compare against other decoders (quiltara-imgtool rgba).
std::vector<std::uint8_t> RgbaReadback(const RasterImage& image);

} // namespace quiltara
