// Tile requests with retries over server numbers and words, as the offline
// map service sees them.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <set>

#include "DemoServer.h"
#include "TestPaths.h"
#include "download/TileDownloader.h"
#include "platform/CurlHttpClient.h"
#include "platform/PoliteHttpClient.h"
#include "platform/ScriptedPrompts.h"
#include "tiles/TileSources.h"

namespace quiltara {
namespace {

using test::DemoServer;
using test::DemoServerOptions;
using test::LoggedRequest;

struct Attempt {
    int server;
    std::string word;
    bool operator==(const Attempt&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Attempt& attempt) {
    return out << "(" << attempt.server << ", " << attempt.word << ")";
}

std::vector<Attempt> Attempts(const DemoServer& server) {
    std::vector<Attempt> attempts;
    for (const LoggedRequest& request : server.Requests()) {
        attempts.push_back({request.ServerNumber(), request.Param("s")});
    }
    return attempts;
}

std::vector<Attempt> InOrder(int servers, int lastWordLength) {
    std::vector<Attempt> attempts;
    for (int server = 0; server < servers; ++server) {
        const int words = server + 1 == servers ? lastWordLength : 6;
        for (int n = 1; n <= words; ++n) {
            attempts.push_back({server, std::string("Galileo").substr(0, n)});
        }
    }
    return attempts;
}

struct CreateMapRun {
    explicit CreateMapRun(const DemoServer& demo) : server(demo) {}

    bool Tile(MapLayer layer, int column, int row, int zoom) {
        const std::filesystem::path path =
            folder / (LayerPrefix(layer) + TileFileName(column, row, zoom));
        return FetchTileWithRetries(server.Template(layer), column, row, zoom, path, "", remembered,
                                    downloader);
    }

