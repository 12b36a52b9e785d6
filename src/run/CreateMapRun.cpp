#include "run/CreateMapRun.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>

#include "download/TileImageCheck.h"
#include "run/RunEstimate.h"
#include "stitch/WorldFile.h"
#include "tiles/MapLayer.h"
#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

// The folder a layer's tiles go into; with no subfolder the output folder
// itself (the current folder when that is empty).
std::filesystem::path LayerDirectory(const std::string& outputFolder,
                                     const std::string& subfolder) {
    const std::string folder = outputFolder + subfolder;
    return folder.empty() ? std::filesystem::path(".") : std::filesystem::path(folder);
}

SaveDialogOptions MapFileDialog() {
    SaveDialogOptions options;
    options.defaultExtension = "png";
    options.initialFileName.clear();
    options.overwritePrompt = true;
    options.hideReadOnly = true;
    options.filter = kMapFileFilter;
    return options;
}

// One spelling for paths that name the same file, whether it exists or not.
std::filesystem::path SamePathKey(const std::string& path) {
    std::error_code ec;
    std::filesystem::path key = std::filesystem::weakly_canonical(path, ec);
    return ec ? std::filesystem::path(path).lexically_normal() : key;
}

// Removes every tile file of the run of every enabled layer; false when one
// that is there could not be removed (a tile that never arrived is no
// failure: there is nothing left to delete). A tile
// name that is also the name of one of the run's images (an output name
// chosen like a tile's) names the image now, and is left alone.
bool DeleteTiles(const std::vector<std::string>& tileNames, const std::string& outputFolder,
                 const MapSourcesValues& sources, const std::vector<StitchedLayer>& images) {
    std::set<std::filesystem::path> imagePaths;
    std::set<std::string> imageNames; // spares the path lookups for every other tile
    for (const StitchedLayer& image : images) {
        imagePaths.insert(SamePathKey(image.path));
        imageNames.insert(std::filesystem::path(image.path).filename().string());
    }
    bool allDeleted = true;
    for (const std::string& name : tileNames) {
        for (MapLayer layer : kAllLayers) {
            if (!sources.IsDownloaded(layer)) {
                continue;
            }
            const std::string path =
                LayerFolder(outputFolder, sources[layer].subfolder) + LayerPrefix(layer) + name;
            if (imageNames.count(LayerPrefix(layer) + name) != 0 &&
                imagePaths.count(SamePathKey(path)) != 0) {
                continue;
            }
            std::error_code ec;
            std::filesystem::remove(path, ec);
            if (ec && AnythingAt(path)) {
                allDeleted = false;
            }
        }
    }
    return allDeleted;
}

bool StopRequested(const CreateMapServices& services) {
    return services.cancel != nullptr && services.cancel->Requested();
}

// Tiles of the stitch that are not among the failed downloads.
std::vector<TileProblem> UnreportedProblems(const std::vector<StitchedLayer>& images,
                                            const std::vector<std::string>& failedPaths) {
    const std::set<std::string> failed(failedPaths.begin(), failedPaths.end());
    std::vector<TileProblem> problems;
    for (const StitchedLayer& image : images) {
        for (const TileProblem& problem : image.tileProblems) {
            if (problem.kind == TileProblem::Kind::OffSize || failed.count(problem.path) == 0) {
                problems.push_back(problem);
            }
        }
    }
    return problems;
}

// The sentence for a layer none of whose tiles is there to stitch.
std::string NoTileText(MapLayer layer, const std::string& imagePath) {
    return FormatText(
        "  No tile of the %s layer could be placed: no %s image was made, and an earlier '%s' "
        "and its world file stay as they were.",
        LayerName(layer), LayerName(layer), imagePath.c_str());
}

// The enabled layers of which every tile failed and no tile file is there
// (from an earlier run): their stitch would place nothing.
std::vector<MapLayer> LayersWithNoTile(const std::vector<std::string>& tileNames,
                                       const std::string& outputFolder,
                                       const MapSourcesValues& sources,
                                       const std::vector<std::string>& failedPaths) {
    const std::set<std::string> failed(failedPaths.begin(), failedPaths.end());
    std::vector<MapLayer> layers;
    for (MapLayer layer : kAllLayers) {
        if (!sources.IsDownloaded(layer) || tileNames.empty()) {
            continue;
        }
        const std::string stem =
            LayerFolder(outputFolder, sources[layer].subfolder) + LayerPrefix(layer);
        const bool none = std::all_of(tileNames.begin(), tileNames.end(), [&](const auto& name) {
            return failed.count(stem + name) != 0 && !AnythingAt(stem + name);
        });
        if (none) {
            layers.push_back(layer);
        }
    }
    return layers;
}

