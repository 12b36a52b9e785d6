#include "MakeOptionTable.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <type_traits>
#include <utility>

#include "ArgumentText.h"
#include "download/TileCache.h"
#include "run/CreateMapRun.h"
#include "tiles/TextFormat.h"

namespace quiltara::make {
namespace {

using Complaint = std::optional<std::string>;

// [HL] goes into the tile URL as it is: only a language code ("en",
// "pt-BR", "zh-Hant") may, never text that adds parameters of its own.
constexpr std::size_t kLongestLanguageCode = 12;

bool IsLanguageCode(const std::string& text) {
    return !text.empty() && text.size() <= kLongestLanguageCode &&
           std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0 || c == '-'; });
}

// The handler of an option that only notes what was given: a flag is set, a
// text kept for the checks that follow.
template <auto member>
Complaint Note(GivenArguments& given, const OptionUse& use) {
    using Member = decltype(member);
    if constexpr (std::is_same_v<Member, bool MakeOptions::*>) {
        given.options.*member = true;
    } else if constexpr (std::is_same_v<Member, bool GivenArguments::*>) {
        given.*member = true;
    } else if constexpr (std::is_same_v<Member, std::optional<std::string> AreaArguments::*>) {
        given.area.*member = use.value;
    } else {
        given.*member = use.value;
    }
    return std::nullopt;
}

Complaint TakeOutput(GivenArguments& given, const OptionUse& use) {
    if (given.output) {
        return "only one output file can be given";
    }
    given.output = use.value;
    return std::nullopt;
}

Complaint TakeLanguage(GivenArguments& given, const OptionUse& use) {
    if (!IsLanguageCode(use.value)) {
        return "--hl takes a language code (letters, digits and '-', at most " +
               std::to_string(kLongestLanguageCode) + " characters), not '" + use.value + "'";
    }
    given.options.languageCode = use.value;
    return std::nullopt;
}

Complaint TakeExisting(GivenArguments& given, const OptionUse& use) {
    if (use.value == "ask") {
        given.options.existing = ExistingPolicy::Ask;
    } else if (use.value == "overwrite") {
        given.options.existing = ExistingPolicy::Overwrite;
    } else if (use.value == "keep") {
        given.options.existing = ExistingPolicy::Keep;
    } else {
        return "--existing takes ask, overwrite or keep, not '" + use.value + "'";
    }
    return std::nullopt;
}

Complaint TakeDeleteTiles(GivenArguments& given, const OptionUse& use) {
    const DeletePolicy wanted =
        use.spelling == "--delete-tiles" ? DeletePolicy::Delete : DeletePolicy::Keep;
    if (given.options.deleteTiles && *given.options.deleteTiles != wanted) {
        return "--delete-tiles and --keep-tiles contradict each other";
    }
    given.options.deleteTiles = wanted;
    return std::nullopt;
}

Complaint TakeCacheSize(GivenArguments& given, const OptionUse& use) {
    const std::optional<std::uint64_t> bytes = ParseCacheSize(use.value);
    if (!bytes) {
        return "--cache-size takes megabytes (\"500\") or a size with a unit (\"750K\", \"512M\", "
               "\"2G\"), not '" +
               use.value + "'";
    }
    given.options.cacheBytes = *bytes;
    return std::nullopt;
}

Complaint TakeCacheDir(GivenArguments& given, const OptionUse& use) {
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::absolute(use.value, ec);
    if (use.value.empty() || ec) {
        return "--cache-dir needs a folder";
    }
    given.options.cacheDir = folder.string();
    return std::nullopt;
}

Complaint TakeJobs(GivenArguments& given, const OptionUse& use) {
    int jobs = 0;
    if (!ParseInt(use.value, jobs) || jobs < 1 || jobs > kMostDownloadConnections) {
        return FormatText("--jobs needs a number of connections from 1 to %i",
                          kMostDownloadConnections);
    }
    given.options.jobs = jobs;
    return std::nullopt;
}

Complaint TakeMapService(GivenArguments& given, const OptionUse& use) {
    std::string why;
    given.options.mapService = MapServiceRoute::Parse(use.value, why);
    if (!given.options.mapService) {
        return "--map-service: " + why;
    }
    return std::nullopt;
}

