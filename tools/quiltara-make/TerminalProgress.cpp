#include "TerminalProgress.h"

#include "MakeOptions.h"
#include "tiles/TextFormat.h"

namespace quiltara::make {

void TerminalProgress::TileStarted(std::size_t index, std::size_t count) {
    if (tilesStarted_ == 0) {
        firstTile_ = Clock::now();
    }
    ++tilesStarted_;
    tileIndex_ = index;
    tileCount_ = count;
    inTile_ = true;
}

void TerminalProgress::AddLine(const std::string& line) {
    if (quiet_) {
        return;
    }
    if (!inTile_) {
        console_.Line(line);
        return;
    }
    inTile_ = false;
    // The rate counts the tiles finished so far, all layers of each included.
    const double seconds = std::chrono::duration<double>(Clock::now() - firstTile_).count();
    std::string rate = "-";
    if (tileIndex_ > 0 && seconds > 0.0) {
        rate = FormatText("%.1f", static_cast<double>(tileIndex_) / seconds);
    }
    console_.Status(line + FormatText("  [%zu/%zu, ", tileIndex_ + 1, tileCount_) + rate +
                    " tiles/s]");
}

void TerminalProgress::StitchStarted(MapLayer layer, const std::string& outputPath) {
    if (quiet_) {
        return;
    }
    console_.Line(std::string("Stitching the ") + LayerOptionName(layer) + " layer into " +
                  outputPath);
}

} // namespace quiltara::make
