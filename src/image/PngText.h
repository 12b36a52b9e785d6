#pragma once

#include <vector>

#include "image/ImageMetadata.h"

struct png_struct_def;
struct png_info_def;

namespace quiltara {

// Hands the text chunks to libpng for the write under way; they go out with
// the header, before the image data. libpng copies the texts.
void SetPngText(png_struct_def* png, png_info_def* info, const std::vector<PngTextEntry>& text);

} // namespace quiltara