Complaint TakeProxy(GivenArguments& given, const OptionUse& use) {
    std::string why;
    const std::optional<ProxyChoice> proxy =
        ReadProxyText(use.value, "--proxy", ProxyChoice::Kind::Direct, why);
    if (!proxy) {
        return "--proxy: " + why;
    }
    given.options.proxy = *proxy;
    return std::nullopt;
}

Complaint TakeFormat(GivenArguments& given, const OptionUse& use) {
    static constexpr std::pair<std::string_view, ImageFileFormat> kFormats[] = {
        {"png", ImageFileFormat::Png},
        {"tiff", ImageFileFormat::GeoTiff},
        {"mbtiles", ImageFileFormat::Mbtiles},
        {"gpkg", ImageFileFormat::GeoPackage}};
    for (const auto& [name, format] : kFormats) {
        if (use.value == name) {
            given.options.format = format;
            return std::nullopt;
        }
    }
    return "--format takes png, tiff, mbtiles or gpkg";
}

Complaint TakeTiffCompression(GivenArguments& given, const OptionUse& use) {
    if (use.value != "deflate" && use.value != "jpeg") {
        return "--tiff-compression takes deflate or jpeg";
    }
    given.options.tiffCompression =
        use.value == "jpeg" ? TiffCompression::Jpeg : TiffCompression::Deflate;
    given.tiffCompressionGiven = true;
    return std::nullopt;
}

Complaint TakeJpegQuality(GivenArguments& given, const OptionUse& use) {
    int quality = 0;
    if (!ParseInt(use.value, quality) || quality < 1 || quality > 100) {
        return "--jpeg-quality needs a quality from 1 to 100";
    }
    given.options.jpegQuality = quality;
    return std::nullopt;
}

Complaint TakePngLevel(GivenArguments& given, const OptionUse& use) {
    if (use.value.size() != 1 || use.value[0] < '0' || use.value[0] > '9') {
        return "--png-level needs a compression level from 0 to 9";
    }
    given.options.pngLevel = use.value[0] - '0';
    return std::nullopt;
}

Complaint TakeTemplate(GivenArguments& given, const OptionUse& use) {
    given.options.templates[static_cast<std::size_t>(use.layer)] = use.value;
    return std::nullopt;
}

Complaint TakeSubfolder(GivenArguments& given, const OptionUse& use) {
    if (std::optional<std::string> bad = SubfolderError(use.layer, use.value)) {
        return bad;
    }
    given.options.subfolders[static_cast<std::size_t>(use.layer)] = use.value;
    return std::nullopt;
}

Complaint TakeWmtsLayer(GivenArguments& given, const OptionUse& use) {
    given.wmtsLayers.push_back(use.value);
    return std::nullopt;
}

Complaint TakeOverlay(GivenArguments& given, const OptionUse& use) {
    if (use.value != "black" && use.value != "alpha") {
        return "--overlay takes black or alpha";
    }
    given.options.overlay = use.value == "alpha" ? OverlayOutput::Alpha : OverlayOutput::Black;
    return std::nullopt;
}

Complaint TakeComposite(GivenArguments& given, const OptionUse& use) {
    const auto plus = use.value.find('+');
    const std::optional<MapLayer> base =
        plus == std::string::npos ? std::nullopt : LayerFromName(use.value.substr(0, plus));
    const std::optional<MapLayer> overlay =
        plus == std::string::npos ? std::nullopt : LayerFromName(use.value.substr(plus + 1));
    if (!base || !overlay || *base == *overlay) {
        return "--composite takes two different layers, the base first: BASE+OVERLAY, such as "
               "satellite+hybrid, not '" +
               use.value + "'";
    }
    given.options.composites.push_back(CompositeLayers{*base, *overlay});
    return std::nullopt;
}

