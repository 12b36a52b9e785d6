#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "download/TileFetcher.h"
#include "platform/CancelFlag.h"
#include "platform/Prompts.h"
#include "sources/MapSourcesValues.h"
#include "stitch/LayerStitcher.h"
#include "stitch/MapStitcher.h"
#include "tiles/ProgressSink.h"
#include "tiles/TileGrid.h"
#include "tiles/TileSources.h"

namespace quiltara {

inline constexpr const char* kStartingDownloadsLine = "Starting downloads...";
inline constexpr const char* kDownloadErrorsMessage =
    "There were errors downloading some of the images from Google Maps.  The resulting image may "
    "not be 100% complete";
inline constexpr const char* kDeleteTilesQuestion =
    "Do you want to delete the individual map tiles currently stored in your output folder?";
inline constexpr const char* kDeleteFailedMessage =
    "One or more of the temp files couldnt be deleted, sorry";
inline constexpr const char* kMapFileFilter = "png (*.png)|*.png|All Files (*.*)|*.*||";

// What the control panel holds for a run.
struct CreateMapInputs {
    std::span<const CTileCell> tiles; // rows top to bottom, columns left to right
    TileRange range;
    int outputZoom = 0; // the zoom list's current entry
    // The shallowest zoom of a package (-1: outputZoom alone). Packages hold
    // the area at every zoom from here to outputZoom; images take outputZoom.
    int firstZoom = -1;
    // The file type the save dialog shows first (its place in the filter).
    int saveType = 0;
};

// The collaborators of a run: the questions to the user, the map sources, the
// progress list, the tile downloads and the stitcher that makes the images.
struct CreateMapServices {
    Prompts& prompts;
    MapSourcesProvider& mapSources;
    ProgressSink& progress;
    TileFetcher& fetcher;
    LayerStitcher& stitcher;
    const CancelFlag* cancel = nullptr; // looked at between tiles; none: never stopped
};

enum class CreateMapStatus {
    NothingToDo, // empty tile list: the button does nothing
    Cancelled,   // the save dialog or the map sources were cancelled
    Refused,     // a subfolder was not a folder name: nothing was fetched
    Finished,    // downloads, stitch and delete question done
    Ended,       // an error ended the run during the downloads
    Stopped,     // the user stopped it: finished tiles kept, no stitch, no delete question
};

struct CreateMapOutcome {
    CreateMapStatus status = CreateMapStatus::NothingToDo;
    std::string outputFolder; // ends with a separator, or empty for the current folder
    std::string fileName;
    int saveType = -1;       // the file type picked in the save dialog; -1: none was
    std::string endingError; // what ended the run (status Ended) or refused it (Refused)
    bool tilesFailed = false;
    std::vector<StitchedLayer> images;
    // Tiles the stitch could not place as they came, beyond those whose
    // download failed (already reported): deleted or damaged after their
    // download, broken files kept from an earlier run, tiles not 256 x 256.
    std::vector<TileProblem> tileProblems;
    bool tilesDeleted = false; // Yes to the delete question
    bool deleteFailed = false;
    std::size_t tilesFetched = 0;    // cells with every enabled layer fetched (or kept)
    bool georeferenceFailed = false; // a saved image lacks its world or projection file
};

// The tiles of every zoom the inputs ask for, per layer, when the run makes
// packages (the zoom list's zoom alone for images).
std::size_t TilesOfRun(const CreateMapInputs& inputs);

// The failed-tiles message: kDownloadErrorsMessage for the map service, the
// same naming a catalogue source instead, then the longest wait a server
// asked for that the run did not sit out.
std::string DownloadErrorsText(const FetchReport& report);

// The one message of a stopped run.
std::string StoppedRunText(std::size_t fetched, std::size_t count);
// The message of a run stopped during the stitch.
std::string StoppedStitchText();

// The "4. Create Map Image" command: asks for the output file and the map
// sources, fetches every tile of the list for every enabled layer, reports
// failed tiles once, stitches one image per layer and offers to delete the
// tile files. Synchronous; every question goes through services.prompts.
// A subfolder that is not a folder name ends the run with a message before
// anything is fetched. Tiles the stitch could not place as they came are
// named in one message after the stitch, and the delete step never removes
// an image the run wrote.
// An error that ends the run leaves the tiles fetched so far on disk and
// skips the summary, the stitch and the delete question.
CreateMapOutcome CreateMap(const CreateMapInputs& inputs, CreateMapServices& services);

// Why a layer's subfolder cannot be used, or nothing when it can. A
// subfolder is one folder name inside the output folder (or empty, for the
// output folder itself): a path separator, "." or "..", which would put tiles
// and images elsewhere and have the delete step remove files there, is refused.
std::optional<std::string> SubfolderError(MapLayer layer, const std::string& subfolder);

// Why a composite of the run's choices cannot be made, or nothing when every
// one can: a composite lays one downloaded layer over another downloaded one.
std::optional<std::string> CompositeError(const MapSourcesValues& sources);

// Splits the chosen full path into the output folder (everything before the
// file name, separator included) and the file name.
void SplitChosenPath(const std::string& path, std::string& folder, std::string& fileName);

// Told, once every enabled layer of a tile has reported, the tile paths of
// the layers that failed (none: the tile was fetched for every layer).
using TileDone = std::function<void(const std::vector<std::string>& failedPaths)>;

// Hands out the fetches of one tile for every enabled layer, creating a
// missing layer subfolder (one level) first. done is called on this thread,
// now or from a later Submit or Finish of the fetcher.
void SubmitTileForAllLayers(const std::string& tileName, int column, int row, int zoom,
                            const std::string& outputFolder, const MapSourcesValues& sources,
                            TileFetcher& fetcher, const TileDone& done);

} // namespace quiltara
