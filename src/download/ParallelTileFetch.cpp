#include "download/ParallelTileFetch.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <optional>
#include <system_error>
#include <thread>

#include "download/CacheEstimate.h"

namespace quiltara {
namespace {

// The prompts of a connection's own downloader. A fetch whose file could
// bring the existing-file question never goes to a connection, so nothing is
// shown from there; a file that appears behind the run's back meanwhile is
// kept, as Cancel would keep it, without settling anything for the run.
class NoQuestions : public Prompts {
public:
    MessageAnswer ShowMessage(const std::string& /*text*/, MessageButtons buttons) override {
        return buttons == MessageButtons::YesNoCancel ? MessageAnswer::Cancel : MessageAnswer::No;
    }
    std::optional<std::string> AskSavePath(const SaveDialogOptions& /*options*/) override {
        return std::nullopt;
    }
};

// The downloader behind the caller's check before each attempt. A request
// withdrawn from its Retry-After wait (the run is stopping) leaves its tile
// unfetched, and every later attempt here fails at once: the run ends with
// the tiles it has rather than sitting out the server's wait.
class GuardedUrlFetcher : public TileUrlFetcher {
public:
    GuardedUrlFetcher(TileUrlFetcher& downloader,
                      std::function<void(const std::string& url)> beforeAttempt)
        : downloader_(downloader), beforeAttempt_(std::move(beforeAttempt)) {}

    TileFileResult FetchUrlToFile(const std::filesystem::path& tilePath,
                                  const std::string& url) override {
        if (beforeAttempt_) {
            beforeAttempt_(url);
        }
        if (withdrawn_) {
            return false;
        }
        try {
            return downloader_.FetchUrlToFile(tilePath, url);
        } catch (const RequestWithdrawn&) {
            withdrawn_ = true;
            return false;
        }
    }

private:
    TileUrlFetcher& downloader_;
    std::function<void(const std::string& url)> beforeAttempt_;
    bool withdrawn_ = false;
};

// The run's classic fetcher: one connection, each tile fetched as it comes.
class OneConnectionFetcher : public TileFetcher {
public:
    explicit OneConnectionFetcher(const TileFetcherParts& parts)
        : cache_(parts.cache),
          style_(parts.requestStyle),
          languageCode_(parts.languageCode),
          remembered_(parts.remembered),
          pacer_(MakeRequestPacer(parts.requestStyle)),
          polite_(parts.http, parts.beforeAttempt, parts.stopRequested, pacer_.get()),
          downloader_(polite_, parts.prompts, parts.imageCheck, parts.choice, parts.runState),
          guarded_(downloader_, parts.beforeAttempt),
          fetcher_(guarded_, parts.runState, parts.remembered, parts.languageCode,
                   parts.requestStyle) {
        downloader_.SetRequestStyle(parts.requestStyle);
        downloader_.UseCache(parts.cache);
    }
    std::optional<std::size_t> CountCached(std::span<const TileFetchJob> jobs) const override {
        return CountCachedFetches(cache_, style_, jobs, languageCode_, remembered_);
    }

    void StartRun() override { fetcher_.StartRun(); }
    bool FetchTile(const std::string& sourceUrl, int column, int row, int zoom,
                   const std::string& tilePath) override {
        return fetcher_.FetchTile(sourceUrl, column, row, zoom, tilePath);
    }
    FetchReport Report() const override { return fetcher_.Report(); }
    double RequestRate() const override { return pacer_ ? pacer_->RequestsPerSecond() : 0.0; }

private:
    TileCache* cache_;
    TileRequestStyle style_;
    const std::string& languageCode_;
    const RememberedServerNumber& remembered_;
    std::unique_ptr<RequestPacer> pacer_;
    PoliteHttpClient polite_;
    TileDownloader downloader_;
    GuardedUrlFetcher guarded_;
    DownloadingTileFetcher fetcher_;
};

} // namespace

// One connection: its client, its downloader and the copy of the run's state
// it works with, and the thread that drives it.
struct ParallelTileFetcher::Connection {
    Connection(std::unique_ptr<HttpClient> ownClient, HttpClient& http,
               const TileFetcherParts& parts, RequestPacer* pacer)
        : owned(std::move(ownClient)),
          polite(http, parts.beforeAttempt, parts.stopRequested, pacer),
          downloader(polite, prompts, parts.imageCheck, choice, runState),
          guarded(downloader, parts.beforeAttempt) {
        downloader.SetRequestStyle(parts.requestStyle);
        downloader.UseCache(parts.cache);
        // Kept only once every tile before it in list order is settled (see
        // ReportFinished).
        downloader.HoldCheckedTiles(true);
    }

