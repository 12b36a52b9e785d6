#include "sources/WmtsCapabilities.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

// The scale denominator of Web Mercator's zoom 0 with the standard's
// 0.28 mm pixel, and the corner every zoom's grid starts from.
constexpr double kZoomZeroScale = 559082264.0287178;
constexpr double kWorldEdge = 20037508.342789244;
// Scales and corners as services round them.
constexpr double kScaleTolerance = 1e-3;
constexpr double kCornerTolerance = 1.0;
constexpr int kDeepestZoom = 30;
constexpr int kTileSize = 256;
// libxml2 takes a document's length as an int.
constexpr std::size_t kLargestDocument = 1u << 30;

const xmlChar* Xml(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}

struct DocumentFree {
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
struct ContextFree {
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};
struct TextFree {
    void operator()(xmlChar* text) const { xmlFree(text); }
};
using OwnedText = std::unique_ptr<xmlChar, TextFree>;

std::string Taken(xmlChar* raw) {
    const OwnedText text(raw);
    return text ? std::string(reinterpret_cast<const char*>(text.get())) : std::string();
}

std::string Trimmed(std::string text) {
    const auto space = [](unsigned char c) { return std::isspace(c) != 0; };
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), space));
    text.erase(std::find_if_not(text.rbegin(), text.rend(), space).base(), text.end());
    return text;
}

bool Named(const xmlNode* node, const char* name) {
    return node != nullptr && node->type == XML_ELEMENT_NODE &&
           xmlStrcmp(node->name, Xml(name)) == 0;
}

// The element children of node of that local name (whatever their prefix).
std::vector<const xmlNode*> Children(const xmlNode* node, const char* name) {
    std::vector<const xmlNode*> found;
    for (const xmlNode* child = node != nullptr ? node->children : nullptr; child != nullptr;
         child = child->next) {
        if (Named(child, name)) {
            found.push_back(child);
        }
    }
    return found;
}

const xmlNode* Child(const xmlNode* node, const char* name) {
    const std::vector<const xmlNode*> found = Children(node, name);
    return found.empty() ? nullptr : found.front();
}

std::string Content(const xmlNode* node) {
    return node == nullptr ? std::string() : Trimmed(Taken(xmlNodeGetContent(node)));
}

std::string ChildText(const xmlNode* node, const char* name) {
    return Content(Child(node, name));
}

std::string Attribute(const xmlNode* node, const char* name) {
    return node == nullptr ? std::string()
                           : Taken(xmlGetProp(const_cast<xmlNode*>(node), Xml(name)));
}

std::string Link(const xmlNode* node) {
    if (node == nullptr) {
        return {};
    }
    std::string href = Taken(
        xmlGetNsProp(const_cast<xmlNode*>(node), Xml("href"), Xml("http://www.w3.org/1999/xlink")));
    return href.empty() ? Attribute(node, "href") : href;
}

std::optional<double> Number(const std::string& text) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    double value = 0.0;
    if (!(in >> value) || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::vector<double> Numbers(const std::string& text) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    std::vector<double> values;
    for (double value = 0.0; in >> value;) {
        values.push_back(value);
    }
    return values;
}

// The EPSG code a reference system name stands for ("EPSG:3857",
// "urn:ogc:def:crs:EPSG::3857", "http://www.opengis.net/def/crs/EPSG/0/3857"),
// 0 when it names none.
int EpsgCode(const std::string& crs) {
    const std::size_t digits = crs.find_last_not_of("0123456789");
    const std::string code = digits == std::string::npos ? crs : crs.substr(digits + 1);
    const std::string lower = LowerCase(crs);
    if (code.empty() || code.size() > 7 ||
        (lower.find("epsg") == std::string::npos && lower.find("esri") == std::string::npos)) {
        return 0;
    }
    return std::stoi(code);
}

bool IsWebMercator(int code) {
    // 3857 and the codes it went by before it had its own.
    return code == 3857 || code == 900913 || code == 102100 || code == 102113 || code == 3785 ||
           code == 41001;
}

struct TileMatrix {
    std::string identifier;
    double scale = 0.0;
    std::vector<double> corner;
    int tileWidth = 0;
    int tileHeight = 0;
};

struct TileMatrixSet {
    std::string identifier;
    std::string crs;
    std::vector<TileMatrix> matrices;
};

