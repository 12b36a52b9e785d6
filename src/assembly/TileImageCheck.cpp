#include "assembly/TileImageCheck.h"

namespace quiltara {

bool LoadTile(RasterImage& tile, const std::filesystem::path& file, bool wholeData) {
    tile.SetReadLimits(ReadLimits{kLargestTileSide, kLargestTileSide, wholeData});
    return tile.LoadFile(file.string(), kFormatPng) && tile.HasPixels();
}

bool RasterImageCheck::IsUsableImage(const std::filesystem::path& file) const {
    RasterImage image;
    return LoadTile(image, file, true) && image.Width() > 0 && image.Height() > 0;
}

} // namespace quiltara
