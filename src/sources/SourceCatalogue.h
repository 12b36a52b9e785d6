#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Prompts.h"
#include "sources/MapSourcesValues.h"
#include "tiles/MapLayer.h"
#include "tiles/TileSources.h"
#include "tiles/TileTemplate.h"

namespace quiltara {

// One layer a catalogue source offers.
struct SourceLayer {
    MapLayer layer = MapLayer::Map;
    std::string name; // as the source calls it ("Road map" when the file names none)
    TileTemplate tileTemplate;
};

// Where the map page opens.
struct MapPosition {
    double latitude = 0.0;
    double longitude = 0.0;
    int zoom = 0;
};

// A tile service other than the map service the program was made for, read
// from one JSON file of the source catalogue.
struct TileSource {
    std::string id;
    std::string name;
    std::vector<SourceLayer> layers; // in the order Map, Satellite, Terrain, Hybrid
    std::vector<std::string> subdomains;
    int minZoom = 0;
    int maxZoom = 19;
    std::string attribution;
    std::string terms; // link to the service's terms of use
    std::vector<std::string> headerLines;
    int connections = 2;
    // The most tile requests per second a run sends it, over all its
    // connections; nothing: as fast as they come.
    std::optional<double> rate;
    std::optional<long long> tileLimit; // the most tiles one run may fetch under its terms
    std::optional<MapPosition> start;
    std::filesystem::path file;

    const SourceLayer* Layer(MapLayer layer) const;
    // "map, satellite": the layers offered, by their command-line names.
    std::string LayerList() const;
    // What every tile request to it sends: the image types taken, the
    // program's own User-Agent (unless the file names one), the file's lines.
    std::vector<std::string> RequestHeaders() const;
    TileRequestStyle RequestStyle() const;
};

// The User-Agent of requests to catalogue sources: "Quiltara/<version>".
std::string QuiltaraUserAgent();

// A catalogue file that could not be read, and why.
struct CatalogueProblem {
    std::filesystem::path file;
    std::string reason;

    // "FILE: REASON", the one message about the file.
    std::string Text() const;
};

struct SourceCatalogue {
    std::vector<TileSource> sources;
    std::vector<CatalogueProblem> problems;

    const TileSource* Find(std::string_view id) const;
};

// Reads one source from the text of its file; nothing, with the reason in
// error, when the file is not a usable source.
std::optional<TileSource> ReadTileSource(const std::string& json, std::string& error);

// Reads every *.json file of the folders, in order; a source of a later
// folder replaces one of an earlier folder with the same id. A folder that
// does not exist holds no sources; a file that cannot be read is left out and
// named in problems, and the others are still read: so is anything but a
// regular file, a file over 1 MiB or nested deeper than any source, and the
// second file of one folder with an id already read there.
SourceCatalogue LoadSourceCatalogue(const std::vector<std::filesystem::path>& folders);

// The folders the programs read: the shipped sources, then the user's own
// (~/.config/Quiltara/sources, following XDG_CONFIG_HOME), which win.
std::vector<std::filesystem::path> SourceFolders();
std::filesystem::path UserSourcesFolder();

// "this map needs N tiles, but the terms of use of 'NAME' allow at most L at
// a time" for a run over more tiles than the source's terms allow, or
// nothing when the run is within them.
std::optional<std::string> TileLimitExcess(const TileSource& source, std::size_t tiles);

// The question asked before a run over more tiles than the source's terms
// allow, or nothing when the run is within them.
std::optional<std::string> TileLimitQuestion(const TileSource& source, std::size_t tiles);

// The map sources of a run from a catalogue source: those chosen, and then,
// when the chosen layers need more tiles than the source's terms allow, the
// limit question; No cancels the run before anything is fetched.
class TileLimitedMapSources : public MapSourcesProvider {
public:
    TileLimitedMapSources(MapSourcesProvider& chosen, const TileSource& source,
                          std::size_t tilesPerLayer, Prompts& prompts)
        : chosen_(chosen), source_(source), tilesPerLayer_(tilesPerLayer), prompts_(prompts) {}

    std::optional<MapSourcesValues> AskMapSources() override;

private:
    MapSourcesProvider& chosen_;
    const TileSource& source_;
    std::size_t tilesPerLayer_;
    Prompts& prompts_;
};

} // namespace quiltara
