#include "MakeOptions.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <system_error>

#include "AddWmts.h"
#include "ArgumentText.h"
#include "MakeOptionTable.h"
#include "run/CreateMapRun.h"
#include "run/RunEstimate.h"
#include "tiles/TextFormat.h"

namespace quiltara::make {
namespace {

// Tile indices go into file names and URLs as ints; 2^30 columns is the
// deepest grid whose every index (and the count one past it) stays an int.
constexpr int kMaxZoom = 30;

// The Mercator grid ends here: beyond it the row numbers run off the grid.
constexpr double kMaxLatitude = 85.05112877980659;

// The panel's tile list for an inclusive range: rows top to bottom, columns
// left to right. There is no view here, so the on-screen outlines are those
// of a view showing the output tiles at full size from (0, 0).
RangeUpdate RangeForTiles(const TileRange& range) {
    RangeUpdate update;
    update.changesAnything = true;
    update.replacesTileList = true;
    update.range = range;
    update.tiles.reserve(static_cast<std::size_t>(range.Columns()) *
                         static_cast<std::size_t>(range.Rows()));
    for (int row = range.yFirst; row <= range.yLast; ++row) {
        for (int col = range.xFirst; col <= range.xLast; ++col) {
            const double left = 256.0 * (col - range.xFirst);
            const double top = 256.0 * (row - range.yFirst);
            update.tiles.push_back(CTileCell{col, row, left, top, left + 256.0, top + 256.0});
        }
    }
    return update;
}

// --zoom Z, or A-B for every zoom from A to B: zoom is the deepest, and
// firstZoom A (-1 for a single zoom).
bool ReadZooms(const std::string& text, int& zoom, int& firstZoom, std::string& error) {
    const auto dash = text.find('-', 1);
    firstZoom = -1;
    if (dash == std::string::npos) {
        if (ParseInt(text, zoom) && zoom >= 0 && zoom <= kMaxZoom) {
            return true;
        }
    } else if (ParseInt(text.substr(0, dash), firstZoom) && ParseInt(text.substr(dash + 1), zoom) &&
               firstZoom >= 0 && zoom <= kMaxZoom) {
        if (firstZoom <= zoom) {
            firstZoom = firstZoom == zoom ? -1 : firstZoom;
            return true;
        }
        error = "--zoom A-B: the first zoom must not be deeper than the last";
        return false;
    }
    error = FormatText(
        "the output zoom must be a whole number from 0 to %i, or a range A-B of them", kMaxZoom);
    return false;
}

std::optional<RangeUpdate> ResolveArea(const AreaArguments& area, int& zoom, int& firstZoom,
                                       std::string& text, std::string& error) {
    const int given = (area.tiles ? 1 : 0) + (area.box ? 1 : 0) + (area.selection ? 1 : 0);
    if (given != 1) {
        error = "give the area with exactly one of --tiles, --box and --selection";
        return std::nullopt;
    }
    if (!area.zoom) {
        error = "the output zoom is missing (--zoom)";
        return std::nullopt;
    }
    if (!ReadZooms(*area.zoom, zoom, firstZoom, error)) {
        return std::nullopt;
    }
    if (area.pageZoom && !area.selection) {
        error = "--page-zoom belongs to --selection";
        return std::nullopt;
    }

    if (area.tiles) {
        text = "tiles " + *area.tiles;
        std::vector<int> v;
        if (!ParseNumbers(*area.tiles, 4, v, ParseInt)) {
            error = "--tiles needs four whole numbers: FIRST_X,FIRST_Y,LAST_X,LAST_Y";
            return std::nullopt;
        }
        const long long limit = 1LL << zoom;
        for (int n : v) {
            if (n < 0 || n >= limit) {
                error = FormatText("tile numbers at zoom %i run from 0 to %lld", zoom, limit - 1);
                return std::nullopt;
            }
        }
        if (v[0] > v[2] || v[1] > v[3]) {
            error = "--tiles: the first column and row must not lie beyond the last ones";
            return std::nullopt;
        }
        const TileRange range{v[0], v[1], v[2], v[3]};
        if (static_cast<long long>(range.Columns()) * range.Rows() > kMaxTileListSize) {
            error = FormatText("the area holds more than %lld tiles",
                               static_cast<long long>(kMaxTileListSize));
            return std::nullopt;
        }
        return RangeForTiles(range);
    }

    if (area.box) {
        text = "box " + *area.box;
        std::vector<double> v;
        if (!ParseNumbers(*area.box, 4, v, ParseDouble)) {
            error = "--box needs four numbers in degrees: WEST,SOUTH,EAST,NORTH";
            return std::nullopt;
        }
        return RangeForBox(v[0], v[1], v[2], v[3], zoom, error);
    }

    text = "selection " + *area.selection;
    std::vector<double> v;
    if (!ParseNumbers(*area.selection, 4, v, ParseDouble)) {
        error = "--selection needs four numbers in tile units: TOP,LEFT,RIGHT,BOTTOM";
        return std::nullopt;
    }
    int pageZoom = 0;
    if (!area.pageZoom || !ParseInt(*area.pageZoom, pageZoom) || pageZoom < 0) {
        error = "--selection needs the page zoom it was measured at (--page-zoom)";
        return std::nullopt;
    }
    if (zoom < 1) {
        error = "--selection needs an output zoom of 1 or more";
        return std::nullopt;
    }
    if (v[1] > v[2] || v[0] > v[3]) {
        error =
            "--selection: the left edge must not lie right of the right edge, nor the top "
            "below the bottom";
        return std::nullopt;
    }
    // The panel's zoom list holds "1", "2", ... at positions 1, 2, ...
    const CTileRect selection{v[0], v[1], v[2], v[3]};
    RangeUpdate update =
        ComputeRange(selection, pageZoom, ZoomChoice{zoom, std::to_string(zoom)}, 0, 0);
    if (!update.range) {
        error = "no tiles for this selection: " + update.xImagesText.value_or("") + ", " +
                update.totImagesText.value_or("");
        return std::nullopt;
    }
    // An edge on the grid's far border still takes the tile beyond it, which
    // the map does not have.
    const long long gridSize = 1LL << zoom;
    if (update.range->xLast >= gridSize || update.range->yLast >= gridSize) {
        error = FormatText(
            "--selection reaches beyond the map's grid: at zoom %i tile numbers run from 0 to "
            "%lld, the selection takes columns %i to %i and rows %i to %i",
            zoom, gridSize - 1, update.range->xFirst, update.range->xLast, update.range->yFirst,
            update.range->yLast);
        return std::nullopt;
    }
    return update;
}

using Complaint = std::optional<std::string>;

// The stitcher and the file format's options, which only some combinations allow.
Complaint CheckImageOptions(const GivenArguments& given) {
    const MakeOptions& options = given.options;
    if (options.inMemory && options.pngLevel) {
        return "--png-level applies to the streaming stitcher, not to --in-memory";
    }
    const bool tiff = options.format == ImageFileFormat::GeoTiff;
    const bool package = IsPackage(options.format);
    if (package && (options.inMemory || options.pngLevel)) {
        return "a package holds the tiles as they came: --in-memory and --png-level make images";
    }
    if (given.area.zoom && given.area.zoom->find('-', 1) != std::string::npos && !package) {
        return "a zoom range (--zoom A-B) makes a package: give --format mbtiles or gpkg";
    }
    if (tiff && options.inMemory) {
        return "--format tiff is streamed; it cannot be made --in-memory";
    }
    if (tiff && options.pngLevel) {
        return "--png-level applies to PNG images, not to --format tiff";
    }
    if (!tiff && (given.tiffCompressionGiven || options.jpegQuality)) {
        return "--tiff-compression and --jpeg-quality belong to --format tiff";
    }
    if (options.jpegQuality && options.tiffCompression != TiffCompression::Jpeg) {
        return "--jpeg-quality needs --tiff-compression jpeg";
    }
    if (options.noCache && (options.offline || options.cacheDir)) {
        return options.offline
                   ? "--offline takes the tiles from the cache; it cannot go with --no-cache"
                   : "--cache-dir names the cache that --no-cache leaves alone";
    }
    return std::nullopt;
}

Complaint ResolveOutput(const std::optional<std::string>& output, MakeOptions& options) {
    if (!output || output->empty()) {
        return "the output file is missing (--output FILE)";
    }
    std::error_code ec;
    const std::filesystem::path outputPath = std::filesystem::absolute(*output, ec);
    const std::string leaf = ec ? std::string() : outputPath.filename().string();
    if (leaf.empty() || leaf == "." || leaf == "..") {
        return "'" + *output + "' does not name a file";
    }
    if (!std::filesystem::is_directory(outputPath.parent_path(), ec)) {
        return "the output folder " + outputPath.parent_path().string() + " does not exist";
    }
    // The images go beside the name, under the layers' prefixes; a name that
    // is a folder, a device or the like is no file name to start from.
    const std::filesystem::file_status existing = std::filesystem::status(outputPath, ec);
    if (std::filesystem::exists(existing) && !std::filesystem::is_regular_file(existing)) {
        return "'" + *output + "' is not a plain file name in an existing folder";
    }
    options.outputPath = outputPath.string();
    return std::nullopt;
}

Complaint ResolveSource(const std::optional<std::string>& sourceId,
                        const SourceCatalogue& catalogue, MakeOptions& options) {
    if (!sourceId) {
        return std::nullopt;
    }
    const TileSource* found = catalogue.Find(*sourceId);
    if (found == nullptr) {
        return "there is no tile source '" + *sourceId + "' (see --list-sources)";
    }
    options.source = *found;
    options.jobs = std::min(options.jobs, found->connections);
    return std::nullopt;
}

// The chosen layers (by default the source's first, or the map); a source
// must offer each one unless a template of the command line stands in.
Complaint ResolveLayers(const std::optional<std::string>& layers, MakeOptions& options) {
    const std::string firstLayer =
        options.source ? LayerName(options.source->layers.front().layer) : "map";
    for (const std::string& layerName : SplitList(layers.value_or(firstLayer), ',')) {
        if (layerName == "all") {
            for (MapLayer layer : kAllLayers) {
                options.layers[static_cast<std::size_t>(layer)] =
                    !options.source || options.source->Layer(layer) != nullptr;
            }
            continue;
        }
        const std::optional<MapLayer> layer = LayerFromName(layerName);
        if (!layer) {
            return "unknown map layer '" + layerName + "' in --layers";
        }
        const auto index = static_cast<std::size_t>(*layer);
        if (options.source && options.source->Layer(*layer) == nullptr &&
            !options.templates[index]) {
            return "the tile source '" + options.source->id + "' has no " + LayerName(*layer) +
                   " layer (it offers " + options.source->LayerList() + ")";
        }
        options.layers[index] = true;
    }
    return std::nullopt;
}

Complaint CheckTemplates(const MakeOptions& options) {
    for (MapLayer layer : kAllLayers) {
        const auto& given = options.templates[static_cast<std::size_t>(layer)];
        std::string why;
        if (given && !TileTemplate::Parse(*given, why)) {
            return std::string("--template-") + LayerName(layer) + ": " + why;
        }
    }
    return std::nullopt;
}

Complaint ResolveTiles(const AreaArguments& area, MakeOptions& options) {
    std::string error;
    std::optional<RangeUpdate> update =
        ResolveArea(area, options.zoom, options.firstZoom, options.areaText, error);
    if (!update) {
        return error;
    }
    options.range = *update->range;
    options.tiles = std::move(update->tiles);
    return std::nullopt;
}

// A catalogue source's zooms and its terms' tile limit.
Complaint CheckSourceBounds(const MakeOptions& options, bool beyondTileLimit) {
    if (!options.source) {
        return std::nullopt;
    }
    const TileSource& source = *options.source;
    const int firstZoom = options.firstZoom < 0 ? options.zoom : options.firstZoom;
    if (firstZoom < source.minZoom || options.zoom > source.maxZoom) {
        // Its server has no tiles there: every request would only fail.
        return firstZoom == options.zoom
                   ? FormatText("the tile source '%s' has zooms %i to %i, not %i",
                                source.id.c_str(), source.minZoom, source.maxZoom, options.zoom)
                   : FormatText("the tile source '%s' has zooms %i to %i, not all of %i to %i",
                                source.id.c_str(), source.minZoom, source.maxZoom, firstZoom,
                                options.zoom);
    }
    if (beyondTileLimit || options.dryRun) {
        return std::nullopt;
    }
    const auto chosen =
        static_cast<std::size_t>(std::count(options.layers.begin(), options.layers.end(), true));
    if (const auto excess = TileLimitExcess(source, options.TileCount() * chosen)) {
        // No one to ask here: the run is refused unless the command line says to go on.
        return *excess + " (--beyond-tile-limit fetches them anyway)";
    }
    return std::nullopt;
}

// Checks the arguments against each other and the catalogue, in the order
// the complaints are given; the first complaint, if any.
Complaint CompleteOptions(GivenArguments& given, const SourceCatalogue& catalogue) {
    MakeOptions& options = given.options;
    if (Complaint complaint = CheckImageOptions(given)) {
        return complaint;
    }
    if (Complaint complaint = ResolveOutput(given.output, options)) {
        return complaint;
    }
    if (Complaint complaint = ResolveSource(given.sourceId, catalogue, options)) {
        return complaint;
    }
    if (Complaint complaint = ResolveLayers(given.layers, options)) {
        return complaint;
    }
    if (Complaint complaint = CheckTemplates(options)) {
        return complaint;
    }
    if (Complaint complaint = ResolveTiles(given.area, options)) {
        return complaint;
    }
    return CheckSourceBounds(options, given.beyondTileLimit);
}

} // namespace

std::optional<RangeUpdate> RangeForBox(double west, double south, double east, double north,
                                       int zoom, std::string& error) {
    if (zoom < 1) {
        error = "--box needs an output zoom of 1 or more";
        return std::nullopt;
    }
    if (west < -180.0 || east > 180.0 || west >= east) {
        error = "--box: longitudes must run from west to east within -180 to 180";
        return std::nullopt;
    }
    if (south < -kMaxLatitude || north > kMaxLatitude || south >= north) {
        error = FormatText("--box: latitudes must run from south to north within %.6f to %.6f",
                           -kMaxLatitude, kMaxLatitude);
        return std::nullopt;
    }
    // The box in fractional tile units of the one-tile grid at zoom 0, then
    // the panel's own computation from page zoom 0 to the output zoom. The far
    // edge stays just inside the world so that east = 180 names the last column.
    const double beforeOne = std::nextafter(1.0, 0.0);
    auto column = [&](double lon) { return std::min((lon + 180.0) / 360.0, beforeOne); };
    auto row = [&](double lat) {
        const double radians = lat * M_PI / 180.0;
        return std::min((1.0 - std::asinh(std::tan(radians)) / M_PI) / 2.0, beforeOne);
    };
    const CTileRect selection{row(north), column(west), column(east), row(south)};
    RangeUpdate update = ComputeRange(selection, 0, ZoomChoice{zoom, std::to_string(zoom)}, 0, 0);
    if (!update.range) {
        error = "no tiles for this box: " + update.totImagesText.value_or("");
        return std::nullopt;
    }
    return update;
}

std::optional<MapLayer> LayerFromName(const std::string& name) {
    static const std::map<std::string, MapLayer> kNames = {
        {"map", MapLayer::Map},
        {"road", MapLayer::Map},
        {"satellite", MapLayer::Satellite},
        {"sat", MapLayer::Satellite},
        {"terrain", MapLayer::Terrain},
        {"ter", MapLayer::Terrain},
        {"hybrid", MapLayer::Hybrid},
        {"hyb", MapLayer::Hybrid},
    };
    const auto found = kNames.find(name);
    if (found == kNames.end()) {
        return std::nullopt;
    }
    return found->second;
}

const char* LayerOptionName(MapLayer layer) {
    return LayerName(layer);
}

std::size_t MakeOptions::TileCount() const {
    return TilesOverZooms(RunZooms(range, zoom, firstZoom, tiles.size()));
}

MapSourcesValues MakeOptions::SourcesValues() const {
    MapSourcesValues values;
    for (MapLayer layer : kAllLayers) {
        const auto i = static_cast<std::size_t>(layer);
        const SourceLayer* offered = source ? source->Layer(layer) : nullptr;
        values[layer].download = layers[i];
        values[layer].sourceUrl = templates[i] ? *templates[i]
                                  : offered    ? offered->tileTemplate.Text()
                                  : source     ? std::string()
                                               : DefaultSourceUrl(layer);
        values[layer].subfolder = subfolders[i];
    }
    values.publish.stampAttribution = stampAttribution;
    values.publish.composites = composites;
    return values;
}

TileRequestStyle MakeOptions::RequestStyle() const {
    if (source) {
        return source->RequestStyle();
    }
    for (std::size_t i = 0; i < templates.size(); ++i) {
        if (layers[i] && templates[i] && templates[i]->find('{') != std::string::npos) {
            return TileSource{}.RequestStyle();
        }
    }
    return {};
}

std::string SourceListing(const SourceCatalogue& catalogue) {
    std::string listing;
    for (const TileSource& source : catalogue.sources) {
        listing +=
            source.id + "  " + ShowControls(source.name) + "  (" + source.LayerList() + ")\n";
    }
    return listing;
}

ParseOutcome ParseMakeArguments(const std::vector<std::string>& args,
                                const SourceCatalogue& catalogue) {
    ParseOutcome outcome;
    GivenArguments given;
    Complaint complaint = ReadArguments(args, given);
    outcome.helpAsked = given.helpAsked;
    outcome.listSources = given.listSources;
    if (!complaint && !given.helpAsked && !given.listSources &&
        (given.addWmts || !given.wmtsLayers.empty() || given.newSourceId)) {
        complaint = AddWmtsFrom(given, outcome.addWmts);
    } else if (!complaint && !given.helpAsked && !given.listSources) {
        complaint = CompleteOptions(given, catalogue);
        if (!complaint) {
            outcome.options = std::move(given.options);
        }
    }
    outcome.error = complaint.value_or("");
    return outcome;
}

} // namespace quiltara::make