constexpr MakeOption kOptions[] = {
    {"--tiles", "X1,Y1,X2,Y2", Takes::Value,
     "first and last tile column and row at the output zoom", true, Note<&AreaArguments::tiles>},
    {"--box", "W,S,E,N", Takes::Value, "west, south, east, north edges in degrees", true,
     Note<&AreaArguments::box>},
    {"--selection", "T,L,R,B", Takes::Value,
     "a selection in fractional tile units at the page zoom", true,
     Note<&AreaArguments::selection>},
    {"--page-zoom", "N", Takes::Value, "the zoom the selection was measured at", true,
     Note<&AreaArguments::pageZoom>},
    {"--zoom", "Z|A-B", Takes::Value,
     "the output zoom; A-B: every zoom from A to B (for\n--format mbtiles or gpkg), the area at "
     "each",
     true, Note<&AreaArguments::zoom>},

    {"-o, --output", "FILE", Takes::Value, "the map image name; its folder must exist", false,
     TakeOutput},
    {"--layers", "LIST", Takes::Value,
     "comma-separated: map, satellite, terrain, hybrid or all\n(default: map)", false,
     Note<&GivenArguments::layers>},
    {"--source", "ID", Takes::Value,
     "fetch from a tile source of the catalogue (its\ntemplates, header lines and connection "
     "count; see\n--list-sources) instead of the map service",
     false, Note<&GivenArguments::sourceId>},
    {"--list-sources", "", Takes::Alone,
     "list the tile sources: id, name and layers; then\nthe source files that could not be read",
     false, Note<&GivenArguments::listSources>},
    {"--add-wmts", "URL|FILE", Takes::Value,
     "read a WMTS capabilities document and list its\nlayers; with --wmts-layer, write a tile "
     "source of\nthose layers into your sources folder (and make no\nmap)",
     false, Note<&GivenArguments::addWmts>},
    {"--wmts-layer", "[KIND=]ID", Takes::Value,
     "a layer of --add-wmts for the source (repeatable);\nKIND is map, satellite, terrain or "
     "hybrid, by\ndefault the first one still free",
     false, TakeWmtsLayer},
    {"--id", "ID", Takes::Value,
     "the id of the source --add-wmts writes (default:\nmade from the service's title)", false,
     Note<&GivenArguments::newSourceId>},
    {"--beyond-tile-limit", "", Takes::Nothing,
     "fetch even more tiles than the source's terms allow", false,
     Note<&GivenArguments::beyondTileLimit>},
    {"--template-LAYER", "URL", Takes::Value,
     "the layer's source URL template, with [SRVINDEX], [X],\n[Y], [Z], [HL] and [SERVER], or "
     "{x}, {y}, {z}, {-y}\nand {s}",
     false, TakeTemplate},
    {"--subfolder-LAYER", "NAME", Takes::Value,
     "put the layer's tiles and image in this folder inside\nthe output folder (one folder name, "
     "created when\nmissing)",
     false, TakeSubfolder},
    {"--hl", "CODE", Takes::Value, "language code for [HL] (default: en)", false, TakeLanguage},
    {"--existing", "ask|overwrite|keep", Takes::Value,
     "tile files already present (default: ask on a\nterminal, keep otherwise)", false,
     TakeExisting},
    {"--delete-tiles, --keep-tiles", "", Takes::Nothing,
     "delete the tile files afterwards or keep them\n(default: ask on a terminal, keep otherwise)",
     false, TakeDeleteTiles},
    {"--jobs", "N", Takes::CheckedValue,
     "fetch tiles over N connections at once, 1 to 16\n(default 4; 1 fetches one tile after "
     "another)",
     false, TakeJobs},
    {"--map-service", "HOST:PORT", Takes::Value,
     "send the requests for the map service's host names\nto HOST:PORT (the offline "
     "demo-map-server); the\nURLs and their Host headers stay as they are",
     false, TakeMapService},
    {"--no-cache", "", Takes::Nothing,
     "neither take tiles from the tile cache nor keep\nthem there (every tile is downloaded)",
     false, Note<&MakeOptions::noCache>},
    {"--offline", "", Takes::Nothing,
     "tiles from the tile cache only, fresh or not: no\nrequest is sent, a tile not there fails",
     false, Note<&MakeOptions::offline>},
    {"--cache-dir", "DIR", Takes::Value,
     "the tile cache's folder (default:\n$XDG_CACHE_HOME/Quiltara/tiles, else\n"
     "~/.cache/Quiltara/tiles)",
     false, TakeCacheDir},
    {"--cache-size", "SIZE", Takes::CheckedValue,
     "the tile cache's cap, the least recently used\ntiles going first after the run: megabytes "
     "(\"500\")\nor with a unit (\"750K\", \"512M\", \"2G\"); default 2G",
     false, TakeCacheSize},
    {"--proxy", "URL", Takes::Value,
     "fetch through this proxy (HOST:PORT or a URL, with\nUSER:PASSWORD@ if it wants them) "
     "instead of the one\nhttp_proxy, https_proxy or all_proxy names; no_proxy\nstill applies. "
     "\"\" or direct: no proxy at all",
     false, TakeProxy},
    {"--quiet", "", Takes::Nothing, "no progress lines", false, Note<&MakeOptions::quiet>},
    {"--dry-run", "", Takes::Nothing,
     "print the estimate (downloads, image size, memory)\nand stop: nothing is fetched or written",
     false, Note<&MakeOptions::dryRun>},
    {"--png-level", "N", Takes::CheckedValue,
     "zlib compression level of the images, 0 (none,\nfastest) to 9 (smallest); default: the PNG "
     "writer's",
     false, TakePngLevel},
    {"--in-memory", "", Takes::Nothing,
     "stitch each image whole in memory (with the\n256-colour fallback) instead of streaming it "
     "to the\nfile band by band",
     false, Note<&MakeOptions::inMemory>},
    {"--format", "png|tiff|mbtiles|gpkg", Takes::CheckedValue,
     "the images' file format (default png); tiff makes a\ntiled GeoTIFF with overviews and its "
     "place inside;\nmbtiles and gpkg make offline map packages (MBTiles,\nGeoPackage) of the "
     "tiles as sent, over --zoom A-B.\nThe name's extension never changes the format",
     false, TakeFormat},
    {"--stamp-attribution", "", Takes::Nothing,
     "draw the source's attribution in a small strip in\nthe bottom right corner of each image",
     false, Note<&MakeOptions::stampAttribution>},
    {"--tiff-compression", "deflate|jpeg", Takes::CheckedValue,
     "GeoTIFF tiles deflated (lossless, default) or JPEG;\nlayers with transparency are always "
     "deflated",
     false, TakeTiffCompression},
    {"--jpeg-quality", "N", Takes::CheckedValue,
     "JPEG quality of GeoTIFF tiles, 1 to 100 (default 75)", false, TakeJpegQuality},
    {"--overlay", "black|alpha", Takes::CheckedValue,
     "transparent pixels of a layer's tiles: left black\n(default; partly transparent ones mixed "
     "with black)\nor kept as the PNG's alpha channel (RGBA); a\nGeoTIFF keeps them as its "
     "alpha either way",
     false, TakeOverlay},
    {"--composite", "BASE+OVERLAY", Takes::CheckedValue,
     "also lay OVERLAY's tiles over BASE's into an image\nof its own in BASE's folder, named with "
     "both\nprefixes (satellite+hybrid: SatHyb_FILE); both\nlayers must be in --layers "
     "(repeatable)",
     false, TakeComposite},
    {"-h, --help", "", Takes::Alone, "this text", false, Note<&GivenArguments::helpAsked>},
};

