#include "sources/SourceCatalogue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <system_error>

#include "sources/SourceFields.h"
#include "tiles/TextFormat.h"

#ifndef QUILTARA_VERSION
#define QUILTARA_VERSION "0"
#endif
#ifndef QUILTARA_SOURCES_DIR
#define QUILTARA_SOURCES_DIR ""
#endif

namespace quiltara {
namespace {

using Json = nlohmann::json;

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// More connections than the downloader ever opens are of no use.
constexpr int kMostConnections = 16;
constexpr int kDeepestZoom = 30;
// A source file is a few hundred bytes, nested three or four levels deep. A
// file far beyond either is no source, and reading it whole (a link to
// /dev/zero, a 50 MB array) or walking its nesting (arrays a hundred
// thousand deep) would cost every run its memory or its stack.
constexpr std::size_t kLargestSourceFile = 1024 * 1024;
constexpr int kDeepestNesting = 16;
// A failing tile is asked of a few subdomains only, so more are of no use;
// a file listing thousands is a mistake or an attack on its server.
constexpr std::size_t kMostSubdomains = 64;

// A reason for refusing a file, thrown while it is read.
struct Refusal {
    std::string reason;
};

[[noreturn]] void Refuse(std::string reason) {
    throw Refusal{std::move(reason)};
}

std::string Text(const Json& object, const char* key, bool required) {
    const auto found = object.find(key);
    if (found == object.end()) {
        if (required) {
            Refuse(std::string("\"") + key + "\" is missing");
        }
        return {};
    }
    if (!found->is_string()) {
        Refuse(std::string("\"") + key + "\" must be a text");
    }
    return found->get<std::string>();
}

int Whole(const Json& object, const char* key, int fallback, int lowest, int highest) {
    const auto found = object.find(key);
    if (found == object.end()) {
        return fallback;
    }
    if (!found->is_number_integer() || found->get<long long>() < lowest ||
        found->get<long long>() > highest) {
        Refuse(FormatText("\"%s\" must be a whole number from %i to %i", key, lowest, highest));
    }
    return found->get<int>();
}

double Degrees(const Json& object, const char* key, double limit) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_number() || std::abs(found->get<double>()) > limit) {
        Refuse(
            FormatText("\"start\" needs \"%s\" in degrees from %.0f to %.0f", key, -limit, limit));
    }
    return found->get<double>();
}

bool ValidId(const std::string& id) {
    return !id.empty() && std::all_of(id.begin(), id.end(), [](unsigned char c) {
        return std::islower(c) != 0 || std::isdigit(c) != 0 || c == '-' || c == '_' || c == '.';
    });
}

// The header lines libcurl writes itself, which say how a request is framed
// or where it goes. Taken from a file they cut or join the requests on a
// kept connection (a Content-Length on a GET makes the server wait for a
// body that never comes) or send the request to another site.
const std::set<std::string>& FramingHeaders() {
    static const std::set<std::string> names = {"host",
                                                "content-length",
                                                "transfer-encoding",
                                                "connection",
                                                "keep-alive",
                                                "upgrade",
                                                "te",
                                                "trailer",
                                                "expect",
                                                "proxy-connection"};
    return names;
}

// "Name: value" with nothing that could end the line and start another.
bool ValidHeaderLine(const std::string& line) {
    const auto colon = line.find(':');
    return colon != std::string::npos && colon > 0 &&
           std::none_of(line.begin(), line.end(),
                        [](unsigned char c) { return c < 0x20 && c != '\t'; }) &&
           std::all_of(line.begin(), line.begin() + static_cast<long>(colon), [](unsigned char c) {
               return std::isalnum(c) != 0 || c == '-' || c == '_';
           });
}

