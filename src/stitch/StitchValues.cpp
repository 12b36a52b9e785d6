#include "stitch/StitchValues.h"

#include <algorithm>
#include <cstdint>

#include "image/TileFile.h"

namespace quiltara {

std::string LayerFolder(const std::string& outputFolder, const std::string& subfolder) {
    std::string folder = outputFolder;
    if (!subfolder.empty()) {
        folder += subfolder;
        folder += '/';
    }
    return folder;
}

std::string LayerImagePath(const std::string& outputFolder, const std::string& fileName,
                           MapLayer layer, const std::string& subfolder) {
    return LayerFolder(outputFolder, subfolder) + LayerPrefix(layer) + fileName;
}

std::string LayerTiles::FileName(int column, int row, int atZoom) const {
    return LayerPrefix(layer) + TileFileName(column, row, atZoom);
}

std::vector<std::string> LayerTiles::PathsAt(int column, int row) const {
    std::vector<std::string> paths{folder + FileName(column, row)};
    if (overlay) {
        paths.push_back(overlay->folder + LayerPrefix(overlay->layer) +
                        TileFileName(column, row, zoom));
    }
    return paths;
}

std::string CompositePrefix(MapLayer base, MapLayer overlay) {
    std::string prefix = LayerPrefix(base);
    if (!prefix.empty() && prefix.back() == '_') {
        prefix.pop_back();
    }
    return prefix + LayerPrefix(overlay);
}

std::string CompositeImagePath(const std::string& outputFolder, const std::string& fileName,
                               MapLayer base, MapLayer overlay, const std::string& baseSubfolder) {
    return LayerFolder(outputFolder, baseSubfolder) + CompositePrefix(base, overlay) + fileName;
}

bool LayerCarriesTransparency(const LayerTiles& tiles) {
    // Tiles looked at before the layer's kind is settled.
    constexpr int kTilesProbed = 16;
    if (tiles.layer == MapLayer::Hybrid) {
        return true;
    }
    int probed = 0;
    for (int y = tiles.range.yFirst; y <= tiles.range.yLast && probed < kTilesProbed; ++y) {
        for (int x = tiles.range.xFirst; x <= tiles.range.xLast && probed < kTilesProbed; ++x) {
            ++probed;
            RasterImage tile(kFormatPng);
            if (LoadTile(tile, tiles.folder + tiles.FileName(x, y)) && tile.HasPixels()) {
                return tile.HasAlpha() || tile.HasTransparentColor() ||
                       (tile.ColorCount() != 0 && tile.PaletteHasAlpha());
            }
        }
    }
    return false;
}

bool AnyTilePlaced(const std::vector<TileProblem>& problems, const TileRange& range, int layers) {
    const std::int64_t tiles = (std::int64_t{range.xLast} - range.xFirst + 1) *
                               (std::int64_t{range.yLast} - range.yFirst + 1) * layers;
    const auto unplaced = std::count_if(problems.begin(), problems.end(), [](const auto& p) {
        return p.kind != TileProblem::Kind::OffSize;
    });
    return unplaced < tiles;
}

} // namespace quiltara