constexpr std::string_view kLayerWord = "LAYER";

// The spellings of an option, as --help shows them.
std::vector<std::string_view> Spellings(const MakeOption& option) {
    std::vector<std::string_view> spellings;
    std::string_view rest = option.spellings;
    while (true) {
        const auto comma = rest.find(", ");
        spellings.push_back(rest.substr(0, comma));
        if (comma == std::string_view::npos) {
            return spellings;
        }
        rest.remove_prefix(comma + 2);
    }
}

// The option a command-line name stands for, with the layer the name ends in
// for the per-layer options; nothing when no option is so spelled.
const MakeOption* FindOption(std::string_view name, std::string& layerName) {
    for (const MakeOption& option : kOptions) {
        for (std::string_view spelling : Spellings(option)) {
            if (spelling.ends_with(kLayerWord)) {
                spelling.remove_suffix(kLayerWord.size());
                if (name.starts_with(spelling)) {
                    layerName = name.substr(spelling.size());
                    return &option;
                }
            } else if (name == spelling) {
                return &option;
            }
        }
    }
    return nullptr;
}

// The label in front of an option's help: "-o, --output FILE".
std::string Label(const MakeOption& option) {
    std::string label(option.spellings);
    if (!option.value.empty()) {
        label += ' ';
        label += option.value;
    }
    return label;
}