    const DemoServer& server;
    test::TempDir folder;
    CurlHttpClient http;
    ScriptedPrompts prompts;
    RasterImageCheck check;
    OverwriteChoice choice;
    OverwriteRunState runState;
    TileDownloader downloader{http, prompts, check, choice, runState};
    RememberedServerNumber remembered;
};

TEST(TileRetries, AllServersFailingCostTwentyFourRequestsInOrder) {
    DemoServer server(
        DemoServerOptions().ErrorServer(0).ErrorServer(1).ErrorServer(2).ErrorServer(3));
    CreateMapRun run(server);
    EXPECT_FALSE(run.Tile(MapLayer::Map, 1, 1, 2));
    EXPECT_EQ(Attempts(server), InOrder(4, 6));
    EXPECT_FALSE(run.remembered.Has());
    EXPECT_TRUE(std::filesystem::is_empty(run.folder.Path()));
}

TEST(TileRetries, AKeptTileLeavesTheServerToTheFirstRequestThatWorks) {
    // Server 0 is down; a resumed run keeps the tile it already has.
    DemoServer server(DemoServerOptions().ErrorServer(0));
    CreateMapRun run(server);
    std::ofstream(run.folder / ("Map_" + TileFileName(0, 0, 1))) << "from the earlier run";
    run.prompts.QueueAnswer(MessageAnswer::No);
    EXPECT_TRUE(run.Tile(MapLayer::Map, 0, 0, 1));
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_FALSE(run.remembered.Has());

    EXPECT_TRUE(run.Tile(MapLayer::Map, 1, 0, 1));
    EXPECT_TRUE(run.Tile(MapLayer::Map, 0, 1, 1));
    std::vector<Attempt> expected = InOrder(2, 1);
    expected.push_back({1, "G"});
    EXPECT_EQ(Attempts(server), expected);
    EXPECT_EQ(run.remembered.Text(), "1");
}

TEST(TileRetries, TheFirstSuccessFixesServerAndWordForEveryLayer) {
    DemoServer server(DemoServerOptions().ErrorServer(0).ErrorServer(1));
    CreateMapRun run(server);
    ASSERT_TRUE(run.Tile(MapLayer::Map, 0, 0, 1));
    EXPECT_EQ(Attempts(server), InOrder(3, 1)); // (0,G) ... (1,Galile), (2,G)
    ASSERT_TRUE(run.remembered.Has());
    EXPECT_EQ(run.remembered.Text(), "2");

    server.ClearRequests();
    for (const MapLayer layer : kAllLayers) {
        EXPECT_TRUE(run.Tile(layer, 1, 0, 1));
        EXPECT_TRUE(run.Tile(layer, 1, 1, 1));
    }
    const std::vector<Attempt> later = Attempts(server);
    EXPECT_EQ(later, std::vector<Attempt>(8, Attempt{2, "G"}));
}

TEST(TileRetries, OnceANumberIsRememberedASingleFailureEndsTheTile) {
    DemoServer server(DemoServerOptions().MissingTile(1, 1, 1));
    CreateMapRun run(server);
    ASSERT_TRUE(run.Tile(MapLayer::Terrain, 0, 0, 1));
    EXPECT_EQ(run.remembered.Text(), "0");
    server.ClearRequests();
    EXPECT_FALSE(run.Tile(MapLayer::Terrain, 1, 1, 1));
    EXPECT_EQ(Attempts(server), (std::vector<Attempt>{{0, "G"}}));
    EXPECT_FALSE(std::filesystem::exists(run.folder / ("Ter_" + TileFileName(1, 1, 1))));
}

TEST(TileRetries, ARequiredWordIsFoundByTheWordRetries) {
    DemoServer server(DemoServerOptions().ErrorServer(0).RequireWord("Gali"));
    CreateMapRun run(server);
    ASSERT_TRUE(run.Tile(MapLayer::Satellite, 0, 0, 0));
    const std::vector<Attempt> attempts = Attempts(server);
    ASSERT_EQ(attempts.size(), 10u);
    EXPECT_EQ(attempts.back(), (Attempt{1, "Gali"}));
    EXPECT_EQ(run.remembered.Text(), "1");
    // The remembered word is always "G", so later tiles fail with this server.
    EXPECT_FALSE(run.Tile(MapLayer::Satellite, 0, 0, 1));
}

// A catalogue source with as many subdomains as a file may list: whatever
// the server answers, no tile is asked for more than four times, on at most
// three names; a busy server is asked again after the wait it names or, when
// it names none, after a growing pause of the client's own; a wait longer
// than a run sits out fails the tile at once.
TEST(TileRetries, ACatalogueTileIsAskedForAtMostFourTimesWhateverTheServerSays) {
    struct Case {
        const char* name;
        DemoServerOptions faults;
        std::size_t requests;
        bool fetched;
        BusyServer last;
        std::size_t hosts;
    };
    const auto busy = [](int status, const std::string& retryAfter, int times) {
        return DemoServerOptions()
            .BusyTile(4, 3, 5)
            .Busy(status, 0)
            .BusyTimes(times, false)
            .RetryAfterText(retryAfter)
            .LogArrivals();
    };
    const std::vector<Case> cases = {
        {"missing on every name", DemoServerOptions().MissingTile(4, 3, 5), 3, false,
         BusyServer::No, 3},
        {"a 503 storm with no Retry-After", busy(503, "none", 2), 3, true, BusyServer::No, 1},
        {"429 with a Retry-After of nonsense, for good", busy(429, "soon", 100), 4, false,
         BusyServer::NoWait, 1},
        {"503 with a Retry-After of 0", busy(503, "0", 1), 2, true, BusyServer::No, 1},
        {"a second's wait asked for, for good", busy(503, "1", 100), 4, false,
         BusyServer::WaitAsked, 1},
        {"a day's wait asked for", busy(429, "86400", 100), 1, false, BusyServer::TooLong, 1},
        {"a wait until next year asked for as a date",
         DemoServerOptions().BusyTile(4, 3, 5).Busy(503, 366 * 86400).BusyTimes(100, true), 1,
         false, BusyServer::TooLong, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DemoServer server(c.faults);
        TileRequestStyle style{true, {}, {}, "Many names", 0.0, {}};
        for (int i = 0; i < 64; ++i) {
            style.subdomains.push_back("s" + std::to_string(i));
        }
        const std::string tileTemplate =
            "http://{s}.tiles.localhost:" + std::to_string(server.Port()) +
            "/tiles/map/{z}/{x}/{y}.png";
        test::TempDir folder;
        CurlHttpClient http;
        PoliteHttpClient polite(http);
        ScriptedPrompts prompts;
        RasterImageCheck check;
        OverwriteChoice choice;
        OverwriteRunState runState;
        TileDownloader downloader(polite, prompts, check, choice, runState);
        downloader.SetRequestStyle(style);
        RememberedServerNumber remembered;
        const TileFileResult result = FetchTileOfSource(
            style, tileTemplate, 3, 5, 4, folder / "t.png", "", remembered, downloader);
        EXPECT_EQ(result.usable, c.fetched);
        EXPECT_EQ(result.busy, c.last);
        const std::vector<LoggedRequest> requests = server.Requests();
        EXPECT_EQ(requests.size(), c.requests);
        std::set<std::string> hosts;
        for (const LoggedRequest& request : requests) {
            hosts.insert(request.Header("Host"));
        }
        EXPECT_EQ(hosts.size(), c.hosts);
        if (c.last == BusyServer::TooLong) {
            EXPECT_GE(result.askedWait, std::chrono::seconds(86000));
        }
        // With no usable Retry-After each pause is longer than the one before.
        if (c.faults.logArrivals && c.faults.retryAfterText != "1" && requests.size() >= 3) {
            for (std::size_t i = 2; i < requests.size(); ++i) {
                EXPECT_GT(requests[i].arrivalMs - requests[i - 1].arrivalMs,
                          requests[i - 1].arrivalMs - requests[i - 2].arrivalMs);
            }
            EXPECT_GE(requests[1].arrivalMs - requests[0].arrivalMs, 450);
        }
    }
}

} // namespace
} // namespace quiltara
