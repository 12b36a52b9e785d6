#include "assembly/CreateMapRun.h"

#include <filesystem>
#include <system_error>

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

// Removes every tile file of the run of every enabled layer; false when one
// of them could not be removed (a tile that never arrived included).
bool DeleteTiles(const std::vector<std::string>& tileNames, const std::string& outputFolder,
                 const MapSourcesValues& sources) {
    bool allDeleted = true;
    for (const std::string& name : tileNames) {
        for (MapLayer layer : kAllLayers) {
            if (!sources.IsDownloaded(layer)) {
                continue;
            }
            const std::string path =
                LayerFolder(outputFolder, sources[layer].subfolder) + LayerPrefix(layer) + name;
            std::error_code ec;
            if (!std::filesystem::remove(path, ec) || ec) {
                allDeleted = false;
            }
        }
    }
    return allDeleted;
}

} // namespace

void SplitChosenPath(const std::string& path, std::string& folder, std::string& fileName) {
    const auto slash = path.find_last_of('/');
    const std::string::size_type nameStart = slash == std::string::npos ? 0 : slash + 1;
    folder = path.substr(0, nameStart);
    fileName = path.substr(nameStart);
}

bool FetchTileForAllLayers(const std::string& tileName, int column, int row, int zoom,
                           const std::string& outputFolder, const MapSourcesValues& sources,
                           TileFetcher& fetcher) {
    bool result = true;
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
        const bool fetched = fetcher.FetchTile(source.sourceUrl, column, row, zoom, tilePath);
        result = result && fetched;
    }
    return result;
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
    const std::optional<std::string> chosen = services.prompts.AskSavePath(MapFileDialog());
    if (!chosen) {
        return outcome;
    }
    const std::optional<MapSourcesValues> asked = services.mapSources.AskMapSources();
    if (!asked) {
        return outcome;
    }
    const MapSourcesValues& sources = *asked;
    SplitChosenPath(*chosen, outcome.outputFolder, outcome.fileName);

    try {
        const std::size_t count = inputs.tiles.size();
        for (std::size_t i = 0; i < count; ++i) {
            const CTileCell& cell = inputs.tiles[i];
            services.progress.TileStarted(i, count);
            services.progress.AddLine(FormatText("Getting image x=%i y=%i", cell.column, cell.row));
            const std::string tileName = TileFileName(cell.column, cell.row, zoom);
            tileNames.push_back(tileName);
            if (!FetchTileForAllLayers(tileName, cell.column, cell.row, zoom, outcome.outputFolder,
                                       sources, services.fetcher)) {
                outcome.tilesFailed = true;
            }
        }
    } catch (const TileDownloadError& error) {
        // The tiles fetched so far stay; nothing else of the run happens.
        outcome.status = CreateMapStatus::Ended;
        outcome.endingError = error.what();
        return outcome;
    }

    if (outcome.tilesFailed) {
        services.prompts.ShowMessage(kDownloadErrorsMessage, MessageButtons::Ok);
    }
    outcome.images =
        services.stitcher != nullptr
            ? services.stitcher->StitchLayers(outcome.outputFolder, outcome.fileName, sources,
                                              inputs.range, zoom, services.prompts,
                                              services.progress)
            : Stitch(outcome.outputFolder, outcome.fileName, sources, inputs.range, zoom,
                     services.prompts, services.progress);
    outcome.status = CreateMapStatus::Finished;

    if (services.prompts.ShowMessage(kDeleteTilesQuestion, MessageButtons::YesNo) ==
        MessageAnswer::Yes) {
        outcome.tilesDeleted = true;
        if (!tileNames.empty()) {
            outcome.deleteFailed = !DeleteTiles(tileNames, outcome.outputFolder, sources);
        }
        if (outcome.deleteFailed) {
            services.prompts.ShowMessage(kDeleteFailedMessage, MessageButtons::Ok);
        }
    }
    return outcome;
}

} // namespace quiltara
