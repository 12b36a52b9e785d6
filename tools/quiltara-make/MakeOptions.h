#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "download/ParallelTileFetch.h"
#include "download/TileCache.h"
#include "platform/ProxyChoice.h"
#include "sources/MapServiceRoute.h"
#include "sources/MapSourcesValues.h"
#include "sources/SourceCatalogue.h"
#include "stitch/StreamingStitcher.h"
#include "tiles/MapLayer.h"
#include "tiles/TileGrid.h"

namespace quiltara::make {

// What to answer when a tile file is already in the output folder.
enum class ExistingPolicy { Ask, Overwrite, Keep };

// What to answer when the run offers to delete the tile files.
enum class DeletePolicy { Ask, Delete, Keep };

// Everything the command line decides about one run of the map maker.
struct MakeOptions {
    std::vector<CTileCell> tiles; // rows top to bottom, columns left to right
    TileRange range;
    int zoom = 0;         // the output zoom; with a range, its deepest
    int firstZoom = -1;   // --zoom A-B: A, the shallowest zoom of a package; -1: zoom alone
    std::string areaText; // the area as the user gave it, for the report

    std::string outputPath; // the chosen file, absolute
    std::array<bool, 4> layers{};
    std::array<std::optional<std::string>, 4> templates; // nothing: the default
    std::array<std::string, 4> subfolders;
    std::string languageCode;

    std::optional<ExistingPolicy> existing;  // nothing: ask on a terminal, keep otherwise
    std::optional<DeletePolicy> deleteTiles; // nothing: ask on a terminal, keep otherwise
    bool quiet = false;
    bool dryRun = false; // print the estimate only; nothing is fetched or written
    int jobs = kDefaultDownloadConnections;    // connections the tiles are fetched over
    std::optional<MapServiceRoute> mapService; // nothing: the addresses as they are
    ProxyChoice proxy;                         // --proxy; by default the environment's
    bool inMemory = false;       // the desktop program's stitcher instead of streaming
    std::optional<int> pngLevel; // 0..9; nothing: the PNG writer's own level
    ImageFileFormat format = ImageFileFormat::Png;
    bool stampAttribution = false; // the source's attribution drawn in each image's corner
    TiffCompression tiffCompression = TiffCompression::Deflate;
    std::optional<int> jpegQuality;   // 1..100; nothing: the writer's default
    std::optional<TileSource> source; // --source: a catalogue source instead of the map service
    bool noCache = false;             // neither take tiles from the tile cache nor keep them there
    bool offline = false;             // tiles from the cache only: no request at all
    std::optional<std::string> cacheDir;               // nothing: the user's cache folder
    std::uint64_t cacheBytes = kDefaultTileCacheBytes; // the cache's cap, checked after the run
    OverlayOutput overlay = OverlayOutput::Black; // --overlay
    std::vector<CompositeLayers> composites;      // --composite, in the order given

    // The tiles of every zoom the run fetches, per layer.
    std::size_t TileCount() const;
    // The map sources values of the run: chosen layers, templates, subfolders.
    MapSourcesValues SourcesValues() const;
    // How tiles are asked for: the source's way, the map service's otherwise
    // (a {x}-style template given without a source is asked for as a catalogue
    // source with no header lines of its own).
    TileRequestStyle RequestStyle() const;
};

// --add-wmts: a tile source to write from a capabilities document rather
// than a map to make.
struct AddWmtsRequest {
    std::string location;            // an address or a file
    std::vector<std::string> layers; // "ID" or "KIND=ID"; none: list the layers
    std::string id;                  // empty: made from the service's title
    ProxyChoice proxy;               // the capabilities are fetched through it
};

struct ParseOutcome {
    std::optional<MakeOptions> options; // set when the arguments are usable
    std::optional<AddWmtsRequest> addWmts;
    bool helpAsked = false;
    bool listSources = false;
    std::string error; // set when they are not
};

// Reads the arguments after the program name; --source names a source of
// the catalogue given (the one the program loaded for the whole run).
ParseOutcome ParseMakeArguments(const std::vector<std::string>& args,
                                const SourceCatalogue& catalogue);

// The text --help prints, made from the table of options.
std::string MakeUsage();

// What --list-sources prints: one line per source, its id first, then its
// name and layers. (The files that could not be read go to the error output.)
std::string SourceListing(const SourceCatalogue& catalogue);

// The layer named on the command line ("map", "satellite", "sat", ...).
std::optional<MapLayer> LayerFromName(const std::string& name);

// The command line's name of a layer ("map", "satellite", "terrain", "hybrid").
const char* LayerOptionName(MapLayer layer);

// The tile range covering a west/south/east/north box in degrees at the
// output zoom, with its tile list; nothing (and a reason) when the box or the
// zoom cannot be used.
std::optional<RangeUpdate> RangeForBox(double west, double south, double east, double north,
                                       int zoom, std::string& error);

} // namespace quiltara::make
