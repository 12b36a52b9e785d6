#pragma once

#include <functional>
#include <memory>
#include <string>

#include "download/ParallelTileFetch.h"
#include "download/TileImageCheck.h"
#include "platform/CancelFlag.h"
#include "platform/HttpClient.h"
#include "platform/Prompts.h"
#include "run/CreateMapRun.h"
#include "stitch/LayerStitcher.h"
#include "stitch/StitchValues.h"
#include "tiles/ProgressSink.h"
#include "tiles/TileSources.h"

namespace quiltara {

// How a run's images are made.
struct StitchChoice {
    bool inMemory = false;      // each image whole in memory (quiltara-make's --in-memory)
    StreamingOptions streaming; // otherwise streamed band by band with these
    bool offerTypes = false;    // the save dialog offers PNG and GeoTIFF, and its type decides
    // The transparent pixels of either stitcher's images (quiltara-make's
    // --overlay); it decides streaming.overlay too.
    OverlayOutput overlay = OverlayOutput::Black;
};

// What a front end brings to a create-map run. The overwrite choice, the run
// state, the remembered server number and the language code are the front
// end's (the window keeps them from one run to the next); the run only refers
// to them, as it does to the prompts, the map sources, the progress and the
// first connection.
struct MapRunParts {
    Prompts& prompts;
    MapSourcesProvider& mapSources;
    ProgressSink& progress;
    HttpClient& http; // the first connection
    OverwriteChoice& choice;
    OverwriteRunState& runState;
    RememberedServerNumber& remembered;
    const std::string& languageCode;
    // The other connections; none: the tiles come one after another.
    HttpClientFactory moreConnections = {};
    int connections = 1;
    // How the tiles are asked for: the map service's way, or a catalogue
    // source's header lines and subdomains.
    TileRequestStyle requestStyle = {};
    StitchChoice stitch = {};
    // Looked at between tiles, in a Retry-After wait and during the stitch;
    // none: the run is never stopped. Must outlive the run.
    const CancelFlag* cancel = nullptr;
    // Called before every request attempt, on the thread of the connection
    // making it; it may throw TileDownloadError to end the run.
    std::function<void(const std::string& url)> beforeAttempt = {};
};

// The one place a create-map run is put together, for the window and for
// quiltara-make alike: the tile fetcher over the connections asked for, the
// stitcher chosen, and the services CreateMap works with.
class MapRun {
public:
    explicit MapRun(const MapRunParts& parts);
    MapRun(const MapRun&) = delete;
    MapRun& operator=(const MapRun&) = delete;

    // CreateMap with the inputs; synchronous.
    CreateMapOutcome Create(const CreateMapInputs& inputs);

private:
    const RasterImageCheck imageCheck_;
    const std::unique_ptr<TileFetcher> fetcher_;
    const std::unique_ptr<LayerStitcher> stitcher_;
    CreateMapServices services_;
};

} // namespace quiltara