std::vector<std::string> Subdomains(const Json& source) {
    const auto found = source.find("subdomains");
    std::vector<std::string> subdomains;
    if (found == source.end()) {
        return subdomains;
    }
    if (found->is_string()) {
        // "abc" as map pages write it: one letter each
        for (char c : found->get<std::string>()) {
            subdomains.emplace_back(1, c);
        }
    } else if (found->is_array()) {
        for (const Json& item : *found) {
            if (!item.is_string() || item.get<std::string>().empty()) {
                Refuse("\"subdomains\" must hold texts");
            }
            subdomains.push_back(item.get<std::string>());
        }
    } else {
        Refuse("\"subdomains\" must be a text or a list of texts");
    }
    if (subdomains.size() > kMostSubdomains) {
        Refuse(FormatText("\"subdomains\" lists %zu, more than the %zu a source may have",
                          subdomains.size(), kMostSubdomains));
    }
    for (const std::string& subdomain : subdomains) {
        if (!std::all_of(subdomain.begin(), subdomain.end(),
                         [](unsigned char c) { return std::isalnum(c) != 0 || c == '-'; })) {
            Refuse("subdomain \"" + subdomain + "\" is not a host name label");
        }
    }
    return subdomains;
}

// One line of "headers", refused when it is not a plain "Name: value" line
// that leaves the request as libcurl frames it.
std::string HeaderLine(const Json& item) {
    if (!item.is_string() || !ValidHeaderLine(item.get<std::string>())) {
        Refuse("header line " + item.dump() + " is not one \"Name: value\" line");
    }
    const std::string line = item.get<std::string>();
    const std::size_t colon = line.find(':');
    const std::string name = Lowered(line.substr(0, colon));
    if (line.find_first_not_of(" \t", colon + 1) == std::string::npos) {
        // libcurl reads "Name:" as "send no such header": "User-Agent:"
        // would take away the program's name.
        Refuse("header line \"" + line + "\" has no value");
    }
    if (FramingHeaders().count(name) != 0) {
        Refuse("header line \"" + line +
               "\" would change how requests are framed or where they go; leave it out");
    }
    return line;
}

const char* DefaultLayerName(MapLayer layer) {
    switch (layer) {
        case MapLayer::Map:
            return "Road map";
        case MapLayer::Satellite:
            return "Satellite";
        case MapLayer::Terrain:
            return "Terrain";
        case MapLayer::Hybrid:
            return "Hybrid";
    }
    return "";
}

std::vector<SourceLayer> Layers(const Json& source, bool hasSubdomains) {
    const auto found = source.find("layers");
    if (found == source.end() || !found->is_object() || found->empty()) {
        Refuse("\"layers\" must name at least one of map, satellite, terrain, hybrid");
    }
    std::vector<SourceLayer> layers;
    for (const auto& [key, value] : found->items()) {
        const auto layer = std::find_if(kAllLayers.begin(), kAllLayers.end(),
                                        [&key = key](MapLayer l) { return key == LayerName(l); });
        if (layer == kAllLayers.end()) {
            Refuse("unknown layer \"" + key + "\" (known: map, satellite, terrain, hybrid)");
        }
        SourceLayer entry;
        entry.layer = *layer;
        std::string text;
        if (value.is_string()) {
            text = value.get<std::string>();
        } else if (value.is_object()) {
            text = Text(value, "template", true);
            entry.name = Text(value, "name", false);
            if (const auto names = value.find("zoomNames"); names != value.end()) {
                std::string why;
                const std::optional<std::vector<std::string>> byZoom = ReadZoomNames(*names, why);
                if (!byZoom) {
                    Refuse("the " + key + " layer's " + why);
                }
                entry.tileTemplate.SetZoomNames(*byZoom);
            }
        } else {
            Refuse("layer \"" + key +
                   "\" must be a template or {\"template\": ..., \"name\": ...}");
        }
        if (entry.name.empty()) {
            entry.name = DefaultLayerName(*layer);
        }
        std::string error;
        std::optional<TileTemplate> parsed = TileTemplate::Parse(text, error);
        if (!parsed) {
            Refuse("the " + key + " template: " + error);
        }
        if (const std::optional<std::string> missing = parsed->MissingPart(hasSubdomains)) {
            Refuse("the " + key + " template: " + *missing);
        }
        const std::string lower = Lowered(text);
        if (lower.rfind("http://", 0) != 0 && lower.rfind("https://", 0) != 0) {
            Refuse("the " + key + " template must start with http:// or https://");
        }
        parsed->SetZoomNames(entry.tileTemplate.ZoomNames());
        entry.tileTemplate = std::move(*parsed);
        layers.push_back(std::move(entry));
    }
    std::sort(layers.begin(), layers.end(),
              [](const SourceLayer& a, const SourceLayer& b) { return a.layer < b.layer; });
    return layers;
}

