#include "stitch/StitchValues.h"

#include <algorithm>
#include <cstdint>

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

bool AnyTilePlaced(const std::vector<TileProblem>& problems, const TileRange& range) {
    const std::int64_t tiles = (std::int64_t{range.xLast} - range.xFirst + 1) *
                               (std::int64_t{range.yLast} - range.yFirst + 1);
    const auto unplaced = std::count_if(problems.begin(), problems.end(), [](const auto& p) {
        return p.kind != TileProblem::Kind::OffSize;
    });
    return unplaced < tiles;
}

} // namespace quiltara
