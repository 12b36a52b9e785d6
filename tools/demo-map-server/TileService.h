#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <tuple>

#include "ServerOptions.h"

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace demomap {

class GoneClients;

// The HTTP side of the service: the map page, Leaflet's files, the tile
// endpoints with their faults, and /padded/N (a valid PNG of exactly N bytes).
class TileService {
public:
    // goneClients: where a stalled answer learns that its client has gone.
    // sentBytes: what the relay in front has sent to clients, for /stats.
    TileService(ServerOptions options, std::shared_ptr<const GoneClients> goneClients,
                std::shared_ptr<const std::atomic<std::uint64_t>> sentBytes = nullptr);

    // Registers every route on the server.
    void Install(httplib::Server& server);

private:
    struct Tile {
        std::string bytes;
        const char* contentType;
        std::string etag;
    };
    using TileKey = std::tuple<int, int, int, int>;

    // Answers one tile request of any form, with the faults asked for.
    void ServeTile(const httplib::Request& req, httplib::Response& res);
    // Whether the request lacks the header line tiles are answered only with.
    bool LacksRequiredHeader(const httplib::Request& req) const;
    std::shared_ptr<const Tile> EncodedTile(const struct TileRequest& request);
    // True the first time a busy tile is asked for.
    bool AnswerBusy(const struct TileRequest& request, const std::string& name);

    // Sends the tile whole, or 304 when the request's validators match it.
    void SendTile(const httplib::Request& req, httplib::Response& res,
                  const std::shared_ptr<const Tile>& encoded);

    ServerOptions options_;
    // Every tile was last modified when the server started.
    std::string startDate_;
    long long startTime_ = 0;
    struct Counters {
        std::atomic<std::uint64_t> requests{0};
        std::atomic<std::uint64_t> full{0};
        std::atomic<std::uint64_t> notModified{0};
        std::atomic<std::uint64_t> bytes{0};
    } counters_;
    std::shared_ptr<const GoneClients> goneClients_;
    std::shared_ptr<const std::atomic<std::uint64_t>> sentBytes_;
    std::mutex cacheMutex_;
    std::map<TileKey, std::shared_ptr<const Tile>> cache_;
    std::mutex busyMutex_;
    std::map<TileKey, int> busyAnswered_;
};

// An HTML error page with the given status line text, as map services send.
std::string ErrorPageHtml(int status, const std::string& reason, const std::string& detail);

} // namespace demomap