std::optional<std::string> CheckSubfolders(const MapSourcesValues& sources) {
    for (MapLayer layer : kAllLayers) {
        if (sources.IsDownloaded(layer)) {
            if (std::optional<std::string> error =
                    SubfolderError(layer, sources[layer].subfolder)) {
                return error;
            }
        }
    }
    return std::nullopt;
}

} // namespace

std::string DownloadErrorsText(const FetchReport& report) {
    std::string text = report.sourceName.empty()
                           ? std::string(kDownloadErrorsMessage)
                           : "There were errors downloading some of the images from " +
                                 ShowControls(report.sourceName) +
                                 ".  The resulting image may not be 100% complete";
    if (report.longestRefusedWait.count() > 0) {
        text += FormatText(
            "  The server asked to wait %lld seconds before it is asked again, longer than a "
            "run waits: those tiles were not asked for again.",
            static_cast<long long>(report.longestRefusedWait.count()));
    }
    return text;
}

std::string StoppedRunText(std::size_t fetched, std::size_t count) {
    return FormatText(
        "The run was stopped: %zu of %zu tiles were fetched and are kept in the "
        "output folder.  To finish the map, run it again and answer No when asked "
        "whether to overwrite the existing files: only the missing tiles are then "
        "fetched.",
        fetched, count);
}

std::string StoppedStitchText() {
    return "The run was stopped while the map images were being made: the image under way was "
           "not written, and an earlier one of that name stays as it was.  The tiles are kept in "
           "the output folder.  To make the images, run it again and answer No when asked "
           "whether to overwrite the existing files.";
}

std::optional<std::string> SubfolderError(MapLayer layer, const std::string& subfolder) {
    if (subfolder.empty()) {
        return std::nullopt;
    }
    const bool hasSeparator = subfolder.find('/') != std::string::npos;
    const bool hasNul = subfolder.find('\0') != std::string::npos;
    if (!hasSeparator && !hasNul && subfolder != "." && subfolder != "..") {
        return std::nullopt;
    }
    return std::string("The subfolder '") + subfolder + "' of the " + LayerName(layer) +
           " layer is not a folder name inside the output folder.  Give one folder name, "
           "without '/' and other than '.' or '..', or leave it empty for the output folder.";
}

std::size_t TilesOfRun(const CreateMapInputs& inputs) {
    return TilesOverZooms(
        RunZooms(inputs.range, inputs.outputZoom, inputs.firstZoom, inputs.tiles.size()));
}

std::optional<std::string> CompositeError(const MapSourcesValues& sources) {
    for (const CompositeLayers& composite : sources.publish.composites) {
        if (composite.base == composite.overlay) {
            return FormatText(
                "A composite image lays one layer over another: the %s layer cannot "
                "be laid over itself.",
                LayerName(composite.base));
        }
        for (MapLayer layer : {composite.base, composite.overlay}) {
            if (!sources.IsDownloaded(layer)) {
                return FormatText(
                    "The composite image of the %s layer over the %s layer needs both layers, "
                    "but the %s layer is not downloaded in this run.  Download both layers, or "
                    "leave the composite out.",
                    LayerName(composite.overlay), LayerName(composite.base), LayerName(layer));
            }
        }
    }
    return std::nullopt;
}

void SplitChosenPath(const std::string& path, std::string& folder, std::string& fileName) {
    const auto slash = path.find_last_of('/');
    const std::string::size_type nameStart = slash == std::string::npos ? 0 : slash + 1;
    folder = path.substr(0, nameStart);
    fileName = path.substr(nameStart);
}

