#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace demomap {

// Command-line options of demo-map-server. Everything but the port, the log
// and the Leaflet folder injects a fault for tests.
struct ServerOptions {
    int port = 0;
    std::string logPath;
    std::string leafletDir;
    std::set<int> errorServers;         // answer tiles with 503 and an HTML page
    std::set<int> refuseServers;        // close connections without an answer
    std::string requiredWord;           // tiles whose s= differs get 404
    std::set<std::string> missingTiles; // "z/x/y" answered 404 with an HTML page
    bool truncate = false;              // send the first half of each tile, honestly announced
    bool cutConnection = false;         // announce the whole tile, send half, close
    bool stall = false;                 // send half of each tile, then nothing more
    bool trickle = false;               // send each tile 16 bytes a second
    int delayMs = 0;                    // wait before answering each tile
    std::set<std::string> busyTiles;    // "z/x/y" whose first request is answered busyStatus
    int busyStatus = 429;               // 429 or 503, with Retry-After: retryAfter
    std::string retryAfter = "1";       // seconds, "none" (no header) or any text, sent as is
    int busyTimes = 1;                  // requests of a busy tile answered busy
    bool retryAfterDate = false;        // Retry-After as an HTTP date (retryAfter is then seconds)
    std::set<std::string> resetTiles;   // "z/x/y" whose requests get a connection reset, no answer
    std::string redirectTo;             // tiles answered 302 to this origin ("/": the same host)
    int tileStatus = 200;               // the status tiles are sent with (their image all the same)
    std::string requiredHeader;         // "Name: value": tiles without that line get 403
    bool logArrivals = false;           // the log notes each request's connection and arrival time
    bool stopOnInputEnd = false;        // end when standard input reaches its end
    bool hiddenColours = false;         // hybrid pixels of alpha 0 keep a colour of their own
};

// Reads the options; nothing when they are wrong (after printing why on
// stderr) or when --help was asked (after printing the help; helpShown is
// then set).
std::optional<ServerOptions> ParseServerOptions(const std::vector<std::string>& args,
                                                const std::string& defaultLeafletDir,
                                                bool& helpShown);

} // namespace demomap
