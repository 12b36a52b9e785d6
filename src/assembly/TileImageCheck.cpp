#include "assembly/TileImageCheck.h"

#include "image/RasterImage.h"

namespace quiltara {

bool RasterImageCheck::IsUsableImage(const std::filesystem::path& file) const {
    RasterImage image;
    return image.LoadFile(file.string(), kFormatUnknown) && image.HasPixels() &&
           image.Width() > 0 && image.Height() > 0;
}

} // namespace quiltara
