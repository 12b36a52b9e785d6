#pragma once

#include <cstddef>

#include "Console.h"
#include "run/ProgressMeter.h"
#include "tiles/ProgressSink.h"

namespace quiltara::make {

// The run's progress on the terminal: the estimate, its progress lines, each
// tile's with the count so far, the rate and the time left, and the stitching
// of each layer.
class TerminalProgress : public ProgressSink {
public:
    TerminalProgress(Console& console, bool quiet) : console_(console), quiet_(quiet) {}

    void ClearLines() override {}
    void AddLine(const std::string& line) override;
    void RunEstimated(const RunEstimate& estimate) override;
    void TileStarted(std::size_t index, std::size_t count) override;
    void TilesFromCache(std::size_t fromCache) override { meter_.SetFromCache(fromCache); }
    void StitchStarted(MapLayer layer, const std::string& outputPath) override;

    std::size_t TilesStarted() const { return tilesStarted_; }

private:
    Console& console_;
    bool quiet_;
    bool inTile_ = false;
    std::size_t tileIndex_ = 0;
    std::size_t tilesStarted_ = 0;
    int layers_ = 0;
    int layersStitched_ = 0;
    ProgressMeter meter_;
};

} // namespace quiltara::make
