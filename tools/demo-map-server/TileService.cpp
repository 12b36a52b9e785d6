#include "TileService.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

#include "MapPage.h"
#include "RequestFront.h"
#include "TileArt.h"
#include "TileEncoders.h"
#include "TileRequest.h"
#include "WmtsDocument.h"

namespace demomap {
namespace {

// The moment seconds from now as an HTTP date ("Tue, 08 Dec 2026 21:50:00 GMT").
std::string HttpDate(int seconds) {
    const std::time_t when = std::time(nullptr) + seconds;
    std::tm parts{};
    gmtime_r(&when, &parts);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

constexpr size_t kCacheLimit = 8192;
// Room above the largest tile a client takes, to test its limit.
constexpr size_t kLargestPadded = 32u << 20;

TileEncoding EncodingOf(TileLayer layer) {
    switch (layer) {
        case TileLayer::Map:
            return TileEncoding::RgbPng;
        case TileLayer::Satellite:
            return TileEncoding::Jpeg;
        case TileLayer::Terrain:
            return TileEncoding::PalettePng;
        case TileLayer::Hybrid:
            return TileEncoding::RgbaPng;
    }
    return TileEncoding::RgbPng;
}

void SendError(httplib::Response& res, int status, const std::string& reason,
               const std::string& detail) {
    res.status = status;
    res.set_content(ErrorPageHtml(status, reason, detail), "text/html; charset=UTF-8");
}

// How long a stalled answer holds its connection at most, even when its
// client stays: long enough for any client's own timeout to act first.
constexpr auto kLongestStall = std::chrono::seconds(120);
constexpr auto kStallPoll = std::chrono::milliseconds(100);

// A trickle sends this many bytes each second.
constexpr size_t kTrickleBytes = 16;

// Sends the first half of body and then either ends the connection (the
// announced length is never reached) or stops sending until the client goes
// or kLongestStall has passed. A stalled worker thread is freed as soon as
// its client is gone, so abandoned stalls never starve the page and the
// other tiles of workers.
void SendHalfThen(httplib::Response& res, std::shared_ptr<const std::string> body,
                  const char* contentType, bool stall, int clientPort,
                  std::shared_ptr<const GoneClients> gone) {
    res.set_content_provider(
        body->size(), contentType,
        [body, stall, clientPort, gone](size_t offset, size_t, httplib::DataSink& sink) {
            const size_t half = body->size() / 2;
            if (offset < half) {
                sink.write(body->data() + offset, half - offset);
                return true;
            }
            const auto end = std::chrono::steady_clock::now() + kLongestStall;
            while (stall && std::chrono::steady_clock::now() < end &&
                   !(gone && gone->IsGone(clientPort))) {
                std::this_thread::sleep_for(kStallPoll);
            }
            return false;
        });
}

// Sends body kTrickleBytes a second, its length announced: a server too slow
// to be waited for, but never quite silent.
void Trickle(httplib::Response& res, std::shared_ptr<const std::string> body,
             const char* contentType, int clientPort, std::shared_ptr<const GoneClients> gone) {
    res.set_content_provider(
        body->size(), contentType,
        [body, clientPort, gone](size_t offset, size_t, httplib::DataSink& sink) {
            if (offset > 0) {
                std::this_thread::sleep_for(std::chrono::seconds(1));
            }
            if (gone && gone->IsGone(clientPort)) {
                return false;
            }
            sink.write(body->data() + offset, std::min(kTrickleBytes, body->size() - offset));
            return true;
        });
}

// Sends the client to the same target at origin ("/": on this host), marked
// so that the second request is served.
void Redirect(httplib::Response& res, const std::string& origin, const std::string& target) {
    const std::string location = (origin == "/" ? std::string() : origin) + target +
                                 (target.find('?') == std::string::npos ? "?" : "&") + "hop=1";
    SendError(res, 302, "Found", "The tile is at " + location + ".");
    res.set_header("Location", location);
}

} // namespace

std::string ErrorPageHtml(int status, const std::string& reason, const std::string& detail) {
    const std::string title = std::to_string(status) + " " + reason;
    return "<!DOCTYPE html>\n<html><head><title>" + title + "</title></head>\n<body><h1>" + title +
           "</h1>\n<p>" + detail + "</p></body></html>\n";
}

TileService::TileService(ServerOptions options, std::shared_ptr<const GoneClients> goneClients)
    : options_(std::move(options)), goneClients_(std::move(goneClients)) {}

std::shared_ptr<const TileService::Tile> TileService::EncodedTile(const TileRequest& request) {
    const TileKey key{static_cast<int>(request.layer), request.zoom, request.x, request.y};
    {
        std::lock_guard<std::mutex> lock(cacheMutex_);
        if (auto found = cache_.find(key); found != cache_.end()) {
            return found->second;
        }
    }
    const TileEncoding encoding = EncodingOf(request.layer);
    TileCanvas canvas = DrawTile(request);
    if (options_.hiddenColours && request.layer == TileLayer::Hybrid) {
        HideColours(canvas);
    }
    auto tile = std::make_shared<const Tile>(Tile{
        EncodeTile(canvas, encoding), encoding == TileEncoding::Jpeg ? "image/jpeg" : "image/png"});
    std::lock_guard<std::mutex> lock(cacheMutex_);
    if (cache_.size() >= kCacheLimit) {
        cache_.clear();
    }
    cache_.emplace(key, tile);
    return tile;
}

bool TileService::AnswerBusy(const TileRequest& request, const std::string& name) {
    if (options_.busyTiles.count(name) == 0) {
        return false;
    }
    const TileKey key{static_cast<int>(request.layer), request.zoom, request.x, request.y};
    std::lock_guard<std::mutex> lock(busyMutex_);
    return ++busyAnswered_[key] <= options_.busyTimes;
}

void TileService::Install(httplib::Server& server) {
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(MapPageHtml(), "text/html; charset=UTF-8");
    });
    server.set_mount_point("/leaflet", options_.leafletDir);

