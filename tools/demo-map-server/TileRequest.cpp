#include "TileRequest.h"

#include <cctype>
#include <charconv>
#include <utility>

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