void SubmitTileForAllLayers(const std::string& tileName, int column, int row, int zoom,
                            const std::string& outputFolder, const MapSourcesValues& sources,
                            TileFetcher& fetcher, const TileDone& done) {
    // What the tile's layers have reported so far; the last one tells done.
    struct Tally {
        int layersLeft = 0;
        std::vector<std::string> failedPaths;
    };
    const auto tally = std::make_shared<Tally>();
    for (MapLayer layer : kAllLayers) {
        tally->layersLeft += sources[layer].download ? 1 : 0;
    }
    if (tally->layersLeft == 0) {
        done({});
        return;
    }
    for (MapLayer layer : kAllLayers) {
        const LayerSource& source = sources[layer];
        if (!source.download) {
            continue;
        }
        const std::filesystem::path directory = LayerDirectory(outputFolder, source.subfolder);
        std::error_code ec;
        if (!std::filesystem::is_directory(directory, ec)) {
            // One level only; a failure shows up when the tile file cannot be made.
            std::filesystem::create_directory(directory, ec);
        }
        const std::string tilePath =
            LayerFolder(outputFolder, source.subfolder) + LayerPrefix(layer) + tileName;
        // Every layer is fetched, whatever happened to the ones before it.
        fetcher.Submit(TileFetchJob{source.sourceUrl, column, row, zoom, tilePath},
                       [tally, tilePath, done](bool fetched) {
                           if (!fetched) {
                               tally->failedPaths.push_back(tilePath);
                           }
                           if (--tally->layersLeft == 0) {
                               done(tally->failedPaths);
                           }
                       });
    }
}