// A tile size as the document gives it; 0 for anything that is none.
int TileSize(const std::string& text) {
    const double value = Number(text).value_or(0.0);
    return value >= 1.0 && value <= 1e6 ? static_cast<int>(value) : 0;
}

TileMatrixSet ReadMatrixSet(const xmlNode* node) {
    TileMatrixSet set{ChildText(node, "Identifier"), ChildText(node, "SupportedCRS"), {}};
    for (const xmlNode* matrix : Children(node, "TileMatrix")) {
        set.matrices.push_back({ChildText(matrix, "Identifier"),
                                Number(ChildText(matrix, "ScaleDenominator")).value_or(0.0),
                                Numbers(ChildText(matrix, "TopLeftCorner")),
                                TileSize(ChildText(matrix, "TileWidth")),
                                TileSize(ChildText(matrix, "TileHeight"))});
    }
    return set;
}

// Every matrix of a set the stitch can use, by zoom; nothing, with the
// reason in refusal, for a set it cannot: one in another reference system,
// with tiles of another size, starting elsewhere than Web Mercator's corner,
// or whose matrices are not Web Mercator's zoom levels one after another.
std::optional<std::map<int, std::string>> MercatorZooms(const TileMatrixSet& set,
                                                        std::string& refusal) {
    const std::string named = "its tile matrix set '" + set.identifier + "'";
    const int code = EpsgCode(set.crs);
    if (!IsWebMercator(code)) {
        refusal = named + " uses " +
                  (code != 0 ? "EPSG:" + std::to_string(code) : "'" + set.crs + "'") +
                  "; Quiltara stitches Web Mercator (EPSG:3857) tiles only";
        return std::nullopt;
    }
    if (set.matrices.empty()) {
        refusal = named + " has no tile matrices";
        return std::nullopt;
    }
    std::map<int, std::string> zooms;
    for (const TileMatrix& matrix : set.matrices) {
        const std::string which = named + "'s matrix '" + matrix.identifier + "'";
        if (matrix.tileWidth != kTileSize || matrix.tileHeight != kTileSize) {
            refusal = FormatText("%s has %i x %i tiles; Quiltara stitches 256 x 256 tiles only",
                                 named.c_str(), matrix.tileWidth, matrix.tileHeight);
            return std::nullopt;
        }
        if (matrix.corner.size() != 2 ||
            std::abs(matrix.corner[0] + kWorldEdge) > kCornerTolerance ||
            std::abs(matrix.corner[1] - kWorldEdge) > kCornerTolerance) {
            refusal = which +
                      " does not start at Web Mercator's top-left corner "
                      "(-20037508.34, 20037508.34)";
            return std::nullopt;
        }
        const double level = matrix.scale > 0.0 ? std::log2(kZoomZeroScale / matrix.scale) : -1.0;
        // Only a level within the grid's zooms is rounded to one.
        const long zoom = level > -0.5 && level < kDeepestZoom + 0.5 ? std::lround(level) : -1;
        if (zoom < 0 || zoom > kDeepestZoom ||
            std::abs(matrix.scale * std::exp2(static_cast<double>(zoom)) / kZoomZeroScale - 1.0) >
                kScaleTolerance ||
            !zooms.emplace(static_cast<int>(zoom), matrix.identifier).second) {
            refusal = which + FormatText(" (scale 1:%.0f) is no Web Mercator zoom level of its own",
                                         matrix.scale);
            return std::nullopt;
        }
    }
    if (zooms.rbegin()->first - zooms.begin()->first + 1 != static_cast<int>(zooms.size())) {
        refusal = named + "'s matrices are not each half the scale of the one before";
        return std::nullopt;
    }
    return zooms;
}

// Characters that may stand in a path segment or a query value as they are.
std::string Encoded(const std::string& text, bool inQuery) {
    std::string encoded;
    for (unsigned char c : text) {
        if (std::isalnum(c) != 0 || std::strchr("-._~:@!$'()*,;", c) != nullptr ||
            (inQuery && c == '/') || (!inQuery && (c == '=' || c == '&' || c == '+'))) {
            encoded += static_cast<char>(c);
        } else {
            encoded += FormatText("%%%02X", c);
        }
    }
    return encoded;
}