// Labels up to this long share their line with the help; longer ones stand
// on a line of their own above it. Every help line starts in one column.
constexpr std::size_t kLabelWidth = 23;
const std::string kHelpIndent(2 + kLabelWidth + 2, ' ');

std::string HelpLines(const MakeOption& option) {
    const std::string label = Label(option);
    std::string text = "  " + label;
    text += label.size() <= kLabelWidth ? std::string(kLabelWidth + 2 - label.size(), ' ')
                                        : "\n" + kHelpIndent;
    for (char c : option.help) {
        text += c;
        if (c == '\n') {
            text += kHelpIndent;
        }
    }
    return text + "\n";
}

} // namespace

std::span<const MakeOption> MakeOptionTable() {
    return kOptions;
}

std::optional<std::string> ReadArguments(const std::vector<std::string>& args,
                                         GivenArguments& given) {
    for (std::size_t i = 0; i < args.size() && !given.helpAsked && !given.listSources; ++i) {
        const std::string& arg = args[i];
        const bool isLong = arg.starts_with("--");
        if (!isLong && (arg.size() < 2 || arg[0] != '-')) {
            // Not an option: the output file.
            if (given.output) {
                return "only one output file can be given, not also '" + arg + "'";
            }
            given.output = arg;
            continue;
        }
        // "--name=value" or "--name value"; a short option takes the next word.
        const auto eq = isLong ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, eq);
        std::string layerName;
        const MakeOption* option = FindOption(name, layerName);
        if (option == nullptr || (option->takes == Takes::Alone && eq != std::string::npos)) {
            return "unknown option " + name;
        }
        OptionUse use{name, {}, MapLayer::Map};
        if (option->spellings.find(kLayerWord) != std::string_view::npos) {
            const std::optional<MapLayer> layer = LayerFromName(layerName);
            if (!layer) {
                return "unknown map layer '" + layerName + "' in " + name;
            }
            use.layer = *layer;
        }
        const bool takesValue =
            option->takes == Takes::Value || option->takes == Takes::CheckedValue;
        if (eq != std::string::npos) {
            if (!takesValue) {
                return name + " takes no value";
            }
            use.value = arg.substr(eq + 1);
        } else if (takesValue && i + 1 < args.size()) {
            use.value = args[++i];
        } else if (option->takes == Takes::Value) {
            return name + " needs a value";
        }
        if (Complaint complaint = option->handle(given, use)) {
            return complaint;
        }
    }
    return std::nullopt;
}

std::string MakeUsage() {
    std::string area;
    std::string others;
    for (const MakeOption& option : kOptions) {
        (option.area ? area : others) += HelpLines(option);
    }
    return R"(Usage: quiltara-make AREA --zoom Z [options] --output FILE

Makes one map image per chosen layer of an area of a tiled web map: fetches
every tile into the output folder, stitches each layer into FILE with the
layer's prefix (Map_, Sat_, Ter_, Hyb_), then offers to delete the tiles.

Area (exactly one):
)" + area + "\nOptions:\n" +
           others + R"(
Every message of the run is printed as it would be shown in a message box.
Each PNG image gets a world file (.pgw) and a projection file (.prj) beside
it; a GeoTIFF and the packages hold their place (EPSG:3857) themselves. A
package holds the tiles of every zoom of --zoom A-B, fetched shallowest first;
the tile files stay in the output folder as for images.
Ctrl-C stops at once, keeps every finished tile and makes no image; run
again with --existing=keep to fetch the rest. A second Ctrl-C ends at once.
Exit status: 0 every image made; 1 the run ended early, or an image or its
world or projection file could not be written; 2 bad arguments; 3 some tiles
failed to download or could not be placed (a layer with no tile at all gets
no image, and an earlier one stays).
)";
}

} // namespace quiltara::make