CreateMapOutcome CreateMap(const CreateMapInputs& inputs, CreateMapServices& services) {
    CreateMapOutcome outcome;
    if (inputs.tiles.empty()) {
        return outcome;
    }
    const int zoom = inputs.outputZoom;
    services.progress.ClearLines();
    services.progress.AddLine(kStartingDownloadsLine);
    services.fetcher.StartRun();
    std::vector<std::string> tileNames;

    outcome.status = CreateMapStatus::Cancelled;
    SaveDialogOptions dialog = MapFileDialog();
    const std::string filter = services.stitcher.SaveFilter();
    if (!filter.empty()) {
        dialog.filter = filter;
        dialog.filterIndex = inputs.saveType;
    }
    const std::optional<SaveChoice> chosen = services.prompts.AskSaveFile(dialog);
    if (!chosen) {
        return outcome;
    }
    outcome.saveType = chosen->filterIndex;
    services.stitcher.UseSaveType(chosen->filterIndex);
    const std::optional<MapSourcesValues> asked = services.mapSources.AskMapSources();
    if (!asked) {
        return outcome;
    }
    const MapSourcesValues& sources = *asked;
    SplitChosenPath(chosen->path, outcome.outputFolder, outcome.fileName);
    std::optional<std::string> refused = CheckSubfolders(sources);
    if (!refused) {
        refused = CompositeError(sources);
    }
    if (refused) {
        services.prompts.ShowMessage(*refused, MessageButtons::Ok);
        outcome.status = CreateMapStatus::Refused;
        outcome.endingError = *refused;
        return outcome;
    }
    std::vector<std::string> failedPaths;
    // A package fills shallow zooms first: the area shows whole at once and
    // grows sharper, as a person looking at it would want.
    const bool zoomRange = services.stitcher.TakesZoomRange();
    const std::vector<ZoomTiles> zooms =
        RunZooms(inputs.range, zoom, zoomRange ? inputs.firstZoom : -1, inputs.tiles.size());
    const std::size_t count = TilesOverZooms(zooms);
    RunEstimate estimate = EstimateRun(count, inputs.range, sources, MachineMemoryBytes());
    estimate.streamed = services.stitcher.Streamed();
    estimate.package = zoomRange;
    NoteZooms(estimate, zooms);
    estimate.requestRate = services.fetcher.RequestRate();
    services.progress.RunEstimated(estimate);

    try {
        // Fetches may still be under way when the next tile's line is added;
        // their results arrive here, on this thread, tile by tile in list order.
        const TileDone noteFailure = [&](const std::vector<std::string>& failed) {
            outcome.tilesFailed = outcome.tilesFailed || !failed.empty();
            outcome.tilesFetched += failed.empty() ? 1 : 0;
            failedPaths.insert(failedPaths.end(), failed.begin(), failed.end());
        };
        // A stop is looked at between tiles; the tiles already handed out
        // (those in flight) are finished below.
        std::size_t i = 0;
        const auto submit = [&](int column, int row, int atZoom) {
            services.progress.TileStarted(i++, count);
            services.progress.AddLine(
                zooms.size() > 1
                    ? FormatText("Getting image x=%i y=%i zoom=%i", column, row, atZoom)
                    : FormatText("Getting image x=%i y=%i", column, row));
            const std::string tileName = TileFileName(column, row, atZoom);
            tileNames.push_back(tileName);
            SubmitTileForAllLayers(tileName, column, row, atZoom, outcome.outputFolder, sources,
                                   services.fetcher, noteFailure);
        };
        for (const ZoomTiles& z : zooms) {
            if (z.zoom == zoom) {
                for (std::size_t t = 0; t < inputs.tiles.size() && !StopRequested(services); ++t) {
                    submit(inputs.tiles[t].column, inputs.tiles[t].row, zoom);
                }
                continue;
            }
            for (int row = z.range.yFirst; row <= z.range.yLast; ++row) {
                for (int column = z.range.xFirst;
                     column <= z.range.xLast && !StopRequested(services); ++column) {
                    submit(column, row, z.zoom);
                }
            }
        }
        services.fetcher.Finish();
    } catch (const TileDownloadError& error) {
        // The tiles fetched so far stay; nothing else of the run happens.
        outcome.status = CreateMapStatus::Ended;
        outcome.endingError = error.what();
        return outcome;
    }

    if (StopRequested(services)) {
        // Stopped between tiles: what is on disk is whole, and a run that
        // keeps the existing tiles picks up from there.
        outcome.status = CreateMapStatus::Stopped;
        services.prompts.ShowMessage(StoppedRunText(outcome.tilesFetched, count),
                                     MessageButtons::Ok);
        return outcome;
    }
    // Told with the failed tiles; a layer that turns out to have nothing to
    // place for another reason (unreadable files) is told after the stitch.
    std::set<MapLayer> toldNoTile;
    if (outcome.tilesFailed) {
        std::string text = DownloadErrorsText(services.fetcher.Report());
        for (MapLayer layer :
             LayersWithNoTile(tileNames, outcome.outputFolder, sources, failedPaths)) {
            toldNoTile.insert(layer);
            text += NoTileText(layer, LayerImagePath(outcome.outputFolder, outcome.fileName, layer,
                                                     sources[layer].subfolder));
        }
        services.prompts.ShowMessage(text, MessageButtons::Ok);
    }
    outcome.images = services.stitcher.StitchLayers(
        outcome.outputFolder, outcome.fileName, sources, inputs.range, zoom, services.prompts,
        services.progress, services.cancel, zooms.front().zoom);
    if (std::any_of(outcome.images.begin(), outcome.images.end(),
                    [](const StitchedLayer& image) { return image.stopped; })) {
        // Stopped while stitching: the images finished before the stop stand
        // (without their world files); the tiles stay for the next run.
        outcome.status = CreateMapStatus::Stopped;
        services.prompts.ShowMessage(StoppedStitchText(), MessageButtons::Ok);
        return outcome;
    }
    std::string georeference;
    for (const StitchedLayer& image : outcome.images) {
        // A GeoTIFF holds its place itself; a PNG gets world and projection files.
        std::string failure;
        if (image.saved && !image.georeferenced &&
            !WriteGeoreference(image.path, inputs.range, zoom, &failure)) {
            outcome.georeferenceFailed = true;
            georeference += (georeference.empty() ? "" : "\n") + failure;
        }
    }
    if (outcome.georeferenceFailed) {
        services.prompts.ShowMessage(georeference, MessageButtons::Ok);
    }
    outcome.status = CreateMapStatus::Finished;
    outcome.tileProblems = UnreportedProblems(outcome.images, failedPaths);
    std::string problems = TileProblemsText(outcome.tileProblems);
    for (const StitchedLayer& image : outcome.images) {
        if (image.noTilePlaced && toldNoTile.count(image.layer) == 0) {
            problems +=
                (problems.empty() ? "" : "\n") + NoTileText(image.layer, image.path).substr(2);
        }
    }
    if (!problems.empty()) {
        services.prompts.ShowMessage(problems, MessageButtons::Ok);
    }
    if (StopRequested(services)) {
        // Stopped while stitching: the images are made; the tiles stay, as
        // nobody answered the delete question.
        outcome.status = CreateMapStatus::Stopped;
        return outcome;
    }

    if (services.prompts.ShowMessage(kDeleteTilesQuestion, MessageButtons::YesNo) ==
        MessageAnswer::Yes) {
        outcome.tilesDeleted = true;
        if (!tileNames.empty()) {
            outcome.deleteFailed =
                !DeleteTiles(tileNames, outcome.outputFolder, sources, outcome.images);
        }
        if (outcome.deleteFailed) {
            services.prompts.ShowMessage(kDeleteFailedMessage, MessageButtons::Ok);
        }
    }
    return outcome;
}

} // namespace quiltara