TileSource ReadSource(const Json& json) {
    if (!json.is_object()) {
        Refuse("the file must hold one JSON object");
    }
    TileSource source;
    source.id = Text(json, "id", true);
    if (!ValidId(source.id)) {
        Refuse("\"id\" may hold only lower-case letters, digits, '-', '_' and '.'");
    }
    source.name = Text(json, "name", true);
    if (source.name.empty()) {
        Refuse("\"name\" is empty");
    }
    source.subdomains = Subdomains(json);
    source.layers = Layers(json, !source.subdomains.empty());
    source.minZoom = Whole(json, "minZoom", 0, 0, kDeepestZoom);
    source.maxZoom = Whole(json, "maxZoom", 19, 0, kDeepestZoom);
    if (source.minZoom > source.maxZoom) {
        Refuse("\"minZoom\" lies above \"maxZoom\"");
    }
    source.attribution = Text(json, "attribution", false);
    source.terms = Text(json, "terms", false);
    source.connections = Whole(json, "connections", 2, 1, kMostConnections);
    if (const auto rate = json.find("rate"); rate != json.end()) {
        std::string why;
        source.rate = ReadRequestRate(*rate, why);
        if (!source.rate) {
            Refuse(why);
        }
    }
    if (const auto limit = json.find("tileLimit"); limit != json.end()) {
        if (!limit->is_number_integer() || limit->get<long long>() < 1) {
            Refuse("\"tileLimit\" must be a whole number of tiles, 1 or more");
        }
        source.tileLimit = limit->get<long long>();
    }
    if (const auto headers = json.find("headers"); headers != json.end()) {
        if (!headers->is_array()) {
            Refuse("\"headers\" must be a list of \"Name: value\" lines");
        }
        for (const Json& line : *headers) {
            source.headerLines.push_back(HeaderLine(line));
        }
    }
    if (const auto start = json.find("start"); start != json.end()) {
        if (!start->is_object()) {
            Refuse("\"start\" must be {\"lat\": ..., \"lon\": ..., \"zoom\": ...}");
        }
        source.start =
            MapPosition{Degrees(*start, "lat", 85.0), Degrees(*start, "lon", 180.0),
                        Whole(*start, "zoom", source.minZoom, source.minZoom, source.maxZoom)};
    }
    return source;
}

// Owns one file descriptor.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

std::string TooLarge() {
    return FormatText("is larger than %zu KiB, more than any source file",
                      kLargestSourceFile / 1024);
}

// The text of a source file; nothing, with the reason in error, for anything
// but a regular file of at most kLargestSourceFile bytes. A FIFO or a device
// is never opened for reading (a FIFO would wait for a writer for ever, a
// device give bytes without end); the open file is looked at again, in case
// the entry changed in between.
std::optional<std::string> ReadSourceFile(const std::filesystem::path& file, std::string& error) {
    struct stat entry {};
    if (::stat(file.c_str(), &entry) != 0) {
        error = std::string("cannot be read: ") + std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(entry.st_mode)) {
        error = "is not a regular file";
        return std::nullopt;
    }
    if (static_cast<std::uintmax_t>(entry.st_size) > kLargestSourceFile) {
        error = TooLarge();
        return std::nullopt;
    }
    const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &opened) != 0) {
        error = std::string("cannot be read: ") + std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(opened.st_mode)) {
        error = "is not a regular file";
        return std::nullopt;
    }
    // One byte more than allowed tells a file that grew since it was looked at.
    std::string text(kLargestSourceFile + 1, '\0');
    std::size_t length = 0;
    while (length < text.size()) {
        const ssize_t got = ::read(fd.Get(), text.data() + length, text.size() - length);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            error = std::string("cannot be read: ") + std::strerror(errno);
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        length += static_cast<std::size_t>(got);
    }
    if (length > kLargestSourceFile) {
        error = TooLarge();
        return std::nullopt;
    }
    text.resize(length);
    return text;
}

