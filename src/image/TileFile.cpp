#include "image/TileFile.h"

#include <algorithm>
#include <cstring>

namespace quiltara {

bool LoadTile(RasterImage& tile, const std::filesystem::path& file) {
    tile.SetReadLimits(ReadLimits{kLargestTileSide, kLargestTileSide, true});
    return tile.LoadFile(file.string(), kFormatPng) && tile.HasPixels();
}

bool AnythingAt(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

bool CropTile(const RasterImage& tile, RasterImage& cell) {
    const auto width = static_cast<std::uint32_t>(std::min<std::int64_t>(tile.Width(), kTileSide));
    const auto height =
        static_cast<std::uint32_t>(std::min<std::int64_t>(tile.Height(), kTileSide));
    const std::uint32_t depth = tile.BitsPerPixel();
    if (cell.Create(width, height, depth, kFormatPng) == nullptr) {
        return false;
    }
    if (depth <= 8) {
        for (std::uint32_t i = 0; i < (1U << depth); ++i) {
            cell.SetPaletteEntry(static_cast<std::uint8_t>(i),
                                 tile.PaletteEntry(static_cast<std::uint8_t>(i)));
        }
    }
    // Rows count from the bottom: the tile's top rows are its last ones.
    const std::uint32_t skipped = static_cast<std::uint32_t>(tile.Height()) - height;
    const std::size_t rowBytes = (std::size_t{width} * depth + 7) / 8;
    for (std::uint32_t y = 0; y < height; ++y) {
        std::memcpy(cell.RowPointer(y), tile.RowPointer(skipped + y), rowBytes);
    }
    cell.SetPaletteHasAlpha(tile.PaletteHasAlpha());
    cell.SetTransparentIndex(tile.TransparentIndex());
    cell.SetTransparentColor(tile.TransparentColor());
    if (tile.HasAlpha() && cell.CreateAlpha()) {
        for (std::uint32_t y = 0; y < height; ++y) {
            for (std::uint32_t x = 0; x < width; ++x) {
                cell.SetAlphaAt(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y),
                                tile.AlphaAt(static_cast<std::int32_t>(x),
                                             static_cast<std::int32_t>(skipped + y)));
            }
        }
    }
    return true;
}

} // namespace quiltara