    server.Get(R"(/padded/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        try {
            const size_t size = std::stoul(req.matches[1]);
            if (size > kLargestPadded) {
                SendError(res, 400, "Bad Request", "At most 32 MiB.");
                return;
            }
            res.set_content(PaddedPng(size), "image/png");
        } catch (const std::exception& error) {
            SendError(res, 400, "Bad Request", error.what());
        }
    });

    // The service's own WMTS: its capabilities (at the REST address and by
    // key-value request) and its tiles, which are the tiles of every form.
    server.Get("/wmts/1.0.0/WMTSCapabilities.xml",
               [](const httplib::Request& req, httplib::Response& res) {
                   res.set_content(WmtsCapabilitiesXml("http://" + req.get_header_value("Host")),
                                   "application/xml");
               });
    server.Get(R"(/(vt|kh|tiles|wmts)([/?].*)?)", [this](const httplib::Request& req,
                                                         httplib::Response& res) {
        if (req.path == "/wmts" && req.has_param("request") &&
            req.get_param_value("request") == "GetCapabilities") {
            res.set_content(WmtsCapabilitiesXml("http://" + req.get_header_value("Host")),
                            "application/xml");
            return;
        }
        ServeTile(req, res);
    });

    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty() && !res.content_provider_) {
            const char* reason = res.status == 404 ? "Not Found" : "Error";
            res.set_content(
                ErrorPageHtml(res.status, reason, "The page you asked for is not here."),
                "text/html; charset=UTF-8");
        }
    });
}

bool TileService::LacksRequiredHeader(const httplib::Request& req) const {
    const std::string& line = options_.requiredHeader;
    if (line.empty()) {
        return false;
    }
    const size_t colon = line.find(':');
    const std::string name = line.substr(0, colon);
    const size_t value = line.find_first_not_of(' ', colon + 1);
    return req.get_header_value(name) !=
           line.substr(value == std::string::npos ? line.size() : value);
}

void TileService::ServeTile(const httplib::Request& req, httplib::Response& res) {
    if (options_.delayMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(options_.delayMs));
    }
    if (!options_.redirectTo.empty() && !req.has_param("hop")) {
        Redirect(res, options_.redirectTo, req.target);
        return;
    }
    if (LacksRequiredHeader(req)) {
        SendError(res, 403, "Forbidden",
                  "This service answers only requests that carry the header line '" +
                      options_.requiredHeader + "'.");
        return;
    }
    const int number = ServerNumberFromHost(req.get_header_value("Host"));
    if (options_.errorServers.count(number) != 0) {
        SendError(res, 503, "Service Unavailable",
                  "Server " + std::to_string(number) + " is not serving tiles.");
        return;
    }
    const std::optional<TileRequest> tile = ParseTileRequest(req.target);
    if (!tile || !TileOnGrid(*tile)) {
        SendError(res, 404, "Not Found", "There is no such tile.");
        return;
    }
    if (!options_.requiredWord.empty() && tile->word != options_.requiredWord) {
        SendError(res, 404, "Not Found", "Unknown server word.");
        return;
    }
    const std::string name =
        std::to_string(tile->zoom) + "/" + std::to_string(tile->x) + "/" + std::to_string(tile->y);
    if (AnswerBusy(*tile, name)) {
        const bool tooMany = options_.busyStatus == 429;
        SendError(res, options_.busyStatus, tooMany ? "Too Many Requests" : "Service Unavailable",
                  "Slow down.");
        if (options_.retryAfterDate) {
            res.set_header("Retry-After", HttpDate(std::stoi(options_.retryAfter)));
        } else if (options_.retryAfter != "none") {
            res.set_header("Retry-After", options_.retryAfter);
        }
        return;
    }
    if (options_.missingTiles.count(name) != 0) {
        SendError(res, 404, "Not Found", "Tile " + name + " is missing.");
        return;
    }
    std::shared_ptr<const Tile> encoded = EncodedTile(*tile);
    res.status = options_.tileStatus;
    if (options_.truncate) {
        res.set_content(encoded->bytes.substr(0, encoded->bytes.size() / 2), encoded->contentType);
    } else if (options_.cutConnection || options_.stall) {
        SendHalfThen(res, std::shared_ptr<const std::string>(encoded, &encoded->bytes),
                     encoded->contentType, options_.stall, req.remote_port, goneClients_);
    } else if (options_.trickle) {
        Trickle(res, std::shared_ptr<const std::string>(encoded, &encoded->bytes),
                encoded->contentType, req.remote_port, goneClients_);
    } else {
        res.set_content(encoded->bytes, encoded->contentType);
    }
}

} // namespace demomap
