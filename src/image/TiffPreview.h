#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "image/PreviewPixels.h"

namespace quiltara {

// The TIFF half of ReadImagePreview.
std::optional<ImagePreview> ReadTiffPreview(const std::string& path, std::uint32_t maxSide,
                                            const StopRequested& stop);

} // namespace quiltara