    std::unique_ptr<HttpClient> owned; // null for the first connection, which is lent
    PoliteHttpClient polite;
    NoQuestions prompts;
    OverwriteChoice choice;
    OverwriteRunState runState;
    RememberedServerNumber remembered;
    std::string languageCode;
    TileDownloader downloader;
    GuardedUrlFetcher guarded;

    // Guarded by the fetcher's mutex.
    std::optional<TileFetchJob> job;
    std::size_t number = 0;
    bool busy = false;

    std::thread thread;
};

int DownloadConnectionsSetting(SettingsStore& settings) {
    const int wanted = settings.GetInt(kDownloadConnectionsSetting, kDefaultDownloadConnections);
    return std::clamp(wanted, 1, kMostDownloadConnections);
}

ParallelTileFetcher::ParallelTileFetcher(int connections, const TileFetcherParts& parts)
    : prompts_(parts.prompts),
      beforeAttempt_(parts.beforeAttempt),
      imageCheck_(parts.imageCheck),
      choice_(parts.choice),
      runState_(parts.runState),
      remembered_(parts.remembered),
      languageCode_(parts.languageCode),
      requestStyle_(parts.requestStyle),
      cache_(parts.cache),
      pacer_(MakeRequestPacer(parts.requestStyle)) {
    const int count = std::clamp(connections, 1, kMostDownloadConnections);
    connections_.push_back(std::make_unique<Connection>(nullptr, parts.http, parts, pacer_.get()));
    while (static_cast<int>(connections_.size()) < count) {
        std::unique_ptr<HttpClient> http = parts.moreConnections();
        HttpClient& client = *http;
        connections_.push_back(
            std::make_unique<Connection>(std::move(http), client, parts, pacer_.get()));
    }
    try {
        for (auto& connection : connections_) {
            Connection& c = *connection;
            c.thread = std::thread([this, &c] { Work(c); });
        }
    } catch (...) {
        StopConnections();
        throw;
    }
}

ParallelTileFetcher::~ParallelTileFetcher() {
    StopConnections();
}

void ParallelTileFetcher::StopConnections() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    workReady_.notify_all();
    for (auto& connection : connections_) {
        if (connection->thread.joinable()) {
            connection->thread.join();
        }
    }
}

void ParallelTileFetcher::Work(Connection& connection) {
    for (;;) {
        TileFetchJob job;
        Completion completion;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            workReady_.wait(lock, [&] { return connection.job.has_value() || stopping_; });
            if (!connection.job) {
                return;
            }
            job = std::move(*connection.job);
            connection.job.reset();
            completion.number = connection.number;
        }
        try {
            completion.result = FetchTileOfSource(requestStyle_, job.sourceUrl, job.column, job.row,
                                                  job.zoom, job.tilePath, connection.languageCode,
                                                  connection.remembered, connection.guarded);
        } catch (...) {
            completion.error = std::current_exception();
        }
        completion.held = connection.downloader.TakeHeldTile();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            failed_ = failed_ || completion.error != nullptr;
            finished_.push_back(std::move(completion));
            connection.busy = false;
        }
        workDone_.notify_all();
    }
}

void ParallelTileFetcher::StartRun() {
    // Whatever an abandoned run left is not this run's business.
    DropResults();
    nextNumber_ = 0;
    runState_.StartRun();
    report_ = FetchReport{requestStyle_.sourceName};
}

void ParallelTileFetcher::DropResults() {
    WaitUntilIdle();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_.clear();
        failed_ = false;
    }
    waiting_.clear();
    arrived_.clear();
}

bool ParallelTileFetcher::MustRunAlone(const TileFetchJob& job) const {
    return !remembered_.Has() || (!runState_.overwriteAsked && AnythingAt(job.tilePath));
}

bool ParallelTileFetcher::FetchHere(const TileFetchJob& job) {
    WaitUntilIdle();
    ReportFinished();
    // Every connection is idle: the first one's client serves here, and the
    // question goes to the run's own prompts with the run's own state.
    TileDownloader downloader(connections_.front()->polite, prompts_, imageCheck_, choice_,
                              runState_);
    downloader.SetRequestStyle(requestStyle_);
    downloader.UseCache(cache_);
    GuardedUrlFetcher guarded(downloader, beforeAttempt_);
    const TileFileResult result =
        FetchTileOfSource(requestStyle_, job.sourceUrl, job.column, job.row, job.zoom, job.tilePath,
                          languageCode_, remembered_, guarded);
    report_.Note(result);
    return result.usable;
}