// Replaces every {name} (any case) in text by the value of that name; the
// first name it has no value for is left in unknown.
std::string FillPlaceholders(const std::string& text,
                             const std::map<std::string, std::string>& values,
                             std::string& unknown) {
    std::string filled;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t open = text.find('{', at);
        const std::size_t close = open == std::string::npos ? open : text.find('}', open);
        if (close == std::string::npos) {
            filled += text.substr(at);
            break;
        }
        filled += text.substr(at, open - at);
        const std::string name = text.substr(open + 1, close - open - 1);
        const auto value = values.find(LowerCase(name));
        if (value == values.end()) {
            if (unknown.empty()) {
                unknown = "{" + name + "}";
            }
            filled += text.substr(open, close - open + 1);
        } else {
            filled += value->second;
        }
        at = close + 1;
    }
    return filled;
}

// The address against which relative ones are read: "http://host/a/b?c"
// gives "http://host" for "/x" and "http://host/a/" for "x".
std::string Resolved(const std::string& address, const std::string& location) {
    const std::string lower = LowerCase(address);
    if (lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0) {
        return address;
    }
    const std::size_t scheme = location.find("://");
    if (scheme == std::string::npos) {
        return address; // a file: nothing to read it against
    }
    const std::size_t pathStart = location.find('/', scheme + 3);
    const std::string origin = location.substr(0, pathStart);
    if (!address.empty() && address.front() == '/') {
        return origin + address;
    }
    const std::string path = location.substr(0, location.find_first_of("?#"));
    return path.substr(0, path.rfind('/') + 1) + address;
}

bool ReadableFormat(const std::string& format) {
    const std::string lower = LowerCase(format);
    return lower.rfind("image/png", 0) == 0 || lower == "image/jpeg" || lower == "image/jpg" ||
           lower == "image/gif";
}

int FormatRank(const std::string& format) {
    const std::string lower = LowerCase(format);
    return lower.rfind("image/png", 0) == 0 ? 0 : ReadableFormat(format) ? 1 : 2;
}

// The GetTile address of the key-value form, or empty when the service offers none.
std::string KeyValueAddress(const xmlNode* root) {
    for (const xmlNode* operation : Children(Child(root, "OperationsMetadata"), "Operation")) {
        if (Attribute(operation, "name") != "GetTile") {
            continue;
        }
        for (const xmlNode* dcp : Children(operation, "DCP")) {
            for (const xmlNode* get : Children(Child(dcp, "HTTP"), "Get")) {
                const xmlNode* constraint = Child(get, "Constraint");
                const std::string encodings = Content(constraint);
                if (constraint == nullptr || encodings.find("KVP") != std::string::npos) {
                    return Link(get);
                }
            }
        }
    }
    return {};
}

// What a layer's tile address needs besides the tile: its style, its
// dimensions' defaults and the matrix set.
struct LayerValues {
    std::string style;
    std::vector<std::pair<std::string, std::string>> dimensions;
};

LayerValues ReadLayerValues(const xmlNode* layer) {
    LayerValues values;
    for (const xmlNode* style : Children(layer, "Style")) {
        if (values.style.empty() || Attribute(style, "isDefault") == "true") {
            values.style = ChildText(style, "Identifier");
        }
    }
    if (values.style.empty()) {
        values.style = "default";
    }
    for (const xmlNode* dimension : Children(layer, "Dimension")) {
        std::string value = ChildText(dimension, "Default");
        if (value.empty()) {
            value = ChildText(dimension, "Value");
        }
        values.dimensions.emplace_back(ChildText(dimension, "Identifier"), value);
    }
    return values;
}

