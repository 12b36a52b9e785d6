#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "TestPaths.h"
#include "platform/CurlHttpClient.h"
#include "tiles/MapLayer.h"

namespace quiltara::test {

// Timeouts for clients of a test's server: a fault that stalls shows within
// seconds rather than the half minute a real run allows.
inline CurlHttpClient::Timeouts QuickTimeouts(long lowSpeedSeconds = 2) {
    CurlHttpClient::Timeouts timeouts;
    timeouts.connectSeconds = 5;
    timeouts.lowSpeedSeconds = lowSpeedSeconds;
    return timeouts;
}

// Faults the offline map service injects; the defaults serve every tile well.
// Set fields directly or chain the setters:
//   DemoServer server(DemoServerOptions().ErrorServer(0).ErrorServer(1));
struct DemoServerOptions {
    std::set<int> errorServers;            // these server numbers answer tiles with 503 + HTML
    std::set<int> refuseServers;           // these server numbers close connections unanswered
    std::string requiredWord;              // when set, tiles whose s= differs get 404 + HTML
    std::vector<std::string> missingTiles; // "z/x/y" tiles answered 404 + HTML
    bool truncate = false;                 // tile bodies are their first half (length announced)
    bool cutConnection = false;            // tiles announce their full length, send half, close
    bool stall = false;                    // tiles send half their body, then nothing more
    bool trickle = false;                  // tiles come 16 bytes a second
    int delayMs = 0;                       // wait before answering each tile
    std::vector<std::string> busyTiles;    // "z/x/y": the first request is answered busyStatus
    int busyStatus = 429;                  // with Retry-After: retryAfterSeconds
    int retryAfterSeconds = 1;
    int busyTimes = 1;             // the first busyTimes requests of a busy tile are answered busy
    bool retryAfterDate = false;   // Retry-After as an HTTP date retryAfterSeconds on
    bool logArrivals = false;      // requests carry their connection and arrival time
    std::filesystem::path logFile; // the request log; empty: a fresh one of its own
    std::string retryAfterText;    // sent as Retry-After instead of the seconds; "none": no header
    std::vector<std::string> resetTiles; // "z/x/y": their connections are reset, unanswered
    std::string redirectTo;     // tiles answered 302 to the same target there ("/": this host)
    int tileStatus = 200;       // the status tiles come with, their image all the same
    std::string requiredHeader; // "Name: value": tiles without that line get 403 + HTML
    bool hiddenColours = false; // hybrid tiles keep colours under their transparent pixels

    DemoServerOptions& ErrorServer(int number) {
        errorServers.insert(number);
        return *this;
    }
    DemoServerOptions& RefuseServer(int number) {
        refuseServers.insert(number);
        return *this;
    }
    DemoServerOptions& RequireWord(std::string word) {
        requiredWord = std::move(word);
        return *this;
    }
    DemoServerOptions& MissingTile(int zoom, int column, int row) {
        missingTiles.push_back(std::to_string(zoom) + "/" + std::to_string(column) + "/" +
                               std::to_string(row));
        return *this;
    }
    DemoServerOptions& Truncate() {
        truncate = true;
        return *this;
    }
    DemoServerOptions& CutConnection() {
        cutConnection = true;
        return *this;
    }
    DemoServerOptions& Stall() {
        stall = true;
        return *this;
    }
    DemoServerOptions& LogFile(std::filesystem::path path) {
        logFile = std::move(path);
        return *this;
    }
    DemoServerOptions& Trickle() {
        trickle = true;
        return *this;
    }
    DemoServerOptions& DelayMs(int milliseconds) {
        delayMs = milliseconds;
        return *this;
    }
    DemoServerOptions& BusyTile(int zoom, int column, int row) {
        busyTiles.push_back(std::to_string(zoom) + "/" + std::to_string(column) + "/" +
                            std::to_string(row));
        return *this;
    }
    DemoServerOptions& Busy(int status, int seconds) {
        busyStatus = status;
        retryAfterSeconds = seconds;
        return *this;
    }
    DemoServerOptions& BusyTimes(int times, bool asDate) {
        busyTimes = times;
        retryAfterDate = asDate;
        return *this;
    }
    DemoServerOptions& LogArrivals() {
        logArrivals = true;
        return *this;
    }
    DemoServerOptions& RetryAfterText(std::string text) {
        retryAfterText = std::move(text);
        return *this;
    }
    DemoServerOptions& ResetTile(int zoom, int column, int row) {
        resetTiles.push_back(std::to_string(zoom) + "/" + std::to_string(column) + "/" +
                             std::to_string(row));
        return *this;
    }
    DemoServerOptions& RedirectTo(std::string origin) {
        redirectTo = std::move(origin);
        return *this;
    }
    DemoServerOptions& TileStatus(int status) {
        tileStatus = status;
        return *this;
    }
    DemoServerOptions& RequireHeader(std::string line) {
        requiredHeader = std::move(line);
        return *this;
    }
};

// One request as the service received it.
struct LoggedRequest {
    std::string requestLine;              // "GET /vt/v=w2.97&... HTTP/1.1"
    std::vector<std::string> headerLines; // "Name: value", in the order received
    // With DemoServerOptions::logArrivals: the client connection it came on
    // (numbered from 1) and when it arrived (milliseconds since the start).
    long connection = 0;
    long long arrivalMs = -1;

    // The request target ("/vt/v=w2.97&hl=en&x=5&y=7&z=3&s=G").
    std::string Target() const;
    // A header's value (name matched without case), empty when absent.
    std::string Header(const std::string& name) const;
    // The server number of the Host header (mt2... is 2), -1 when it has none.
    int ServerNumber() const;
    // The value of a parameter of the target ("s" gives the server word),
    // empty when absent; "a=1&b=2" lists after the path and after "?" both count.
    std::string Param(const std::string& key) const;
};

// Starts the built demo-map-server on a free port of 127.0.0.1 for the
// lifetime of the object and stops it on destruction. Throws
// std::runtime_error when the server does not start. Every request is
// logged and can be read back with Requests().
//
//   DemoServer server(DemoServerOptions().ErrorServer(0).ErrorServer(1));
//   std::string url = ExpandSourceUrl(server.Template(MapLayer::Map), "2", 5, 7, 3, "", 1);
//   ... fetch url ...
//   EXPECT_EQ(server.Requests().back().ServerNumber(), 2);
class DemoServer {
public:
    explicit DemoServer(const DemoServerOptions& options = {});
    ~DemoServer();
    DemoServer(const DemoServer&) = delete;
    DemoServer& operator=(const DemoServer&) = delete;

    // Path of the demo-map-server executable this build made.
    static std::filesystem::path ExecutablePath();

    int Port() const { return port_; }
    // "http://127.0.0.1:PORT"
    std::string BaseUrl() const;
    // The map page: "http://maps.google.localhost:PORT"
    std::string SiteAddress() const;
    // The layer's default source URL template, its host moved to this server
    // ("http://mt[SRVINDEX].google.localhost:PORT/vt/...").
    std::string Template(MapLayer layer) const;
    // A URL of this server that answers a valid PNG file of exactly `size` bytes.
    std::string PaddedPngUrl(size_t size) const;

    // Every request received so far, oldest first.
    std::vector<LoggedRequest> Requests() const;
    // Requests from now on only: forgets those received so far.
    void ClearRequests();

private:
    class Process;

    TempDir folder_;
    std::filesystem::path log_;
    std::unique_ptr<Process> process_;
    int port_ = 0;
    size_t skippedRequests_ = 0;
};

} // namespace quiltara::test
