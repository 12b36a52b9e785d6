#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "download/TileDownloader.h"
#include "download/TileFetcher.h"
#include "platform/HttpClient.h"
#include "platform/PoliteHttpClient.h"
#include "platform/Prompts.h"
#include "platform/RequestPacer.h"
#include "platform/SettingsStore.h"
#include "tiles/TileSources.h"

namespace quiltara {

inline constexpr int kDefaultDownloadConnections = 4;
inline constexpr int kMostDownloadConnections = 16;

// The settings value holding how many connections a run downloads over.
inline constexpr const char* kDownloadConnectionsSetting = "DownloadConnections";

// The number of connections the settings ask for: kDefaultDownloadConnections
// when absent, 1 (one tile after another) to kMostDownloadConnections.
int DownloadConnectionsSetting(SettingsStore& settings);

// Makes the HTTP client of one more connection.
using HttpClientFactory = std::function<std::unique_ptr<HttpClient>()>;

// What a run's fetcher works with. The control panel owns the run state and
// the language code, the application the overwrite choice and the remembered
// server number; the fetcher only refers to them.
struct TileFetcherParts {
    HttpClient& http; // the first connection
    HttpClientFactory moreConnections;
    Prompts& prompts;
    const TileImageCheck& imageCheck;
    OverwriteChoice& choice;
    OverwriteRunState& runState;
    RememberedServerNumber& remembered;
    const std::string& languageCode;
    // Called before every request attempt, on the thread of the connection
    // making it; it may throw TileDownloadError to end the run (a program
    // that is closing). Must be safe to call from several threads.
    std::function<void(const std::string& url)> beforeAttempt = {};
    // Whether the run was asked to stop (Cancel, Ctrl-C); safe to call from
    // several threads. A connection waiting out a Retry-After then gives up
    // the wait and the rest of its tile's attempts: the tile is not fetched.
    std::function<bool()> stopRequested = {};
    // How the tiles are asked for: the map service's way, or a catalogue
    // source's header lines and subdomains.
    TileRequestStyle requestStyle = {};
    // The tile cache every connection takes tiles from and keeps them in;
    // null: none. Safe to share between connections and processes.
    TileCache* cache = nullptr;
};

// Fetches a run's tiles over several connections at once, with the results of
// fetching them one after another: the same tile files, the same failed
// tiles, the same requests for each tile. A tile fetched ahead of its turn
// stays under its temporary name until every tile before it in list order
// is settled, so an error that ends the run keeps the tiles before it and
// no later one, whatever the number of connections.
//
// Each connection has its own HTTP client and downloader, working on a copy
// of the shared state taken when a fetch is handed to it. A fetch whose
// course depends on what came before it runs alone, on the caller's thread,
// once every earlier fetch is done:
//  - while no server number is remembered: the first success sets it, and
//    every later tile's requests depend on it;
//  - while the existing-file question is open and the tile file exists: the
//    question comes at the first existing file in list order, and its answer
//    settles the files after it.
// Everything else (once the number is known) overlaps, so questions, progress
// and the shared state stay on the caller's thread.
class ParallelTileFetcher : public TileFetcher {
public:
    ParallelTileFetcher(int connections, const TileFetcherParts& parts);
    ~ParallelTileFetcher() override;
    ParallelTileFetcher(const ParallelTileFetcher&) = delete;
    ParallelTileFetcher& operator=(const ParallelTileFetcher&) = delete;

    void StartRun() override;
    // Fetches alone, after every fetch handed out before.
    bool FetchTile(const std::string& sourceUrl, int column, int row, int zoom,
                   const std::string& tilePath) override;
    void Submit(const TileFetchJob& job, const FetchDone& done) override;
    void Finish() override;
    FetchReport Report() const override { return report_; }
    double RequestRate() const override { return requestStyle_.requestsPerSecond; }
    std::optional<std::size_t> CountCached(std::span<const TileFetchJob> jobs) const override;

private:
    struct Connection;
    struct Completion {
        std::size_t number = 0; // in the order handed out
        TileFileResult result{false};
        std::optional<HeldTile> held; // the usable tile, not yet under its name
        std::exception_ptr error;
    };

    // How far fetches run ahead of the oldest one not yet reported: each
    // finished one holds its tile's temporary file open until then.
    static constexpr std::size_t kMostTilesAhead = 64;

    void StopConnections();
    bool MustRunAlone(const TileFetchJob& job) const;
    bool FetchHere(const TileFetchJob& job);
    // Blocks until no connection has work.
    void WaitUntilIdle();
    // Reports finished fetches until the next one handed out is within
    // kMostTilesAhead of the oldest one not reported.
    void WaitForRoomAhead();
    // Waits for the fetches under way, then forgets every result not yet
    // reported and any failure.
    void DropResults();
    // Reports finished fetches, in list order; after an error, waits for the
    // fetches under way and throws the first error in list order.
    void ReportFinished();
    void Work(Connection& connection);

    Prompts& prompts_;
    std::function<void(const std::string& url)> beforeAttempt_;
    const TileImageCheck& imageCheck_;
    OverwriteChoice& choice_;
    OverwriteRunState& runState_;
    RememberedServerNumber& remembered_;
    const std::string& languageCode_;
    TileRequestStyle requestStyle_;
    TileCache* cache_;
    FetchReport report_{requestStyle_.sourceName};
    // Shared by every connection: the run keeps the source's rate.
    std::unique_ptr<RequestPacer> pacer_;

    std::vector<std::unique_ptr<Connection>> connections_;
    std::size_t nextNumber_ = 0;
    std::map<std::size_t, FetchDone> waiting_;  // handed out, not yet reported
    std::map<std::size_t, Completion> arrived_; // finished, waiting for earlier ones

    std::mutex mutex_;
    std::condition_variable workReady_;
    std::condition_variable workDone_;
    std::vector<Completion> finished_;
    bool failed_ = false;
    bool stopping_ = false;
};

// The pacer that keeps a run to the style's rate; none without one.
std::unique_ptr<RequestPacer> MakeRequestPacer(const TileRequestStyle& style);

// CountCached for a fetcher with this cache (none: nothing) and these parts.
std::optional<std::size_t> CountCachedFetches(const TileCache* cache, const TileRequestStyle& style,
                                              std::span<const TileFetchJob> jobs,
                                              const std::string& languageCode,
                                              const RememberedServerNumber& remembered);

// The fetcher of a run: one connection fetching each tile as it comes
// (connections 1), or a ParallelTileFetcher.
std::unique_ptr<TileFetcher> MakeTileFetcher(int connections, const TileFetcherParts& parts);

} // namespace quiltara
