#pragma once

#include <cstddef>
#include <string>

#include "tiles/MapLayer.h"

namespace quiltara {

struct RunEstimate;

// Where a create-map run reports how far it has got. The progress list of the
// control panel shows the lines; the other calls carry the same progress in a
// form a front end can count and time, and may be ignored.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;

    // Empties the progress list.
    virtual void ClearLines() = 0;
    // Appends one line to the progress list.
    virtual void AddLine(const std::string& line) = 0;

    // The map sources are chosen and nothing is fetched yet: what the run
    // will download and make (a line for the head of the progress list).
    virtual void RunEstimated(const RunEstimate& /*estimate*/) {}
    // Tile number index (from 0) of count is about to be fetched for every
    // enabled layer; called just before its progress line is added.
    virtual void TileStarted(std::size_t /*index*/, std::size_t /*count*/) {}
    // So far fromCache tile files (of any layer) were placed from the tile
    // cache rather than downloaded; called as the tiles are reported.
    virtual void TilesFromCache(std::size_t /*fromCache*/) {}
    // The stitcher starts on a layer's image, to be saved at outputPath.
    virtual void StitchStarted(MapLayer /*layer*/, const std::string& /*outputPath*/) {}
    // The stitcher is done with a layer; saved tells whether the file was written.
    virtual void StitchFinished(MapLayer /*layer*/, const std::string& /*outputPath*/,
                                bool /*saved*/) {}
};

// A sink that drops everything.
class NullProgressSink : public ProgressSink {
public:
    void ClearLines() override {}
    void AddLine(const std::string& /*line*/) override {}
};

} // namespace quiltara
