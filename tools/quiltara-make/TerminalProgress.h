#pragma once

#include <chrono>
#include <cstddef>

#include "Console.h"
#include "assembly/ProgressSink.h"

namespace quiltara::make {

// The run's progress on the terminal: its progress lines, each tile's with the
// count so far and the rate, and the stitching of each layer.
class TerminalProgress : public ProgressSink {
public:
    TerminalProgress(Console& console, bool quiet) : console_(console), quiet_(quiet) {}

    void ClearLines() override {}
    void AddLine(const std::string& line) override;
    void TileStarted(std::size_t index, std::size_t count) override;
    void StitchStarted(MapLayer layer, const std::string& outputPath) override;

    std::size_t TilesStarted() const { return tilesStarted_; }

private:
    using Clock = std::chrono::steady_clock;

    Console& console_;
    bool quiet_;
    bool inTile_ = false;
    std::size_t tileIndex_ = 0;
    std::size_t tileCount_ = 0;
    std::size_t tilesStarted_ = 0;
    Clock::time_point firstTile_;
};

} // namespace quiltara::make
