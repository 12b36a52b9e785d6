#include "MakeOptions.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <system_error>

#include "run/CreateMapRun.h"
#include "tiles/TextFormat.h"

namespace quiltara::make {
namespace {

// Tile indices go into file names and URLs as ints; 2^30 columns is the
// deepest grid whose every index (and the count one past it) stays an int.
constexpr int kMaxZoom = 30;

// The Mercator grid ends here: beyond it the row numbers run off the grid.
constexpr double kMaxLatitude = 85.05112877980659;

// [HL] goes into the tile URL as it is: only a language code ("en",
// "pt-BR", "zh-Hant") may, never text that adds parameters of its own.
constexpr std::size_t kLongestLanguageCode = 12;

bool IsLanguageCode(const std::string& text) {
    return !text.empty() && text.size() <= kLongestLanguageCode &&
           std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0 || c == '-'; });
}

std::vector<std::string> SplitList(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    while (true) {
        const auto end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

bool ParseInt(const std::string& text, int& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    const auto [end, ec] = std::from_chars(first, last, value);
    return ec == std::errc() && end == last && !text.empty();
}

bool ParseDouble(const std::string& text, double& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

template <typename Number, typename Parser>
bool ParseNumbers(const std::string& text, std::size_t count, std::vector<Number>& numbers,
                  Parser parse) {
    const std::vector<std::string> parts = SplitList(text, ',');
    if (parts.size() != count) {
        return false;
    }
    numbers.assign(count, Number{});
    for (std::size_t i = 0; i < count; ++i) {
        if (!parse(parts[i], numbers[i])) {
            return false;
        }
    }
    return true;
}

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

struct AreaArguments {
    std::optional<std::string> tiles;
    std::optional<std::string> box;
    std::optional<std::string> selection;
    std::optional<std::string> zoom;
    std::optional<std::string> pageZoom;
};

std::optional<RangeUpdate> ResolveArea(const AreaArguments& area, int& zoom, std::string& text,
                                       std::string& error) {
    const int given = (area.tiles ? 1 : 0) + (area.box ? 1 : 0) + (area.selection ? 1 : 0);
    if (given != 1) {
        error = "give the area with exactly one of --tiles, --box and --selection";
        return std::nullopt;
    }
    if (!area.zoom) {
        error = "the output zoom is missing (--zoom)";
        return std::nullopt;
    }
    if (!ParseInt(*area.zoom, zoom) || zoom < 0 || zoom > kMaxZoom) {
        error = FormatText("the output zoom must be a whole number from 0 to %i", kMaxZoom);
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

ParseOutcome ParseMakeArguments(const std::vector<std::string>& args) {
    ParseOutcome outcome;
    MakeOptions options;
    AreaArguments area;
    std::optional<std::string> layers;
    std::optional<std::string> sourceId;
    bool beyondTileLimit = false;
    std::optional<std::string> output;
    bool tiffCompressionGiven = false;
    auto fail = [&](std::string error) {
        outcome.error = std::move(error);
        return outcome;
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            outcome.helpAsked = true;
            return outcome;
        }
        if (arg == "--list-sources") {
            outcome.listSources = true;
            return outcome;
        }
        if (arg == "-o") {
            if (i + 1 >= args.size()) {
                return fail("-o needs a value");
            }
            if (output) {
                return fail("only one output file can be given");
            }
            output = args[++i];
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-' && arg.rfind("--", 0) != 0) {
            return fail("unknown option " + arg);
        }
        if (arg.rfind("--", 0) != 0) {
            if (output) {
                return fail("only one output file can be given, not also '" + arg + "'");
            }
            output = arg;
            continue;
        }

        // "--name=value" or "--name value"
        std::string name = arg;
        std::optional<std::string> value;
        if (const auto eq = arg.find('='); eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        auto takeValue = [&]() -> std::optional<std::string> {
            if (value) {
                return value;
            }
            if (i + 1 < args.size()) {
                return args[++i];
            }
            return std::nullopt;
        };

        static const std::map<std::string, std::optional<std::string> AreaArguments::*> kArea = {
            {"--tiles", &AreaArguments::tiles},         {"--box", &AreaArguments::box},
            {"--selection", &AreaArguments::selection}, {"--zoom", &AreaArguments::zoom},
            {"--page-zoom", &AreaArguments::pageZoom},
        };
        if (const auto found = kArea.find(name); found != kArea.end()) {
            std::optional<std::string> taken = takeValue();
            if (!taken) {
                return fail(name + " needs a value");
            }
            area.*(found->second) = std::move(taken);
            continue;
        }

        if (name == "--source") {
            std::optional<std::string> taken = takeValue();
            if (!taken) {
                return fail(name + " needs a value");
            }
            sourceId = *taken;
            continue;
        }

        if (name == "--map-service") {
            std::optional<std::string> taken = takeValue();
            if (!taken) {
                return fail(name + " needs a value");
            }
            std::string why;
            options.mapService = MapServiceRoute::Parse(*taken, why);
            if (!options.mapService) {
                return fail("--map-service: " + why);
            }
            continue;
        }

        if (name == "--layers" || name == "--output" || name == "--hl" || name == "--existing") {
            std::optional<std::string> taken = takeValue();
            if (!taken) {
                return fail(name + " needs a value");
            }
            if (name == "--layers") {
                layers = *taken;
            } else if (name == "--output") {
                if (output) {
                    return fail("only one output file can be given");
                }
                output = *taken;
            } else if (name == "--hl") {
                if (!IsLanguageCode(*taken)) {
                    return fail("--hl takes a language code (letters, digits and '-', at most " +
                                std::to_string(kLongestLanguageCode) + " characters), not '" +
                                *taken + "'");
                }
                options.languageCode = *taken;
            } else if (*taken == "ask") {
                options.existing = ExistingPolicy::Ask;
            } else if (*taken == "overwrite") {
                options.existing = ExistingPolicy::Overwrite;
            } else if (*taken == "keep") {
                options.existing = ExistingPolicy::Keep;
            } else {
                return fail("--existing takes ask, overwrite or keep, not '" + *taken + "'");
            }
            continue;
        }

        if (name == "--jobs") {
            const std::optional<std::string> taken = takeValue();
            if (!taken || !ParseInt(*taken, options.jobs) || options.jobs < 1 ||
                options.jobs > kMostDownloadConnections) {
                return fail(FormatText("--jobs needs a number of connections from 1 to %i",
                                       kMostDownloadConnections));
            }
            continue;
        }
        if (name == "--delete-tiles" || name == "--keep-tiles") {
            if (value) {
                return fail(name + " takes no value");
            }
            const DeletePolicy wanted =
                name == "--delete-tiles" ? DeletePolicy::Delete : DeletePolicy::Keep;
            if (options.deleteTiles && *options.deleteTiles != wanted) {
                return fail("--delete-tiles and --keep-tiles contradict each other");
            }
            options.deleteTiles = wanted;
            continue;
        }
        if (name == "--quiet" || name == "--in-memory" || name == "--dry-run" ||
            name == "--beyond-tile-limit") {
            if (value) {
                return fail(name + " takes no value");
            }
            bool& flag = name == "--quiet"       ? options.quiet
                         : name == "--dry-run"   ? options.dryRun
                         : name == "--in-memory" ? options.inMemory
                                                 : beyondTileLimit;
            flag = true;
            continue;
        }
        if (name == "--format" || name == "--tiff-compression") {
            const std::optional<std::string> taken = takeValue();
            const bool format = name == "--format";
            if (format && taken && (*taken == "png" || *taken == "tiff")) {
                options.format = *taken == "png" ? ImageFileFormat::Png : ImageFileFormat::GeoTiff;
            } else if (!format && taken && (*taken == "deflate" || *taken == "jpeg")) {
                options.tiffCompression =
                    *taken == "jpeg" ? TiffCompression::Jpeg : TiffCompression::Deflate;
                tiffCompressionGiven = true;
            } else {
                return fail(format ? "--format takes png or tiff"
                                   : "--tiff-compression takes deflate or jpeg");
            }
            continue;
        }
        if (name == "--jpeg-quality") {
            const std::optional<std::string> taken = takeValue();
            int quality = 0;
            if (!taken || !ParseInt(*taken, quality) || quality < 1 || quality > 100) {
                return fail("--jpeg-quality needs a quality from 1 to 100");
            }
            options.jpegQuality = quality;
            continue;
        }
        if (name == "--png-level") {
            const std::optional<std::string> taken = takeValue();
            if (!taken || taken->size() != 1 || (*taken)[0] < '0' || (*taken)[0] > '9') {
                return fail("--png-level needs a compression level from 0 to 9");
            }
            options.pngLevel = (*taken)[0] - '0';
            continue;
        }

        const std::string templatePrefix = "--template-";
        const std::string subfolderPrefix = "--subfolder-";
        const bool isTemplate = name.rfind(templatePrefix, 0) == 0;
        const bool isSubfolder = name.rfind(subfolderPrefix, 0) == 0;
        if (isTemplate || isSubfolder) {
            const std::string layerName =
                name.substr((isTemplate ? templatePrefix : subfolderPrefix).size());
            const std::optional<MapLayer> layer = LayerFromName(layerName);
            if (!layer) {
                return fail("unknown map layer '" + layerName + "' in " + name);
            }
            std::optional<std::string> taken = takeValue();
            if (!taken) {
                return fail(name + " needs a value");
            }
            const auto index = static_cast<std::size_t>(*layer);
            if (isTemplate) {
                options.templates[index] = *taken;
            } else if (std::optional<std::string> bad = SubfolderError(*layer, *taken)) {
                return fail(*bad);
            } else {
                options.subfolders[index] = *taken;
            }
            continue;
        }
        return fail("unknown option " + name);
    }

    if (options.inMemory && options.pngLevel) {
        return fail("--png-level applies to the streaming stitcher, not to --in-memory");
    }
    const bool tiff = options.format == ImageFileFormat::GeoTiff;
    if (tiff && options.inMemory) {
        return fail("--format tiff is streamed; it cannot be made --in-memory");
    }
    if (tiff && options.pngLevel) {
        return fail("--png-level applies to PNG images, not to --format tiff");
    }
    if (!tiff && (tiffCompressionGiven || options.jpegQuality)) {
        return fail("--tiff-compression and --jpeg-quality belong to --format tiff");
    }
    if (options.jpegQuality && options.tiffCompression != TiffCompression::Jpeg) {
        return fail("--jpeg-quality needs --tiff-compression jpeg");
    }
    if (!output || output->empty()) {
        return fail("the output file is missing (--output FILE)");
    }
    std::error_code ec;
    const std::filesystem::path outputPath = std::filesystem::absolute(*output, ec);
    const std::string leaf = ec ? std::string() : outputPath.filename().string();
    if (leaf.empty() || leaf == "." || leaf == "..") {
        return fail("'" + *output + "' does not name a file");
    }
    if (!std::filesystem::is_directory(outputPath.parent_path(), ec)) {
        return fail("the output folder " + outputPath.parent_path().string() + " does not exist");
    }
    // The images go beside the name, under the layers' prefixes; a name that
    // is a folder, a device or the like is no file name to start from.
    const std::filesystem::file_status existing = std::filesystem::status(outputPath, ec);
    if (std::filesystem::exists(existing) && !std::filesystem::is_regular_file(existing)) {
        return fail("'" + *output + "' is not a plain file name in an existing folder");
    }
    options.outputPath = outputPath.string();

    if (sourceId) {
        const SourceCatalogue catalogue = LoadSourceCatalogue(SourceFolders());
        const TileSource* found = catalogue.Find(*sourceId);
        if (found == nullptr) {
            return fail("there is no tile source '" + *sourceId + "' (see --list-sources)");
        }
        options.source = *found;
        options.jobs = std::min(options.jobs, found->connections);
    }
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
            return fail("unknown map layer '" + layerName + "' in --layers");
        }
        const auto index = static_cast<std::size_t>(*layer);
        if (options.source && options.source->Layer(*layer) == nullptr &&
            !options.templates[index]) {
            return fail("the tile source '" + options.source->id + "' has no " + LayerName(*layer) +
                        " layer (it offers " + options.source->LayerList() + ")");
        }
        options.layers[index] = true;
    }
    for (MapLayer layer : kAllLayers) {
        const auto& given = options.templates[static_cast<std::size_t>(layer)];
        std::string why;
        if (given && !TileTemplate::Parse(*given, why)) {
            return fail(std::string("--template-") + LayerName(layer) + ": " + why);
        }
    }

    std::string error;
    std::optional<RangeUpdate> update = ResolveArea(area, options.zoom, options.areaText, error);
    if (!update) {
        return fail(error);
    }
    options.range = *update->range;
    options.tiles = std::move(update->tiles);
    if (options.source &&
        (options.zoom < options.source->minZoom || options.zoom > options.source->maxZoom)) {
        // Its server has no tiles there: every request would only fail.
        return fail(FormatText("the tile source '%s' has zooms %i to %i, not %i",
                               options.source->id.c_str(), options.source->minZoom,
                               options.source->maxZoom, options.zoom));
    }
    if (options.source && !beyondTileLimit && !options.dryRun) {
        const auto chosen = static_cast<std::size_t>(
            std::count(options.layers.begin(), options.layers.end(), true));
        if (const auto excess = TileLimitExcess(*options.source, options.tiles.size() * chosen)) {
            // No one to ask here: the run is refused unless the command line says to go on.
            return fail(*excess + " (--beyond-tile-limit fetches them anyway)");
        }
    }
    outcome.options = std::move(options);
    return outcome;
}

std::string MakeUsage() {
    return R"(Usage: quiltara-make AREA --zoom Z [options] --output FILE

Makes one map image per chosen layer of an area of a tiled web map: fetches
every tile into the output folder, stitches each layer into FILE with the
layer's prefix (Map_, Sat_, Ter_, Hyb_), then offers to delete the tiles.

Area (exactly one):
  --tiles X1,Y1,X2,Y2      first and last tile column and row at the output zoom
  --box W,S,E,N            west, south, east, north edges in degrees
  --selection T,L,R,B      a selection in fractional tile units at the page zoom
  --page-zoom N            the zoom the selection was measured at
  --zoom Z                 the output zoom

Options:
  -o, --output FILE        the map image name; its folder must exist
  --layers LIST            comma-separated: map, satellite, terrain, hybrid or all
                           (default: map)
  --source ID              fetch from a tile source of the catalogue (its
                           templates, header lines and connection count; see
                           --list-sources) instead of the map service
  --list-sources           list the tile sources: id, name and layers; then
                           the source files that could not be read
  --beyond-tile-limit      fetch even more tiles than the source's terms allow
  --template-LAYER URL     the layer's source URL template, with [SRVINDEX], [X],
                           [Y], [Z], [HL] and [SERVER], or {x}, {y}, {z}, {-y}
                           and {s}
  --subfolder-LAYER NAME   put the layer's tiles and image in this folder inside
                           the output folder (one folder name, created when
                           missing)
  --hl CODE                language code for [HL] (default: en)
  --existing=ask|overwrite|keep
                           tile files already present (default: ask on a
                           terminal, keep otherwise)
  --delete-tiles, --keep-tiles
                           delete the tile files afterwards or keep them
                           (default: ask on a terminal, keep otherwise)
  --jobs N                 fetch tiles over N connections at once, 1 to 16
                           (default 4; 1 fetches one tile after another)
  --map-service HOST:PORT  send the requests for the map service's host names
                           to HOST:PORT (the offline demo-map-server); the
                           URLs and their Host headers stay as they are
  --quiet                  no progress lines
  --dry-run                print the estimate (downloads, image size, memory)
                           and stop: nothing is fetched or written
  --png-level N            zlib compression level of the images, 0 (none,
                           fastest) to 9 (smallest); default: the PNG writer's
  --in-memory              stitch each image whole in memory (with the
                           256-colour fallback) instead of streaming it to the
                           file band by band
  --format png|tiff        the images' file format (default png); tiff makes a
                           tiled GeoTIFF with overviews and its place inside.
                           The name's extension never changes the format
  --tiff-compression deflate|jpeg
                           GeoTIFF tiles deflated (lossless, default) or JPEG;
                           layers with transparency are always deflated
  --jpeg-quality N         JPEG quality of GeoTIFF tiles, 1 to 100 (default 75)
  -h, --help               this text

Every message of the run is printed as it would be shown in a message box.
Each PNG image gets a world file (.pgw) and a projection file (.prj) beside
it; a GeoTIFF holds its place (EPSG:3857) itself.
Ctrl-C stops at once, keeps every finished tile and makes no image; run
again with --existing=keep to fetch the rest. A second Ctrl-C ends at once.
Exit status: 0 every image made; 1 the run ended early, or an image or its
world or projection file could not be written; 2 bad arguments; 3 some tiles
failed to download or could not be placed (a layer with no tile at all gets
no image, and an earlier one stays).
)";
}

} // namespace quiltara::make
