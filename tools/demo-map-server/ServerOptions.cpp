#include "ServerOptions.h"

#include <charconv>
#include <cstdio>

namespace demomap {
namespace {

constexpr const char* kUsage = R"(usage: demo-map-server [options]
Serves an offline stand-in for a tiled web map on 127.0.0.1. The first line of
output is the port; the map page is http://maps.google.localhost:PORT/ and the
tile hosts are mt0..mt3.google.localhost and khm0..khm3.google.localhost.
Requests for the real service's host names sent here (quiltara and
quiltara-make with --map-service 127.0.0.1:PORT) are answered the same way:
the server number comes from the first label of the Host (mt2..., khm2...).
The same tiles also answer the path form /tiles/LAYER/Z/X/Y.png (LAYER: map,
satellite, terrain, hybrid), as the shipped "offline-demo" tile source asks
for them from a.offline-demo.localhost, b... and c...., and the WMTS forms of
the layers of its own capabilities document, /wmts/1.0.0/WMTSCapabilities.xml
(also /wmts?SERVICE=WMTS&REQUEST=GetCapabilities): REST tiles under
/wmts/rest/LAYER/... and key-value tiles /wmts?REQUEST=GetTile&LAYER=...

  --port N              port to listen on; 0 (default) picks a free one
  --log FILE            append every request line and its header lines, in the
                        order received, each request ending in a blank line
  --leaflet-dir DIR     where leaflet.js and leaflet.css are served from
  --stop-on-input-end   end when standard input ends (a test fixture holds the
                        other end of a pipe, so the server never outlives it)
faults, for tests:
  --error-server N      server number N answers tiles with 503 and an HTML page
  --refuse-server N     server number N closes connections without an answer
  --require-word W      tiles whose s= value is not W get 404 and an HTML page
  --missing-tile Z/X/Y  that tile gets 404 and an HTML page (repeatable)
  --truncate            each tile's body is its first half (length announced)
  --cut-connection      each tile announces its full length, sends half, closes
  --stall               each tile sends half its body and then stalls until the
                        client goes (two minutes at most)
  --trickle             each tile is sent 16 bytes a second
  --delay-ms N          wait N milliseconds before answering each tile
  --busy-tile Z/X/Y     the first request for that tile (of each layer) is
                        answered --busy-status with Retry-After (repeatable)
  --busy-times N        the first N requests for it are (default 1)
  --busy-status N       429 (default) or 503
  --retry-after S       the seconds Retry-After asks for (default 1); "none"
                        sends no Retry-After, any other text is sent as is
  --retry-after-date    Retry-After names the moment S seconds on as an HTTP
                        date rather than the seconds
  --reset-tile Z/X/Y    requests for that tile (of each layer) get a
                        connection reset and no answer (repeatable)
  --redirect-to ORIGIN  each tile request is answered 302 to the same target
                        at ORIGIN ("http://HOST:PORT"; "/" for this host) with
                        "hop=1" added; requests carrying hop= are served
  --tile-status N       tiles are sent with status N (their image all the same)
  --require-header LINE tiles are answered only to requests carrying the header
                        line LINE ("Referer: https://example.org/"); the others
                        get 403 and an HTML page
  --log-arrivals        the log notes, after each request's header lines, a
                        line "X-Demo-Arrival: CONNECTION MILLISECONDS" (the
                        client connection's number and the time since start)
  --hidden-colours      hybrid tiles keep colours under their fully transparent
                        pixels, as real label tiles often do
)";

bool ReadInt(const std::string& text, int& value) {
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && ptr == text.data() + text.size() && !text.empty();
}

} // namespace

std::optional<ServerOptions> ParseServerOptions(const std::vector<std::string>& args,
                                                const std::string& defaultLeafletDir,
                                                bool& helpShown) {
    helpShown = false;
    ServerOptions options;
    options.leafletDir = defaultLeafletDir;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        const std::string value = hasValue ? args[i + 1] : std::string();
        int number = 0;
        bool ok = true;
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            helpShown = true;
            return std::nullopt;
        } else if (arg == "--truncate") {
            options.truncate = true;
            continue;
        } else if (arg == "--cut-connection") {
            options.cutConnection = true;
            continue;
        } else if (arg == "--stall") {
            options.stall = true;
            continue;
        } else if (arg == "--log-arrivals") {
            options.logArrivals = true;
            continue;
        } else if (arg == "--trickle") {
            options.trickle = true;
            continue;
        } else if (arg == "--retry-after-date") {
            options.retryAfterDate = true;
            continue;
        } else if (arg == "--stop-on-input-end") {
            options.stopOnInputEnd = true;
            continue;
        } else if (arg == "--hidden-colours") {
            options.hiddenColours = true;
            continue;
        } else if (!hasValue) {
            ok = false;
        } else if (arg == "--port") {
            ok = ReadInt(value, options.port) && options.port >= 0 && options.port < 65536;
        } else if (arg == "--log") {
            options.logPath = value;
        } else if (arg == "--leaflet-dir") {
            options.leafletDir = value;
        } else if (arg == "--error-server") {
            ok = ReadInt(value, number);
            options.errorServers.insert(number);
        } else if (arg == "--refuse-server") {
            ok = ReadInt(value, number);
            options.refuseServers.insert(number);
        } else if (arg == "--require-word") {
            options.requiredWord = value;
        } else if (arg == "--missing-tile") {
            options.missingTiles.insert(value);
        } else if (arg == "--busy-tile") {
            options.busyTiles.insert(value);
        } else if (arg == "--busy-times") {
            ok = ReadInt(value, options.busyTimes) && options.busyTimes >= 1;
        } else if (arg == "--busy-status") {
            ok = ReadInt(value, options.busyStatus) &&
                 (options.busyStatus == 429 || options.busyStatus == 503);
        } else if (arg == "--retry-after") {
            options.retryAfter = value;
        } else if (arg == "--reset-tile") {
            options.resetTiles.insert(value);
        } else if (arg == "--require-header") {
            options.requiredHeader = value;
            ok = value.find(':') != std::string::npos && value.find(':') > 0;
        } else if (arg == "--redirect-to") {
            options.redirectTo = value;
        } else if (arg == "--tile-status") {
            ok = ReadInt(value, options.tileStatus) && options.tileStatus >= 100 &&
                 options.tileStatus <= 599;
        } else if (arg == "--delay-ms") {
            ok = ReadInt(value, options.delayMs) && options.delayMs >= 0;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "demo-map-server: bad option %s\n%s", arg.c_str(), kUsage);
            return std::nullopt;
        }
        ++i;
    }
    int seconds = 0;
    if (options.retryAfterDate && !ReadInt(options.retryAfter, seconds)) {
        std::fprintf(stderr, "demo-map-server: --retry-after-date needs seconds\n%s", kUsage);
        return std::nullopt;
    }
    return options;
}

} // namespace demomap