bool ParallelTileFetcher::FetchTile(const std::string& sourceUrl, int column, int row, int zoom,
                                    const std::string& tilePath) {
    return FetchHere(TileFetchJob{sourceUrl, column, row, zoom, tilePath});
}

void ParallelTileFetcher::Submit(const TileFetchJob& job, const FetchDone& done) {
    ReportFinished();
    if (MustRunAlone(job)) {
        done(FetchHere(job));
        return;
    }
    WaitForRoomAhead();
    const std::size_t number = nextNumber_++;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        auto idle = connections_.end();
        workDone_.wait(lock, [&] {
            idle = std::find_if(connections_.begin(), connections_.end(),
                                [](const auto& c) { return !c->busy; });
            return failed_ || idle != connections_.end();
        });
        if (!failed_) {
            Connection& connection = **idle;
            connection.busy = true;
            connection.number = number;
            connection.job = job;
            connection.choice = choice_;
            connection.runState = runState_;
            connection.remembered = remembered_;
            connection.languageCode = languageCode_;
            waiting_.emplace(number, done);
        }
    }
    workReady_.notify_all();
    ReportFinished();
}

void ParallelTileFetcher::Finish() {
    WaitUntilIdle();
    ReportFinished();
}

void ParallelTileFetcher::WaitForRoomAhead() {
    while (!waiting_.empty() && nextNumber_ - waiting_.begin()->first >= kMostTilesAhead) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            workDone_.wait(lock, [&] { return failed_ || !finished_.empty(); });
        }
        ReportFinished();
    }
}

void ParallelTileFetcher::WaitUntilIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    workDone_.wait(lock, [&] {
        return std::none_of(connections_.begin(), connections_.end(),
                            [](const auto& c) { return c->busy; });
    });
}

void ParallelTileFetcher::ReportFinished() {
    bool failed = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failed = failed_;
    }
    if (failed) {
        // The run ends: the fetches under way still finish, and keep their files.
        WaitUntilIdle();
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Completion& completion : finished_) {
            arrived_.emplace(completion.number, std::move(completion));
        }
        finished_.clear();
    }
    // In list order only: a result waits for those of the fetches before it.
    // After a failure everything handed out has arrived, so the first error
    // in list order comes up here, the one the run would have met fetching
    // one tile after another.
    while (!waiting_.empty()) {
        const auto first = waiting_.begin();
        const auto found = arrived_.find(first->first);
        if (found == arrived_.end()) {
            return;
        }
        Completion completion = std::move(found->second);
        const FetchDone done = std::move(first->second);
        arrived_.erase(found);
        waiting_.erase(first);
        try {
            if (completion.error) {
                std::rethrow_exception(completion.error);
            }
            // Only now is every tile before it settled: had one of them ended
            // the run, this one would not be kept, as it would not have been
            // fetched one tile after another.
            if (completion.held) {
                completion.held->Commit();
            }
        } catch (...) {
            // The failure may have come in after the check above: the fetches
            // still under way finish before the run hears of it, and until
            // then nothing more is handed out. The tiles they hold go with them.
            DropResults();
            throw;
        }
        report_.Note(completion.result);
        done(completion.result.usable);
    }
}

std::optional<std::size_t> ParallelTileFetcher::CountCached(
    std::span<const TileFetchJob> jobs) const {
    return CountCachedFetches(cache_, requestStyle_, jobs, languageCode_, remembered_);
}

std::optional<std::size_t> CountCachedFetches(const TileCache* cache, const TileRequestStyle& style,
                                              std::span<const TileFetchJob> jobs,
                                              const std::string& languageCode,
                                              const RememberedServerNumber& remembered) {
    if (cache == nullptr) {
        return std::nullopt;
    }
    return CountCachedTiles(*cache, style, jobs, languageCode, remembered);
}

std::unique_ptr<RequestPacer> MakeRequestPacer(const TileRequestStyle& style) {
    if (style.requestsPerSecond <= 0.0) {
        return nullptr;
    }
    return std::make_unique<RequestPacer>(style.requestsPerSecond);
}

std::unique_ptr<TileFetcher> MakeTileFetcher(int connections, const TileFetcherParts& parts) {
    if (connections <= 1 || !parts.moreConnections) {
        return std::make_unique<OneConnectionFetcher>(parts);
    }
    return std::make_unique<ParallelTileFetcher>(connections, parts);
}

} // namespace quiltara
