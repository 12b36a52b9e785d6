#include "run/RunEstimate.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>

#include "run/ProgressMeter.h"
#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

constexpr std::int64_t kTileSize = 256;

// Typical sizes of one 256 x 256 tile as the map services send them: road
// maps and terrain compress well as PNG, satellite photographs are JPEG,
// the hybrid overlay is mostly transparent.
constexpr std::array<std::uint64_t, 4> kTypicalTileBytes = {20 * 1024, 25 * 1024, 15 * 1024,
                                                            10 * 1024};

std::string Counted(std::int64_t count, const char* noun) {
    return FormatText("%lld %s%s", static_cast<long long>(count), noun, count == 1 ? "" : "s");
}

} // namespace

std::vector<ZoomTiles> RunZooms(const TileRange& range, int zoom, int firstZoom,
                                std::size_t deepestTiles) {
    std::vector<ZoomTiles> zooms;
    for (int z = firstZoom < 0 ? zoom : std::min(firstZoom, zoom); z < zoom; ++z) {
        const TileRange shallower = RangeAtZoom(range, zoom, z);
        zooms.push_back(ZoomTiles{z, shallower, TileCount(shallower)});
    }
    // The deepest zoom's tiles are the list's, which the selection decides.
    zooms.push_back(ZoomTiles{zoom, range, static_cast<std::int64_t>(deepestTiles)});
    return zooms;
}

std::size_t TilesOverZooms(const std::vector<ZoomTiles>& zooms) {
    std::size_t total = 0;
    for (const ZoomTiles& z : zooms) {
        total += static_cast<std::size_t>(z.tiles);
    }
    return total;
}

void NoteZooms(RunEstimate& estimate, const std::vector<ZoomTiles>& zooms) {
    estimate.zoomTiles.clear();
    if (zooms.size() > 1) {
        for (const ZoomTiles& z : zooms) {
            estimate.zoomTiles.emplace_back(z.zoom, z.tiles);
        }
    }
}

RunEstimate EstimateRun(std::size_t tileCount, const TileRange& range,
                        const MapSourcesValues& sources, std::uint64_t machineBytes) {
    RunEstimate estimate;
    estimate.tiles = static_cast<std::int64_t>(tileCount);
    std::uint64_t bytesPerTile = 0;
    for (MapLayer layer : kAllLayers) {
        if (sources.IsDownloaded(layer)) {
            ++estimate.layers;
            bytesPerTile += kTypicalTileBytes[static_cast<std::size_t>(layer)];
        }
    }
    estimate.downloads = estimate.tiles * estimate.layers;
    estimate.downloadBytes = static_cast<std::uint64_t>(estimate.tiles) * bytesPerTile;
    estimate.imageWidth = (std::int64_t{range.xLast} - range.xFirst + 1) * kTileSize;
    estimate.imageHeight = (std::int64_t{range.yLast} - range.yFirst + 1) * kTileSize;
    const auto width = static_cast<std::uint64_t>(estimate.imageWidth);
    const auto height = static_cast<std::uint64_t>(estimate.imageHeight);
    // Rows of three bytes per pixel padded to four bytes, as the image holds
    // them; the 256-colour image has one byte per pixel and its palette.
    estimate.stitchBytes = (width * 3 + 3) / 4 * 4 * height;
    estimate.paletteBytes = width * height + 1024;
    estimate.machineBytes = machineBytes;
    return estimate;
}

std::string EstimateText(const RunEstimate& e) {
    std::string text = "Estimate: " + Counted(e.tiles, "tile");
    if (!e.zoomTiles.empty()) {
        std::string perZoom;
        for (const auto& [zoom, tiles] : e.zoomTiles) {
            perZoom += FormatText("%szoom %i: %lld", perZoom.empty() ? "" : ", ", zoom,
                                  static_cast<long long>(tiles));
        }
        text += " (" + perZoom + ")";
    }
    text += " x " + Counted(e.layers, "layer") + " = " + Counted(e.downloads, "download") +
            ", roughly " + ByteSizeText(e.downloadBytes);
    if (e.requestRate > 0.0 && e.downloads > 0) {
        // The source's terms set the pace: the time it takes is worth knowing first.
        text += FormatText(", at most %g requests a second: at least ", e.requestRate) +
                DurationText(std::chrono::seconds(
                    static_cast<long long>(std::ceil(e.LeastDownloadSeconds())))) +
                " to download";
    }
    if (e.layers == 0) {
        return text + "; no image to stitch";
    }
    if (e.package) {
        // The tiles go in as they came: no image is held or made.
        return text + "; one package per layer, of about that size";
    }
    text += FormatText("; each image %lld x %lld pixels, ", static_cast<long long>(e.imageWidth),
                       static_cast<long long>(e.imageHeight)) +
            ByteSizeText(e.stitchBytes) + " in memory to stitch";
    if (e.streamed) {
        return text + " whole (streamed here, so a few bands suffice)";
    }
    if (e.TooBigForTrueColour()) {
        text += " - more than this machine's " + ByteSizeText(e.machineBytes) + " of memory";
        text +=
            e.TooBigForPalette() ? ", even in 256 colours (" : " (the 256-colour fallback needs ";
        text += ByteSizeText(e.paletteBytes) + ")";
    }
    return text;
}

std::string ByteSizeText(std::uint64_t bytes) {
    if (bytes < 1024) {
        return FormatText("%llu bytes", static_cast<unsigned long long>(bytes));
    }
    static constexpr std::array<const char*, 5> kUnits = {"KB", "MB", "GB", "TB", "PB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < kUnits.size()) {
        value /= 1024.0;
        ++unit;
    }
    // Whole numbers from 10 up: "240 KB", "1.1 MB".
    return FormatText(value < 10.0 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
}

std::uint64_t MachineMemoryBytes() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

} // namespace quiltara
