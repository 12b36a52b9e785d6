#include "image/TileFile.h"

namespace quiltara {

bool LoadTile(RasterImage& tile, const std::filesystem::path& file) {
    tile.SetReadLimits(ReadLimits{kLargestTileSide, kLargestTileSide, true});
    return tile.LoadFile(file.string(), kFormatPng) && tile.HasPixels();
}

bool AnythingAt(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

} // namespace quiltara