std::optional<std::string> Environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

// The shipped sources: beside an installed program in ../share/quiltara/sources,
// otherwise those of the source tree it was built from.
std::filesystem::path ShippedSourcesFolder() {
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const std::filesystem::path installed =
            program.parent_path().parent_path() / "share" / "quiltara" / "sources";
        if (std::filesystem::is_directory(installed, ec)) {
            return installed;
        }
    }
    return QUILTARA_SOURCES_DIR;
}

} // namespace

const SourceLayer* TileSource::Layer(MapLayer layer) const {
    const auto found = std::find_if(layers.begin(), layers.end(),
                                    [layer](const SourceLayer& l) { return l.layer == layer; });
    return found == layers.end() ? nullptr : &*found;
}

std::string TileSource::LayerList() const {
    std::string list;
    for (const SourceLayer& layer : layers) {
        list += (list.empty() ? "" : ", ") + std::string(LayerName(layer.layer));
    }
    return list;
}

std::string QuiltaraUserAgent() {
    return std::string("Quiltara/") + QUILTARA_VERSION;
}

std::vector<std::string> TileSource::RequestHeaders() const {
    std::vector<std::string> lines = {"Accept: image/png, image/jpeg, image/gif, image/webp"};
    const bool ownAgent = std::any_of(headerLines.begin(), headerLines.end(), [](const auto& line) {
        return Lowered(line.substr(0, line.find(':'))) == "user-agent";
    });
    if (!ownAgent) {
        lines.push_back("User-Agent: " + QuiltaraUserAgent());
    }
    lines.insert(lines.end(), headerLines.begin(), headerLines.end());
    return lines;
}

TileRequestStyle TileSource::RequestStyle() const {
    TileRequestStyle style;
    style.catalogue = true;
    style.subdomains = subdomains;
    style.headerLines = RequestHeaders();
    style.sourceName = name;
    style.attribution = attribution;
    style.terms = terms;
    style.requestsPerSecond = rate.value_or(0.0);
    for (const SourceLayer& layer : layers) {
        style.templates.push_back(layer.tileTemplate);
    }
    return style;
}

std::string CatalogueProblem::Text() const {
    return ShowControls(file.string() + ": " + reason);
}

const TileSource* SourceCatalogue::Find(std::string_view id) const {
    const auto found = std::find_if(sources.begin(), sources.end(),
                                    [id](const TileSource& s) { return s.id == id; });
    return found == sources.end() ? nullptr : &*found;
}

std::optional<TileSource> ReadTileSource(const std::string& json, std::string& error) {
    // Refused as soon as the parser goes deeper than any source needs, before
    // the nesting is built.
    const Json::parser_callback_t shallow = [](int depth, Json::parse_event_t event, Json&) {
        const bool opens =
            event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start;
        if (opens && depth >= kDeepestNesting) {
            Refuse(FormatText("is nested more than %i levels deep, more than any source file",
                              kDeepestNesting));
        }
        return true;
    };
    Json parsed;
    try {
        parsed = Json::parse(json, shallow);
    } catch (const Refusal& refusal) {
        error = refusal.reason;
        return std::nullopt;
    } catch (const Json::parse_error& e) {
        // "[json.exception.parse_error.101] parse error at line 3, ..." without its tag
        std::string what = e.what();
        const auto tagEnd = what.find("] ");
        error = "not valid JSON: " + (tagEnd == std::string::npos ? what : what.substr(tagEnd + 2));
        return std::nullopt;
    }
    try {
        return ReadSource(parsed);
    } catch (const Refusal& refusal) {
        error = refusal.reason;
    } catch (const Json::exception& e) {
        error = e.what();
    }
    return std::nullopt;
}

