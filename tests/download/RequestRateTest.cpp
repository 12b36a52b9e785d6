// A source's rate holds over all the connections of a run, as the offline
// map service sees the requests arrive; the run's estimate and time left
// count on it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "DemoServer.h"
#include "TestPaths.h"
#include "download/ParallelTileFetch.h"
#include "platform/CurlHttpClient.h"
#include "platform/ScriptedPrompts.h"
#include "run/ProgressMeter.h"
#include "run/RunEstimate.h"

namespace quiltara {
namespace {

constexpr double kRate = 25.0;
constexpr int kTiles = 50;

TEST(RequestRate, ARunKeepsTheSourcesRateOverAllItsConnections) {
    test::DemoServer server(test::DemoServerOptions().LogArrivals());
    const test::TempDir dir;
    CurlHttpClient http(test::QuickTimeouts());
    ScriptedPrompts prompts;
    const RasterImageCheck check;
    OverwriteChoice choice;
    OverwriteRunState runState;
    RememberedServerNumber remembered;
    const std::string languageCode;
    TileFetcherParts parts{
        http,       [] { return std::make_unique<CurlHttpClient>(test::QuickTimeouts()); },
        prompts,    check,
        choice,     runState,
        remembered, languageCode};
    parts.requestStyle.catalogue = true;
    parts.requestStyle.requestsPerSecond = kRate;
    const std::unique_ptr<TileFetcher> fetcher = MakeTileFetcher(4, parts);
    EXPECT_EQ(fetcher->RequestRate(), kRate);

    fetcher->StartRun();
    const std::string tiles = server.BaseUrl() + "/tiles/map/{z}/{x}/{y}.png";
    int fetched = 0;
    for (int i = 0; i < kTiles; ++i) {
        fetcher->Submit(
            {tiles, i % 8, i / 8, 4, (dir / ("t" + std::to_string(i) + ".png")).string()},
            [&fetched](bool ok) { fetched += ok ? 1 : 0; });
    }
    fetcher->Finish();
    EXPECT_EQ(fetched, kTiles);

    std::vector<long long> arrivals;
    std::set<long> connections;
    for (const test::LoggedRequest& request : server.Requests()) {
        arrivals.push_back(request.arrivalMs);
        connections.insert(request.connection);
    }
    ASSERT_EQ(arrivals.size(), static_cast<std::size_t>(kTiles));
    EXPECT_GT(connections.size(), 1u) << "the requests went over several connections";
    std::sort(arrivals.begin(), arrivals.end());
    // The first request goes at once and each later one takes the next free
    // moment: however the connections interleave (and a busy machine only
    // spreads them further), the requests span the intervals between them,
    // less at most one for the first request, which waits for its connection
    // to be made. Connections each keeping the rate on their own would take
    // a quarter of that.
    const double interval = 1000.0 / kRate;
    EXPECT_GE(static_cast<double>(arrivals.back() - arrivals.front()), (kTiles - 2) * interval);
}

TEST(RequestRate, TheEstimateAndTheTimeLeftCountOnTheRate) {
    RunEstimate estimate;
    estimate.tiles = 150;
    estimate.layers = 2;
    estimate.downloads = 300;
    estimate.requestRate = 4.0;
    EXPECT_THAT(EstimateText(estimate), testing::HasSubstr("at most 4 requests a second: at least "
                                                           "1:15 to download"));
    EXPECT_EQ(estimate.MostTilesPerSecond(), 2.0);

    // The first tiles come faster than the pace shows: the time left holds
    // to the rate all the same.
    ProgressMeter meter;
    const ProgressMeter::Clock::time_point start{};
    meter.Start(150, start);
    meter.LimitRate(estimate.MostTilesPerSecond());
    meter.SetDone(10);
    EXPECT_EQ(meter.TimeLeft(start + std::chrono::seconds(1)), std::chrono::seconds(70));
}

} // namespace
} // namespace quiltara
