#include "download/TileImageCheck.h"

namespace quiltara {

bool RasterImageCheck::IsUsableImage(const std::filesystem::path& file) const {
    RasterImage image;
    return LoadTile(image, file) && image.Width() > 0 && image.Height() > 0;
}

} // namespace quiltara
