#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sources/MapSourcesValues.h"
#include "tiles/TileGrid.h"

namespace quiltara {

// What a create-map run is about to do, worked out before the first request.
struct RunEstimate {
    std::int64_t tiles = 0;     // cells of the tile list
    int layers = 0;             // enabled layers
    std::int64_t downloads = 0; // tiles x layers
    std::int64_t imageWidth = 0;
    std::int64_t imageHeight = 0;
    std::uint64_t stitchBytes = 0;   // the 24-bit image the in-memory stitch holds
    std::uint64_t paletteBytes = 0;  // its 256-colour fallback
    std::uint64_t downloadBytes = 0; // rough: a typical tile size per layer
    std::uint64_t machineBytes = 0;  // physical memory; 0 when unknown
    bool streamed = false;           // the images go to their files band by band
    double requestRate = 0.0;        // the most requests per second the run sends; 0: no limit
    bool package = false;            // the tiles go into packages, not images
    // The tiles of each zoom, shallowest first, when the run fetches several.
    std::vector<std::pair<int, std::int64_t>> zoomTiles;

    // The downloads cannot take less than this at the request rate (0 without one).
    double LeastDownloadSeconds() const {
        return requestRate > 0.0 ? static_cast<double>(downloads) / requestRate : 0.0;
    }
    // The most tiles (all layers of each) a second at that rate; 0: no limit.
    double MostTilesPerSecond() const {
        return requestRate > 0.0 && layers > 0 ? requestRate / layers : 0.0;
    }

    // The in-memory stitch cannot hold the 24-bit image on this machine.
    bool TooBigForTrueColour() const {
        return !streamed && machineBytes != 0 && stitchBytes > machineBytes;
    }
    // Nor the 256-colour one.
    bool TooBigForPalette() const {
        return !streamed && machineBytes != 0 && paletteBytes > machineBytes;
    }
};

// The zooms a run fetches, shallowest first: the tiles at each cover the
// area of range at zoom. One zoom alone when firstZoom is -1 or not shallower.
struct ZoomTiles {
    int zoom = 0;
    TileRange range;
    std::int64_t tiles = 0;
};
std::vector<ZoomTiles> RunZooms(const TileRange& range, int zoom, int firstZoom,
                                std::size_t deepestTiles);
// The tiles of every zoom together.
std::size_t TilesOverZooms(const std::vector<ZoomTiles>& zooms);

// Notes the tiles of each zoom in the estimate when there are several.
void NoteZooms(RunEstimate& estimate, const std::vector<ZoomTiles>& zooms);

// The estimate for tileCount tiles of range with the enabled layers of
// sources, on a machine with machineBytes of memory (0: unknown).
RunEstimate EstimateRun(std::size_t tileCount, const TileRange& range,
                        const MapSourcesValues& sources, std::uint64_t machineBytes);

// One line for the head of the progress list, for example
// "Estimate: 6 tiles x 2 layers = 12 downloads, roughly 240 KB; each image
// 768 x 512 pixels, 1.1 MB in memory to stitch", with a warning added when
// the stitch cannot fit the machine's memory.
std::string EstimateText(const RunEstimate& estimate);

// "512 bytes", "240 KB", "1.1 MB", "3.9 GB" (units of 1024).
std::string ByteSizeText(std::uint64_t bytes);

// The machine's physical memory in bytes; 0 when it cannot be told.
std::uint64_t MachineMemoryBytes();

} // namespace quiltara
