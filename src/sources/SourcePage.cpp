#include "sources/SourcePage.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>

#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

constexpr const char* kPositionPrefix = "SourcePosition_";
// Latitudes beyond this lie off the square Mercator grid.
constexpr double kLatitudeLimit = 85.0511;

std::string Lowered(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

// The query of a map page address, "a=1&b=2", as name -> value.
std::optional<std::map<std::string, std::string>> PageQuery(std::string_view address,
                                                            std::string_view path) {
    if (!IsSourcePageAddress(address)) {
        return std::nullopt;
    }
    std::string_view rest = address.substr(std::string_view(kSourcePageScheme).size() + 1);
    while (!rest.empty() && rest.front() == '/') {
        rest.remove_prefix(1);
    }
    const auto question = rest.find('?');
    if (rest.substr(0, question) != path || question == std::string_view::npos) {
        return std::nullopt;
    }
    std::map<std::string, std::string> query;
    std::string_view params = rest.substr(question + 1);
    params = params.substr(0, params.find('#'));
    while (!params.empty()) {
        const auto amp = params.find('&');
        const std::string_view pair = params.substr(0, amp);
        const auto eq = pair.find('=');
        if (eq != std::string_view::npos) {
            query.emplace(std::string(pair.substr(0, eq)), std::string(pair.substr(eq + 1)));
        }
        params = amp == std::string_view::npos ? std::string_view() : params.substr(amp + 1);
    }
    return query;
}

std::optional<double> Number(const std::map<std::string, std::string>& query, const char* name) {
    const auto found = query.find(name);
    if (found == query.end() || found->second.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(found->second.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<MapPosition> PositionOf(const std::map<std::string, std::string>& query) {
    const auto lat = Number(query, "lat");
    const auto lon = Number(query, "lon");
    const auto zoom = Number(query, "zoom");
    if (!lat || !lon || !zoom || std::abs(*lat) > 90.0 || std::abs(*lon) > 360.0 || *zoom < 0 ||
        *zoom > 30) {
        return std::nullopt;
    }
    return MapPosition{std::clamp(*lat, -kLatitudeLimit, kLatitudeLimit), *lon,
                       static_cast<int>(*zoom)};
}


// JSON for inside a <script>: "</" would end the script early.
std::string ScriptJson(const nlohmann::json& value) {
    std::string text = value.dump();
    for (auto at = text.find("</"); at != std::string::npos; at = text.find("</", at + 3)) {
        text.replace(at, 2, "<\\/");
    }
    return text;
}

} // namespace

std::string HtmlEscaped(std::string_view text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string SourcePageAddress(const std::string& sourceId) {
    return std::string(kSourcePageScheme) + ":/map?source=" + sourceId;
}

bool IsSourcePageAddress(std::string_view address) {
    const std::string prefix = std::string(kSourcePageScheme) + ":";
    return Lowered(address.substr(0, prefix.size())) == prefix;
}

std::optional<SourcePageRequest> ParseSourcePageAddress(std::string_view address) {
    const auto query = PageQuery(address, "map");
    if (!query || query->count("source") == 0 || query->at("source").empty()) {
        return std::nullopt;
    }
    return SourcePageRequest{query->at("source"), PositionOf(*query)};
}

MapPosition SourcePageStart(const TileSource& source, const std::optional<MapPosition>& given,
                            SettingsStore& settings) {
    MapPosition start = given.value_or(source.start.value_or(MapPosition{20.0, 0.0, 2}));
    if (!given) {
        // "lat,lon,zoom" as the page last reported it
        const std::string stored = settings.GetString(kPositionPrefix + source.id, "");
        double lat = 0.0;
        double lon = 0.0;
        int zoom = 0;
        if (std::sscanf(stored.c_str(), "%lf,%lf,%d", &lat, &lon, &zoom) == 3 &&
            std::isfinite(lat) && std::isfinite(lon)) {
            start = MapPosition{std::clamp(lat, -kLatitudeLimit, kLatitudeLimit), lon, zoom};
        }
    }
    start.zoom = std::clamp(start.zoom, source.minZoom, source.maxZoom);
    return start;
}

bool RememberSourcePosition(std::string_view address, SettingsStore& settings) {
    const auto query = PageQuery(address, "remember");
    if (!query || query->count("source") == 0) {
        return false;
    }
    const std::string& id = query->at("source");
    const std::optional<MapPosition> position = PositionOf(*query);
    const bool plainId = !id.empty() && std::all_of(id.begin(), id.end(), [](unsigned char c) {
        return std::isalnum(c) != 0 || c == '-' || c == '_' || c == '.';
    });
    if (!position || !plainId) {
        return false;
    }
    settings.SetString(kPositionPrefix + id, FormatText("%.6f,%.6f,%d", position->latitude,
                                                        position->longitude, position->zoom));
    return true;
}

std::string SourcePageHtml(const TileSource& source, const MapPosition& start) {
    nlohmann::json config;
    config["id"] = source.id;
    config["minZoom"] = source.minZoom;
    config["maxZoom"] = source.maxZoom;
    config["subdomains"] =
        source.subdomains.empty() ? std::vector<std::string>{"_"} : source.subdomains;
    config["start"] = {start.latitude, start.longitude, start.zoom};
    std::string attribution = HtmlEscaped(source.attribution);
    if (!source.terms.empty()) {
        attribution += (attribution.empty() ? "" : " | ") + std::string("<a href=\"") +
                       HtmlEscaped(source.terms) + "\">Terms of use</a>";
    }
    config["attribution"] = attribution;
    config["layers"] = nlohmann::json::array();
    for (const SourceLayer& layer : source.layers) {
        config["layers"].push_back({{"name", layer.name},
                                    {"url", layer.tileTemplate.PageForm()},
                                    {"zoomNames", layer.tileTemplate.ZoomNames()}});
    }
    return R"html(<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<!-- The browser would drop a source's own Referer line from tile requests
     to other origins (and cancel them); the page sends none of its own. -->
<meta name="referrer" content="unsafe-url">
<title>)html" +
           HtmlEscaped(source.name) +
           R"html(</title>
<link rel="stylesheet" href="quiltara:/leaflet/leaflet.css">
<script src="quiltara:/leaflet/leaflet.js"></script>
<style>
html, body { margin: 0; padding: 0; height: 100%; }
#map { position: absolute; top: 0; left: 0; right: 0; bottom: 0; background: #dde; }
/* The probe asks the page which element lies under a point: that must be the
   tile image, which Leaflet would otherwise let hit-tests pass through. */
.leaflet-tile-container, .leaflet-tile { pointer-events: auto; }
/* Why the map stays blank; hit-tests pass through it to the tiles. */
#problem { display: none; position: absolute; top: 0; left: 0; right: 0; z-index: 1000;
  pointer-events: none; padding: 6px 10px; font: 13px sans-serif; color: #fff;
  background: rgba(150, 20, 20, 0.85); }
</style>
</head>
<body>
<div id="map"></div>
<div id="problem"></div>
<script>
(function () {
    var config = )html" +
           ScriptJson(config) + R"html(;
    // Whole zoom steps and tiles at their natural 256 x 256 size only: one
    // screen pixel is one tile pixel, which the position probe relies on.
    var layers = {};
    config.layers.forEach(function (layer) {
        layers[layer.name] = L.tileLayer(layer.url, {
            subdomains: config.subdomains, tileSize: 256, zoomOffset: 0,
            minZoom: config.minZoom, maxZoom: config.maxZoom, hl: 'en',
            noWrap: true, detectRetina: false, updateWhenZooming: false,
            attribution: config.attribution,
            // Zoom levels the service names rather than numbers.
            zn: function (data) { return layer.zoomNames[data.z] || String(data.z); }
        });
    });
    var map = L.map('map', {
        zoomSnap: 1, zoomDelta: 1, minZoom: config.minZoom, maxZoom: config.maxZoom,
        worldCopyJump: false, maxBounds: [[-85.05, -180], [85.05, 180]], maxBoundsViscosity: 1.0,
        layers: [layers[config.layers[0].name]]
    }).setView([config.start[0], config.start[1]], config.start[2]);
    map.attributionControl.setPrefix('Quiltara');
    if (config.layers.length > 1) {
        L.control.layers(layers, {}, { collapsed: false }).addTo(map);
    }
    // The program keeps where the user was, for the next visit.
    map.on('moveend', function () {
        var c = map.getCenter();
        new Image().src = 'quiltara:/remember?source=' + encodeURIComponent(config.id) +
            '&lat=' + c.lat.toFixed(6) + '&lon=' + c.lng.toFixed(6) + '&zoom=' + map.getZoom();
    });
    // A tile that does not load is asked about once per layer and zoom: the
    // program requests it as a download would and says what came back.
    var problem = document.getElementById('problem');
    var answers = {};
    var shown = null;
    function key() { return shown + ' ' + map.getZoom(); }
    function show() {
        var text = answers[key()];
        var told = typeof text === 'string' && text !== '';
        problem.textContent = told ? text : '';
        problem.style.display = told ? 'block' : 'none';
    }
    window.quiltaraTileProblem = function (asked, text) { answers[asked] = text; show(); };
    function explain(url) {
        var asked = key();
        if (asked in answers) {
            return;
        }
        answers[asked] = true;
        var script = document.createElement('script');
        script.src = 'quiltara:/tile-problem?source=' + encodeURIComponent(config.id) +
            '&key=' + encodeURIComponent(asked) + '&url=' + encodeURIComponent(url);
        document.head.appendChild(script);
    }
    var slow = null;
    Object.keys(layers).forEach(function (name) {
        var layer = layers[name];
        layer.on('tileerror', function (e) { explain(e.tile.src); });
        // A server that never answers leaves no error to see: ask about the
        // tile in the middle when nothing has come for a while.
        layer.on('loading', function () {
            clearTimeout(slow);
            slow = setTimeout(function () {
                var middle = map.project(map.getCenter()).divideBy(256).floor();
                middle.z = map.getZoom();
                explain(layer.getTileUrl(middle));
            }, 15000);
        });
        layer.on('tileload load', function () { clearTimeout(slow); });
    });
    map.on('baselayerchange', function (e) { shown = e.name; show(); });
    map.on('zoomend', show);
    shown = config.layers[0].name;
    window.sourceMap = map;
})();
</script>
</body>
</html>
)html";
}

std::string TileProblemScript(const std::string& key, const std::string& text) {
    return "window.quiltaraTileProblem(" + ScriptJson(key) + ", " + ScriptJson(text) + ");\n";
}

std::string SourcePageErrorHtml(const std::string& message) {
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Quiltara</title></head>"
           "<body><p>" +
           HtmlEscaped(message) + "</p></body></html>\n";
}

} // namespace quiltara
