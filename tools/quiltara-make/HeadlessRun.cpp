#include "HeadlessRun.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

#include "TerminalProgress.h"
#include "TerminalPrompts.h"
#include "download/CacheEstimate.h"
#include "run/MapRun.h"
#include "run/RunEstimate.h"
#include "tiles/TextFormat.h"

namespace quiltara::make {
namespace {

std::string LayerList(const MapSourcesValues& sources) {
    std::string list;
    for (MapLayer layer : kAllLayers) {
        if (sources.IsDownloaded(layer)) {
            list += list.empty() ? "" : ", ";
            list += LayerOptionName(layer);
        }
    }
    return list.empty() ? "no layer" : list;
}

// The run's tile cache, as the options ask; none with --no-cache.
std::unique_ptr<TileCache> OpenCache(const MakeOptions& options) {
    if (options.noCache) {
        return nullptr;
    }
    return std::make_unique<TileCache>(
        options.cacheDir ? std::filesystem::path(*options.cacheDir) : DefaultTileCacheFolder(),
        options.cacheBytes, options.offline);
}

// The dry run's look into the cache, as the run would make it.
std::int64_t CachedDownloads(const MakeOptions& options, const MapSourcesValues& sources,
                             const std::vector<ZoomTiles>& zooms, const TileCache& cache) {
    const std::vector<TileFetchJob> jobs = EstimateJobs(zooms, options.tiles, options.zoom, sources);
    return static_cast<std::int64_t>(
        CountCachedTiles(cache, options.RequestStyle(), jobs, options.languageCode, {}));
}

} // namespace

int ExitStatusFor(const CreateMapOutcome& outcome) {
    if (outcome.status == CreateMapStatus::Refused) {
        return kExitBadArguments;
    }
    if (outcome.status != CreateMapStatus::Finished) {
        return kExitFailed;
    }
    for (const StitchedLayer& image : outcome.images) {
        // A layer with no tile to place wrote nothing on purpose: its tiles
        // are what failed.
        if (!image.saved && !image.noTilePlaced) {
            return kExitFailed;
        }
    }
    if (outcome.georeferenceFailed) {
        return kExitFailed;
    }
    return outcome.tilesFailed || !outcome.tileProblems.empty() ? kExitIncomplete : kExitMade;
}

int RunMapMaker(const MakeOptions& options, Console& out, Console& errors, std::istream& input,
                bool interactive, HttpClient& http, const HttpClientFactory& moreConnections,
                const CancelFlag* cancel) {
    const ExistingPolicy existing =
        options.existing.value_or(interactive ? ExistingPolicy::Ask : ExistingPolicy::Keep);
    const DeletePolicy deleteTiles =
        options.deleteTiles.value_or(interactive ? DeletePolicy::Ask : DeletePolicy::Keep);
    TerminalPrompts prompts(out, input, existing, deleteTiles, options.outputPath);
    const MapSourcesValues sources = options.SourcesValues();
    const std::vector<ZoomTiles> zooms =
        RunZooms(options.range, options.zoom, options.firstZoom, options.tiles.size());
    const std::unique_ptr<TileCache> cache = OpenCache(options);
    if (!options.quiet) {
        const std::string zoomText =
            zooms.size() > 1 ? FormatText("zooms %i to %i", zooms.front().zoom, options.zoom)
                             : FormatText("zoom %i", options.zoom);
        out.Line(FormatText("Making %s from %zu tiles (%i x %i) at %s: ",
                            LayerList(sources).c_str(), TilesOverZooms(zooms),
                            options.range.Columns(), options.range.Rows(), zoomText.c_str()) +
                 options.areaText);
    }
    if (options.dryRun) {
        RunEstimate estimate =
            EstimateRun(TilesOverZooms(zooms), options.range, sources, MachineMemoryBytes());
        estimate.streamed = !options.inMemory;
        estimate.package = IsPackage(options.format);
        NoteZooms(estimate, zooms);
        if (cache) {
            estimate.cachedDownloads = CachedDownloads(options, sources, zooms, *cache);
        }
        out.Line(EstimateText(estimate));
        const auto layers = static_cast<std::size_t>(
            std::count(options.layers.begin(), options.layers.end(), true));
        if (const auto excess = options.source
                                    ? TileLimitExcess(*options.source, options.TileCount() * layers)
                                    : std::nullopt) {
            out.Line("Beyond the source's terms: " + *excess +
                     "; a run goes ahead only with --beyond-tile-limit.");
        }
        return kExitMade;
    }
    FixedMapSources mapSources(sources);
    TerminalProgress progress(out, options.quiet);
    // The state the desktop application keeps in its panel and application
    // objects lives for this one run here.
    OverwriteChoice choice;
    OverwriteRunState runState;
    RememberedServerNumber remembered;
    MapRunParts parts{prompts, mapSources, progress,   http,
                      choice,  runState,   remembered, options.languageCode};
    parts.moreConnections = moreConnections;
    parts.connections = options.jobs;
    parts.requestStyle = options.RequestStyle();
    parts.cancel = cancel;
    parts.cache = cache.get();
    parts.stitch.inMemory = options.inMemory;
    parts.stitch.overlay = options.overlay;
    StreamingOptions& streaming = parts.stitch.streaming;
    streaming.pngLevel = options.pngLevel.value_or(kDefaultDeflateLevel);
    streaming.format = options.format;
    streaming.tiffCompression = options.tiffCompression;
    streaming.jpegQuality = options.jpegQuality.value_or(streaming.jpegQuality);
    const CreateMapInputs inputs{options.tiles, options.range, options.zoom, options.firstZoom};

    const CreateMapOutcome outcome = MapRun(parts).Create(inputs);
    // The errors below go to the other output, usually the same terminal.
    out.EndStatus();

    if (outcome.status == CreateMapStatus::Refused) {
        return ExitStatusFor(outcome); // its message was printed as the run's own
    }
    if (outcome.status == CreateMapStatus::Ended) {
        errors.Line("quiltara-make: the run ended: " + outcome.endingError);
        errors.Line("quiltara-make: the tiles fetched so far are kept in " +
                    (outcome.outputFolder.empty() ? std::string(".") : outcome.outputFolder));
        return ExitStatusFor(outcome);
    }
    if (outcome.status == CreateMapStatus::Stopped && outcome.images.empty()) {
        errors.Line(
            "quiltara-make: stopped; run again with --existing=keep to fetch only the "
            "missing tiles");
        return ExitStatusFor(outcome);
    }
    for (const StitchedLayer& image : outcome.images) {
        const std::string layer =
            std::string(LayerOptionName(image.layer)) +
            (image.overlay ? std::string("+") + LayerOptionName(*image.overlay) : "");
        if (image.stopped) {
            continue; // the run's own message says what became of it
        }
        if (image.saved) {
            out.Line(layer + (IsPackage(options.format) ? " package: " : " image: ") + image.path);
        } else if (image.noTilePlaced) {
            errors.Line("quiltara-make: no " + layer + " image: no tile could be placed; " +
                        image.path + " was left as it was");
        } else if (image.created) {
            errors.Line("quiltara-make: the " + layer + " image could not be written to " +
                        image.path + (image.saveError.empty() ? "" : ": " + image.saveError));
        } else {
            errors.Line("quiltara-make: no " + layer + " image: not enough memory");
        }
    }
    if (cache && !options.quiet && outcome.tilesFromCache > 0) {
        out.Line(FormatText("%zu tile files came from the tile cache in ", outcome.tilesFromCache) +
                 cache->Folder().string());
    }
    const bool anySaved = std::any_of(outcome.images.begin(), outcome.images.end(),
                                      [](const StitchedLayer& image) { return image.saved; });
    if (outcome.tilesFailed && anySaved) {
        errors.Line(
            IsPackage(options.format)
                ? "quiltara-make: some tiles could not be downloaded; the packages lack them"
                : "quiltara-make: some tiles could not be downloaded; their squares are black");
    }
    if (!outcome.tileProblems.empty()) {
        const std::size_t count = outcome.tileProblems.size();
        errors.Line(FormatText("quiltara-make: %zu %s could not be placed as %s came", count,
                               count == 1 ? "tile" : "tiles", count == 1 ? "it" : "they"));
    }
    if (outcome.status == CreateMapStatus::Stopped) {
        errors.Line("quiltara-make: stopped before the tiles could be deleted; they are kept");
    }
    return ExitStatusFor(outcome);
}

} // namespace quiltara::make
