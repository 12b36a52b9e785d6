#include "TerminalProgress.h"

#include "MakeOptions.h"
#include "run/RunEstimate.h"
#include "tiles/TextFormat.h"

namespace quiltara::make {

void TerminalProgress::RunEstimated(const RunEstimate& estimate) {
    layers_ = estimate.layers;
    meter_.LimitRate(estimate.MostTilesPerSecond());
    // Printed even when quiet: a stitch that cannot fit is worth knowing
    // before the downloads start.
    if (!quiet_ || estimate.TooBigForTrueColour()) {
        console_.Line(EstimateText(estimate));
    }
}

void TerminalProgress::TileStarted(std::size_t index, std::size_t count) {
    if (tilesStarted_ == 0) {
        meter_.Start(count, ProgressMeter::Clock::now());
    }
    ++tilesStarted_;
    // The tiles before this one are finished, all layers of each.
    meter_.SetDone(index);
    tileIndex_ = index;
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
    const std::string speed = meter_.SpeedText(ProgressMeter::Clock::now());
    console_.Status(line + FormatText("  [%zu/%zu, ", tileIndex_ + 1, meter_.Total()) +
                    (speed.empty() ? "-" : speed) + "]");
}

void TerminalProgress::StitchStarted(MapLayer layer, const std::string& outputPath) {
    ++layersStitched_;
    if (quiet_) {
        return;
    }
    if (layers_ > 0 && layersStitched_ > layers_) {
        // The layers' own images are done: this is a composite of two of them.
        console_.Line("Laying one layer over another into " + outputPath);
        return;
    }
    console_.Line(StitchText(layersStitched_, layers_ > 0 ? layers_ : layersStitched_,
                             LayerOptionName(layer)) +
                  " into " + outputPath);
}

} // namespace quiltara::make