SourceCatalogue LoadSourceCatalogue(const std::vector<std::filesystem::path>& folders) {
    SourceCatalogue catalogue;
    for (const std::filesystem::path& folder : folders) {
        std::error_code ec;
        if (folder.empty() || !std::filesystem::is_directory(folder, ec)) {
            continue;
        }
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
            if (entry.path().extension() == ".json") {
                files.push_back(entry.path());
            }
        }
        std::sort(files.begin(), files.end());
        // Ids read from this folder, with their files: a second file with one
        // of them is left out (a later folder's file replaces a source of an
        // earlier one on purpose).
        std::map<std::string, std::filesystem::path> ids;
        for (const std::filesystem::path& file : files) {
            std::string error;
            std::optional<TileSource> source;
            if (const std::optional<std::string> text = ReadSourceFile(file, error)) {
                source = ReadTileSource(*text, error);
            }
            if (source && ids.count(source->id) != 0) {
                error = "has the id \"" + source->id + "\" of " +
                        ids.at(source->id).filename().string() +
                        " in the same folder, which is used instead";
                source.reset();
            }
            if (!source) {
                catalogue.problems.push_back({file, error});
                continue;
            }
            ids.emplace(source->id, file);
            source->file = file;
            const auto same =
                std::find_if(catalogue.sources.begin(), catalogue.sources.end(),
                             [&source](const TileSource& s) { return s.id == source->id; });
            if (same != catalogue.sources.end()) {
                *same = std::move(*source);
            } else {
                catalogue.sources.push_back(std::move(*source));
            }
        }
    }
    return catalogue;
}

std::filesystem::path UserSourcesFolder() {
    if (const std::optional<std::string> config = Environment("XDG_CONFIG_HOME")) {
        return std::filesystem::path(*config) / "Quiltara" / "sources";
    }
    if (const std::optional<std::string> home = Environment("HOME")) {
        return std::filesystem::path(*home) / ".config" / "Quiltara" / "sources";
    }
    return {};
}

std::vector<std::filesystem::path> SourceFolders() {
    return {ShippedSourcesFolder(), UserSourcesFolder()};
}

std::optional<MapSourcesValues> TileLimitedMapSources::AskMapSources() {
    std::optional<MapSourcesValues> values = chosen_.AskMapSources();
    if (!values) {
        return values;
    }
    std::size_t layers = 0;
    for (MapLayer layer : kAllLayers) {
        layers += values->IsDownloaded(layer) ? 1 : 0;
    }
    const std::optional<std::string> question = TileLimitQuestion(source_, tilesPerLayer_ * layers);
    if (question && prompts_.ShowMessage(*question, MessageButtons::YesNo) != MessageAnswer::Yes) {
        return std::nullopt;
    }
    return values;
}

std::optional<std::string> TileLimitExcess(const TileSource& source, std::size_t tiles) {
    if (!TileLimitQuestion(source, tiles)) {
        return std::nullopt;
    }
    return FormatText(
        "this map needs %zu tiles, but the terms of use of '%s' allow at most %lld "
        "at a time",
        tiles, ShowControls(source.name).c_str(), *source.tileLimit);
}

std::optional<std::string> TileLimitQuestion(const TileSource& source, std::size_t tiles) {
    if (!source.tileLimit || static_cast<long long>(tiles) <= *source.tileLimit) {
        return std::nullopt;
    }
    return FormatText(
        "This map needs %zu tiles, but the terms of use of '%s' allow at most %lld "
        "tiles at a time.  Do you want to download them anyway?",
        tiles, ShowControls(source.name).c_str(), *source.tileLimit);
}

} // namespace quiltara
