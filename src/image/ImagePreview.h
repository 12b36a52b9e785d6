#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "image/PreviewPixels.h"

namespace quiltara {

// Reads a preview of the PNG or TIFF (GeoTIFF) file at path, each preview
// pixel the mean of the image pixels it stands for. A map image can be far
// larger than memory, so the file is never held whole: a PNG is read row by
// row (an interlaced one too large to hold goes by its first pass, every
// eighth pixel each way), a TIFF by the smallest of its overviews that is
// still at least as large as the preview, in bands. Nothing for a file that
// is missing, of another kind or damaged, or when stop says so before the end.
std::optional<ImagePreview> ReadImagePreview(const std::string& path, std::uint32_t maxSide,
                                             const StopRequested& stop = {});

} // namespace quiltara