// The REST template of the layer's best ResourceURL, or the key-value one.
void ChooseAddress(WmtsLayer& layer, const xmlNode* node, const LayerValues& values,
                   const std::string& keyValueAddress, const std::string& location) {
    const xmlNode* best = nullptr;
    for (const xmlNode* resource : Children(node, "ResourceURL")) {
        if (LowerCase(Attribute(resource, "resourceType")) == "tile" &&
            (best == nullptr ||
             FormatRank(Attribute(resource, "format")) < FormatRank(Attribute(best, "format")))) {
            best = resource;
        }
    }
    std::vector<std::string> formats;
    for (const xmlNode* format : Children(node, "Format")) {
        formats.push_back(Content(format));
    }
    std::stable_sort(formats.begin(), formats.end(),
                     [](const auto& a, const auto& b) { return FormatRank(a) < FormatRank(b); });
    if (best != nullptr) {
        std::map<std::string, std::string> fill = {
            {"tilematrixset", Encoded(layer.matrixSet, false)},
            {"tilematrix", "{z}"},
            {"tilerow", "{y}"},
            {"tilecol", "{x}"},
            {"style", Encoded(values.style, false)}};
        for (const auto& [name, value] : values.dimensions) {
            fill[LowerCase(name)] = Encoded(value, false);
        }
        std::string unknown;
        layer.format = Attribute(best, "format");
        layer.tileTemplate =
            Resolved(FillPlaceholders(Attribute(best, "template"), fill, unknown), location);
        if (!unknown.empty()) {
            layer.refusal =
                "its tile address names " + unknown + ", for which the capabilities give no value";
        }
    } else if (!keyValueAddress.empty() && !formats.empty()) {
        layer.keyValue = true;
        layer.format = formats.front();
        std::string address = Resolved(keyValueAddress, location);
        address += address.find('?') == std::string::npos           ? "?"
                   : address.back() == '?' || address.back() == '&' ? ""
                                                                    : "&";
        address +=
            "SERVICE=WMTS&REQUEST=GetTile&VERSION=1.0.0&LAYER=" + Encoded(layer.identifier, true) +
            "&STYLE=" + Encoded(values.style, true) + "&FORMAT=" + Encoded(layer.format, true) +
            "&TILEMATRIXSET=" + Encoded(layer.matrixSet, true) +
            "&TILEMATRIX={z}&TILEROW={y}&TILECOL={x}";
        for (const auto& [name, value] : values.dimensions) {
            address += "&" + Encoded(name, true) + "=" + Encoded(value, true);
        }
        layer.tileTemplate = address;
    } else {
        layer.refusal = "the capabilities give no address for its tiles";
    }
    if (layer.refusal.empty() && !ReadableFormat(layer.format)) {
        layer.refusal = "its tiles come as " + layer.format +
                        ", which Quiltara cannot read (PNG, JPEG and GIF it can)";
    }
}

// The zooms a layer offers of a set: those its TileMatrixSetLimits name, or
// all of the set's.
std::map<int, std::string> LimitedZooms(const xmlNode* link,
                                        const std::map<int, std::string>& zooms) {
    const xmlNode* limits = Child(link, "TileMatrixSetLimits");
    if (limits == nullptr) {
        return zooms;
    }
    std::map<int, std::string> limited;
    for (const xmlNode* limit : Children(limits, "TileMatrixLimits")) {
        const std::string matrix = ChildText(limit, "TileMatrix");
        for (const auto& [zoom, identifier] : zooms) {
            if (identifier == matrix) {
                limited.emplace(zoom, identifier);
            }
        }
    }
    return limited;
}

void TakeZooms(WmtsLayer& layer, const std::map<int, std::string>& zooms) {
    layer.minZoom = zooms.begin()->first;
    layer.maxZoom = zooms.rbegin()->first;
    const bool numbered = std::all_of(zooms.begin(), zooms.end(), [](const auto& entry) {
        return entry.second == std::to_string(entry.first);
    });
    if (!numbered) {
        layer.zoomNames.assign(static_cast<std::size_t>(layer.maxZoom) + 1, std::string());
        for (const auto& [zoom, identifier] : zooms) {
            layer.zoomNames[static_cast<std::size_t>(zoom)] = Encoded(identifier, false);
        }
    }
}

