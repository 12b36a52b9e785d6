#include "assembly/TileImageCheck.h"

namespace quiltara {

bool LoadTile(RasterImage& tile, const std::filesystem::path& file) {
    tile.SetReadLimits(ReadLimits{kLargestTileSide, kLargestTileSide, true});
    return tile.LoadFile(file.string(), kFormatPng) && tile.HasPixels();
}

bool RasterImageCheck::IsUsableImage(const std::filesystem::path& file) const {
    RasterImage image;
    return LoadTile(image, file) && image.Width() > 0 && image.Height() > 0;
}

bool AnythingAt(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

} // namespace quiltara
