#include "TileRequest.h"

#include <cctype>
#include <charconv>
#include <utility>
#include <vector>

namespace demomap {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::optional<int> ParseInt(std::string_view text) {
    int value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// The value of key in an "a=1&b=2" list; the first occurrence wins.
std::optional<std::string_view> FindParam(std::string_view params, std::string_view key) {
    while (!params.empty()) {
        const size_t amp = params.find('&');
        const std::string_view pair = params.substr(0, amp);
        const size_t eq = pair.find('=');
        if (eq != std::string_view::npos && EqualsNoCase(pair.substr(0, eq), key)) {
            return pair.substr(eq + 1);
        }
        if (amp == std::string_view::npos) {
            break;
        }
        params.remove_prefix(amp + 1);
    }
    return std::nullopt;
}

TileLayer LayerOf(bool satellitePath, std::string_view params) {
    if (satellitePath) {
        return TileLayer::Satellite;
    }
    if (auto lyrs = FindParam(params, "lyrs"); lyrs && StartsWith(*lyrs, "h")) {
        return TileLayer::Hybrid;
    }
    const std::string_view version = FindParam(params, "v").value_or("");
    if (StartsWith(version, "w2p")) {
        return TileLayer::Terrain;
    }
    if (StartsWith(version, "w2t")) {
        return TileLayer::Satellite;
    }
    return TileLayer::Map;
}

// "/tiles/LAYER/Z/X/Y.png", the path form most tile services use.
std::optional<TileRequest> ParsePathTile(std::string_view target) {
    constexpr std::string_view kPrefix = "/tiles/";
    std::string_view rest = target.substr(kPrefix.size());
    rest = rest.substr(0, rest.find_first_of("?#"));
    std::string_view parts[4];
    for (int i = 0; i < 4; ++i) {
        const size_t slash = rest.find('/');
        if ((slash == std::string_view::npos) != (i == 3)) {
            return std::nullopt;
        }
        parts[i] = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    }
    constexpr std::string_view kExtension = ".png";
    if (parts[3].size() <= kExtension.size() ||
        parts[3].substr(parts[3].size() - kExtension.size()) != kExtension) {
        return std::nullopt;
    }
    parts[3].remove_suffix(kExtension.size());
    static constexpr std::pair<std::string_view, TileLayer> kLayers[] = {
        {"map", TileLayer::Map},
        {"satellite", TileLayer::Satellite},
        {"terrain", TileLayer::Terrain},
        {"hybrid", TileLayer::Hybrid},
    };
    const auto zoom = ParseInt(parts[1]);
    const auto x = ParseInt(parts[2]);
    const auto y = ParseInt(parts[3]);
    for (const auto& [name, layer] : kLayers) {
        if (parts[0] == name && zoom && x && y) {
            TileRequest tile;
            tile.layer = layer;
            tile.zoom = *zoom;
            tile.x = *x;
            tile.y = *y;
            return tile;
        }
    }
    return std::nullopt;
}

// The layers of the service's own WMTS capabilities, by their identifiers.
std::optional<TileLayer> WmtsLayer(std::string_view identifier) {
    static constexpr std::pair<std::string_view, TileLayer> kWmtsLayers[] = {
        {"demo-road", TileLayer::Map},       {"demo-photo", TileLayer::Satellite},
        {"demo-relief", TileLayer::Terrain}, {"demo-labels", TileLayer::Hybrid},
        {"demo-daily", TileLayer::Map},
    };
    for (const auto& [name, layer] : kWmtsLayers) {
        if (EqualsNoCase(identifier, name)) {
            return layer;
        }
    }
    return std::nullopt;
}

// The zoom a tile matrix identifier stands for: its trailing digits
// ("EPSG:3857:5", "05" and "GoogleMapsCompatible_Level5" are all zoom 5).
std::optional<int> ZoomOfMatrix(std::string_view matrix) {
    size_t start = matrix.size();
    while (start > 0 && std::isdigit(static_cast<unsigned char>(matrix[start - 1]))) {
        --start;
    }
    return ParseInt(matrix.substr(start));
}

std::optional<TileRequest> WmtsTile(std::optional<TileLayer> layer, std::string_view matrix,
                                    std::string_view row, std::string_view column) {
    const auto zoom = ZoomOfMatrix(matrix);
    const auto x = ParseInt(column);
    const auto y = ParseInt(row);
    if (!layer || !zoom || !x || !y) {
        return std::nullopt;
    }
    TileRequest tile;
    tile.layer = *layer;
    tile.zoom = *zoom;
    tile.x = *x;
    tile.y = *y;
    return tile;
}

// "/wmts/rest/LAYER/.../MATRIX/ROW/COL.EXT" (whatever stands between the
// layer and the matrix: style, time, matrix set) or the key-value form
// "/wmts?...&REQUEST=GetTile&LAYER=..&TILEMATRIX=..&TILEROW=..&TILECOL=..".
std::optional<TileRequest> ParseWmtsTile(std::string_view target) {
    constexpr std::string_view kRest = "/wmts/rest/";
    if (StartsWith(target, kRest)) {
        std::string_view rest = target.substr(kRest.size());
        rest = rest.substr(0, rest.find_first_of("?#"));
        std::vector<std::string_view> parts;
        while (!rest.empty()) {
            const size_t slash = rest.find('/');
            parts.push_back(rest.substr(0, slash));
            rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        }
        if (parts.size() < 5) {
            return std::nullopt;
        }
        std::string_view column = parts.back();
        column = column.substr(0, column.find('.'));
        return WmtsTile(WmtsLayer(parts.front()), parts[parts.size() - 3], parts[parts.size() - 2],
                        column);
    }
    const size_t question = target.find('?');
    if (target.substr(0, question) != "/wmts" || question == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view params = target.substr(question + 1);
    if (!EqualsNoCase(FindParam(params, "request").value_or(""), "GetTile")) {
        return std::nullopt;
    }
    return WmtsTile(WmtsLayer(FindParam(params, "layer").value_or("")),
                    FindParam(params, "tilematrix").value_or(""),
                    FindParam(params, "tilerow").value_or(""),
                    FindParam(params, "tilecol").value_or(""));
}

} // namespace

const char* LayerLabel(TileLayer layer) {
    switch (layer) {
        case TileLayer::Map:
            return "Map";
        case TileLayer::Satellite:
            return "Sat";
        case TileLayer::Terrain:
            return "Ter";
        case TileLayer::Hybrid:
            return "Hyb";
    }
    return "";
}

std::optional<TileRequest> ParseTileRequest(std::string_view target) {
    if (StartsWith(target, "/tiles/")) {
        return ParsePathTile(target);
    }
    if (StartsWith(target, "/wmts")) {
        return ParseWmtsTile(target);
    }
    bool satellitePath = false;
    if (StartsWith(target, "/kh")) {
        satellitePath = true;
    } else if (!StartsWith(target, "/vt")) {
        return std::nullopt;
    }
    std::string_view rest = target.substr(3);
    if (rest.empty() || (rest.front() != '/' && rest.front() != '?')) {
        return std::nullopt;
    }
    rest.remove_prefix(1);
    // The tile servers' form has no "?"; a query after it (rare) is read as
    // more parameters of the same list.
    std::string params(rest);
    for (char& c : params) {
        if (c == '?') {
            c = '&';
        }
    }
    const std::optional<std::string_view> zoomText =
        FindParam(params, "zoom") ? FindParam(params, "zoom") : FindParam(params, "z");
    const auto x = ParseInt(FindParam(params, "x").value_or(""));
    const auto y = ParseInt(FindParam(params, "y").value_or(""));
    const auto zoom = ParseInt(zoomText.value_or(""));
    if (!x || !y || !zoom) {
        return std::nullopt;
    }
    TileRequest tile;
    tile.layer = LayerOf(satellitePath, params);
    tile.x = *x;
    tile.y = *y;
    tile.zoom = *zoom;
    tile.word = std::string(FindParam(params, "s").value_or(""));
    return tile;
}

int ServerNumberFromHost(std::string_view host) {
    const std::string_view label = host.substr(0, host.find_first_of(".:"));
    size_t start = label.size();
    while (start > 0 && std::isdigit(static_cast<unsigned char>(label[start - 1]))) {
        --start;
    }
    if (start == label.size() || label.size() - start > 6) {
        return -1;
    }
    return *ParseInt(label.substr(start));
}

bool TileOnGrid(const TileRequest& tile) {
    if (tile.zoom < 0 || tile.zoom > 30) {
        return false;
    }
    const long long size = 1LL << tile.zoom;
    return tile.x >= 0 && tile.y >= 0 && tile.x < size && tile.y < size;
}

} // namespace demomap