WmtsLayer ReadLayer(const xmlNode* node, const std::map<std::string, TileMatrixSet>& sets,
                    const std::string& keyValueAddress, const std::string& location) {
    WmtsLayer layer;
    layer.identifier = ChildText(node, "Identifier");
    layer.title = ChildText(node, "Title");
    if (layer.title.empty()) {
        layer.title = layer.identifier;
    }
    const xmlNode* box = Child(node, "WGS84BoundingBox");
    const std::vector<double> lower = Numbers(ChildText(box, "LowerCorner"));
    const std::vector<double> upper = Numbers(ChildText(box, "UpperCorner"));
    if (lower.size() == 2 && upper.size() == 2) {
        layer.bounds = DegreeBox{lower[0], lower[1], upper[0], upper[1]};
    }
    // The first set the stitch can use; else why the first one cannot be.
    std::string firstRefusal;
    std::optional<std::map<int, std::string>> zooms;
    for (const xmlNode* link : Children(node, "TileMatrixSetLink")) {
        const std::string name = ChildText(link, "TileMatrixSet");
        const auto set = sets.find(name);
        std::string refusal;
        if (set == sets.end()) {
            refusal = "its tile matrix set '" + name + "' is not in the capabilities";
        } else if (const auto usable = MercatorZooms(set->second, refusal)) {
            zooms = LimitedZooms(link, *usable);
            if (!zooms->empty()) {
                layer.matrixSet = name;
                break;
            }
            refusal = "its tile matrix set '" + name + "' is limited to no matrix of the set";
        }
        if (firstRefusal.empty()) {
            firstRefusal = refusal;
        }
        zooms.reset();
    }
    if (!zooms) {
        layer.refusal = firstRefusal.empty() ? "it names no tile matrix set" : firstRefusal;
        return layer;
    }
    TakeZooms(layer, *zooms);
    ChooseAddress(layer, node, ReadLayerValues(node), keyValueAddress, location);
    return layer;
}

void StartLibxml() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

} // namespace

const WmtsLayer* WmtsService::Find(std::string_view identifier) const {
    const auto found = std::find_if(layers.begin(), layers.end(), [identifier](const auto& layer) {
        return layer.identifier == identifier;
    });
    return found == layers.end() ? nullptr : &*found;
}

std::optional<WmtsService> ReadWmtsCapabilities(std::string_view xml, const std::string& location,
                                                std::string& error) {
    StartLibxml();
    if (xml.size() > kLargestDocument) {
        error = "larger than any capabilities document";
        return std::nullopt;
    }
    const std::unique_ptr<xmlParserCtxt, ContextFree> context(xmlNewParserCtxt());
    if (!context) {
        error = "out of memory";
        return std::nullopt;
    }
    // No network, no external entities, no DTD: the document is only read.
    const std::unique_ptr<xmlDoc, DocumentFree> document(
        xmlCtxtReadMemory(context.get(), xml.data(), static_cast<int>(xml.size()),
                          location.empty() ? "capabilities.xml" : location.c_str(), nullptr,
                          XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!document) {
        const xmlError* why = xmlCtxtGetLastError(context.get());
        error =
            why != nullptr && why->message != nullptr
                ? FormatText("not valid XML: line %i: %s", why->line, Trimmed(why->message).c_str())
                : "not valid XML";
        return std::nullopt;
    }
    const xmlNode* root = xmlDocGetRootElement(document.get());
    if (Named(root, "ExceptionReport")) {
        error = "the service answered with an error: " +
                Content(Child(Child(root, "Exception"), "ExceptionText"));
        return std::nullopt;
    }
    if (!Named(root, "Capabilities")) {
        error = "not a WMTS capabilities document (its root element is " +
                std::string(root != nullptr ? reinterpret_cast<const char*>(root->name) : "none") +
                ")";
        return std::nullopt;
    }
    WmtsService service;
    const xmlNode* identification = Child(root, "ServiceIdentification");
    service.title = ChildText(identification, "Title");
    service.accessConstraints = ChildText(identification, "AccessConstraints");
    const xmlNode* provider = Child(root, "ServiceProvider");
    service.provider = ChildText(provider, "ProviderName");
    service.providerSite = Link(Child(provider, "ProviderSite"));

    const xmlNode* contents = Child(root, "Contents");
    std::map<std::string, TileMatrixSet> sets;
    for (const xmlNode* set : Children(contents, "TileMatrixSet")) {
        TileMatrixSet read = ReadMatrixSet(set);
        sets.emplace(read.identifier, std::move(read));
    }
    const std::string keyValueAddress = KeyValueAddress(root);
    for (const xmlNode* layer : Children(contents, "Layer")) {
        service.layers.push_back(ReadLayer(layer, sets, keyValueAddress, location));
    }
    if (service.layers.empty()) {
        error = "the capabilities list no layers";
        return std::nullopt;
    }
    return service;
}

} // namespace quiltara
