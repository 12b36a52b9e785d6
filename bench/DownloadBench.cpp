// 1024 tiles from the offline map service: through FetchTileWithRetries (one
// request per tile once the server number is remembered, every tile decoded
// by the image check) beside one `curl --config` process fetching the same
// URLs over one reused connection without decoding; and the decode-only
// cost of the image check on the same files. Then a run's fetcher over 1 to
// 8 connections, on bare loopback (1024 tiles) and against a service that
// takes 20 ms per tile, as a real one far away does (256 tiles).
//
// Tile folders are made under TMPDIR. Where that file system keeps recently
// deleted files from reuse for a while (ext4 without a journal does), making
// each tile's file costs more the more files went shortly before, and every
// iteration deletes a folder of 1024: TMPDIR=/dev/shm shows the figures
// without that cost.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <memory>
#include <string>

#include "DemoServer.h"
#include "TestPaths.h"
#include "download/ParallelTileFetch.h"
#include "download/TileDownloader.h"
#include "platform/CurlHttpClient.h"
#include "platform/ScriptedPrompts.h"
#include "tiles/TileSources.h"

extern char** environ;

namespace {

using namespace quiltara;

constexpr int kZoom = 5;
constexpr int kSide = 32; // 32 x 32 = 1024 tiles
constexpr int kTiles = kSide * kSide;

test::DemoServer& Server() {
    static test::DemoServer server;
    return server;
}

std::string TileUrl(int column, int row) {
    return ExpandSourceUrl(Server().Template(MapLayer::Map), "0", column, row, kZoom, "", 1);
}

std::filesystem::path TilePath(const std::filesystem::path& folder, int column, int row) {
    return folder / (LayerPrefix(MapLayer::Map) + TileFileName(column, row, kZoom));
}

// Runs curl once over a config file naming every URL and its output file.
bool RunCurl(const std::filesystem::path& folder) {
    const std::filesystem::path config = folder / "curl.config";
    {
        std::ofstream out(config);
        out << "silent\nfail-early\nnoproxy = \"*\"\n";
        for (const std::string& header : TileRequestHeaders()) {
            out << "header = \"" << header << "\"\n";
        }
        for (int row = 0; row < kSide; ++row) {
            for (int column = 0; column < kSide; ++column) {
                out << "url = \"" << TileUrl(column, row) << "\"\n"
                    << "output = \"" << TilePath(folder, column, row).string() << "\"\n";
            }
        }
    }
    std::string configText = config.string();
    char curl[] = "curl";
    char noRc[] = "-q";
    char option[] = "--config";
    char* argv[] = {curl, noRc, option, configText.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv, environ) != 0) {
        return false;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The tiles of one warm-up run, kept for the decode-only figure.
const std::filesystem::path& DownloadedTiles() {
    static test::TempDir folder;
    static const bool fetched = RunCurl(folder.Path());
    (void)fetched;
    return folder.Path();
}

// What one run of the downloads keeps besides its connections; server 0 is
// remembered already, as after the first tile of a real run.
struct RunState {
    RunState() { remembered.RememberIfUnset("0"); }

    ScriptedPrompts prompts;
    RasterImageCheck check;
    OverwriteChoice choice;
    OverwriteRunState run;
    RememberedServerNumber remembered;
};

void BM_FetchTileWithRetries(benchmark::State& state) {
    DownloadedTiles(); // the server has drawn every tile once
    for (auto _ : state) {
        state.PauseTiming();
        auto folder = std::make_unique<test::TempDir>();
        RunState run;
        state.ResumeTiming();

        CurlHttpClient http;
        TileDownloader downloader(http, run.prompts, run.check, run.choice, run.run);
        int fetched = 0;
        for (int row = 0; row < kSide; ++row) {
            for (int column = 0; column < kSide; ++column) {
                fetched += FetchTileWithRetries(Server().Template(MapLayer::Map), column, row,
                                                kZoom, TilePath(folder->Path(), column, row), "",
                                                run.remembered, downloader);
            }
        }
        if (fetched != kTiles) {
            state.SkipWithError("not every tile was fetched");
        }
        state.PauseTiming();
        folder.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kTiles);
}

void BM_CurlConfigOneProcess(benchmark::State& state) {
    DownloadedTiles();
    for (auto _ : state) {
        state.PauseTiming();
        auto folder = std::make_unique<test::TempDir>();
        state.ResumeTiming();
        if (!RunCurl(folder->Path())) {
            state.SkipWithError("curl failed");
        }
        state.PauseTiming();
        folder.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kTiles);
}

void BM_ImageCheckOnly(benchmark::State& state) {
    const std::filesystem::path& folder = DownloadedTiles();
    const RasterImageCheck check;
    for (auto _ : state) {
        int usable = 0;
        for (int row = 0; row < kSide; ++row) {
            for (int column = 0; column < kSide; ++column) {
                usable += check.IsUsableImage(TilePath(folder, column, row));
            }
        }
        if (usable != kTiles) {
            state.SkipWithError("a downloaded tile failed the check");
        }
    }
    state.SetItemsProcessed(state.iterations() * kTiles);
}

test::DemoServer& SlowServer() {
    static test::DemoServer server(test::DemoServerOptions().DelayMs(20));
    return server;
}

// One run's downloads through the fetcher the run would use: arguments are
// the connections and the service's delay per tile in milliseconds.
void BM_RunFetcher(benchmark::State& state) {
    const int connections = static_cast<int>(state.range(0));
    const bool slow = state.range(1) > 0;
    test::DemoServer& server = slow ? SlowServer() : Server();
    const int side = slow ? kSide / 2 : kSide;
    DownloadedTiles();
    for (auto _ : state) {
        state.PauseTiming();
        auto folder = std::make_unique<test::TempDir>();
        RunState run;
        const std::string languageCode;
        state.ResumeTiming();

        CurlHttpClient http;
        const TileFetcherParts parts{
            http,           [] { return std::make_unique<CurlHttpClient>(); },
            run.prompts,    run.check,
            run.choice,     run.run,
            run.remembered, languageCode};
        const std::unique_ptr<TileFetcher> fetcher = MakeTileFetcher(connections, parts);
        fetcher->StartRun();
        int fetched = 0;
        const TileFetcher::FetchDone count = [&fetched](bool ok) { fetched += ok ? 1 : 0; };
        for (int row = 0; row < side; ++row) {
            for (int column = 0; column < side; ++column) {
                fetcher->Submit(TileFetchJob{server.Template(MapLayer::Map), column, row, kZoom,
                                             TilePath(folder->Path(), column, row).string()},
                                count);
            }
        }
        fetcher->Finish();
        if (fetched != side * side) {
            state.SkipWithError("not every tile was fetched");
        }
        state.PauseTiming();
        folder.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * side * side);
}

BENCHMARK(BM_FetchTileWithRetries)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_CurlConfigOneProcess)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ImageCheckOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_RunFetcher)
    ->ArgNames({"connections", "delay_ms"})
    ->ArgsProduct({{1, 2, 4, 8}, {0}})
    ->ArgsProduct({{1, 8}, {20}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

} // namespace

BENCHMARK_MAIN();
