#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "download/TileDownloader.h"
#include "tiles/TileSources.h"

namespace quiltara {

// One tile of one layer to fetch into its tile file.
struct TileFetchJob {
    std::string sourceUrl;
    int column = 0;
    int row = 0;
    int zoom = 0;
    std::string tilePath;
};

// What a run's failed-tiles message says beyond that tiles failed.
struct FetchReport {
    std::string sourceName; // the catalogue source asked; empty: the map service
    // The longest wait a server asked for that the run would not sit out, so
    // that its tile was not asked for again; 0: none.
    std::chrono::seconds longestRefusedWait{0};
    // Tile files placed from the tile cache, fresh or confirmed by a 304.
    std::size_t fromCache = 0;

    // Takes in what one reported fetch said.
    void Note(const TileFileResult& result) {
        fromCache += result.fromCache ? 1 : 0;
        if (result.busy == BusyServer::TooLong) {
            longestRefusedWait = std::max(longestRefusedWait, result.askedWait);
        }
    }
};

// Fetches tiles into tile files for a create-map run.
class TileFetcher {
public:
    // Told whether a handed-out fetch gave a usable tile file.
    using FetchDone = std::function<void(bool fetched)>;

    virtual ~TileFetcher() = default;

    // A run starts: from now on the first existing tile file brings the
    // overwrite question again.
    virtual void StartRun() = 0;

    // Fetches one tile of one layer from the layer's source URL template into
    // tilePath; true when a usable file is there afterwards. An error that
    // ends the run is thrown as TileDownloadError.
    virtual bool FetchTile(const std::string& sourceUrl, int column, int row, int zoom,
                           const std::string& tilePath) = 0;

    // Hands out the run's next fetch, in list order. done is called on the
    // caller's thread, during this call or a later Submit or Finish; a
    // fetcher with one connection fetches at once. An error that ends the run
    // is thrown here or from Finish, once the fetches under way have ended.
    virtual void Submit(const TileFetchJob& job, const FetchDone& done) {
        done(FetchTile(job.sourceUrl, job.column, job.row, job.zoom, job.tilePath));
    }

    // Waits until every fetch handed out is done and reported.
    virtual void Finish() {}

    // About the fetches of this run reported so far.
    virtual FetchReport Report() const { return {}; }

    // The most requests per second it sends, over all its connections; 0:
    // no limit.
    virtual double RequestRate() const { return 0.0; }

    // How many of these fetches the tile cache would serve without a
    // request; nothing when the fetcher has no cache.
    virtual std::optional<std::size_t> CountCached(std::span<const TileFetchJob> /*jobs*/) const {
        return std::nullopt;
    }
};

// The real fetcher: the tile downloader behind the retries over server
// numbers and server words. The control panel owns the run state and the
// language code, the application the remembered server number; this object
// only refers to them.
class DownloadingTileFetcher : public TileFetcher {
public:
    DownloadingTileFetcher(TileUrlFetcher& downloader, OverwriteRunState& runState,
                           RememberedServerNumber& remembered, const std::string& languageCode,
                           TileRequestStyle style = {})
        : downloader_(downloader),
          runState_(runState),
          remembered_(remembered),
          languageCode_(languageCode),
          style_(std::move(style)) {}

    void StartRun() override {
        runState_.StartRun();
        report_ = FetchReport{style_.sourceName};
    }
    bool FetchTile(const std::string& sourceUrl, int column, int row, int zoom,
                   const std::string& tilePath) override {
        const TileFileResult result =
            FetchTileOfSource(style_, sourceUrl, column, row, zoom, tilePath, languageCode_,
                              remembered_, downloader_);
        report_.Note(result);
        return result.usable;
    }
    FetchReport Report() const override { return report_; }

private:
    TileUrlFetcher& downloader_;
    OverwriteRunState& runState_;
    RememberedServerNumber& remembered_;
    const std::string& languageCode_;
    TileRequestStyle style_;
    FetchReport report_{style_.sourceName};
};

} // namespace quiltara
