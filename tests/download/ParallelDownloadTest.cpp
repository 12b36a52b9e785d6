// Create-map runs over several connections against the offline map service:
// whatever the faults, they end as the run over one connection ends.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <thread>
#include <tuple>

#include "DemoServer.h"
#include "TestPaths.h"
#include "download/ParallelTileFetch.h"
#include "platform/CancelFlag.h"
#include "platform/CurlHttpClient.h"
#include "platform/MemorySettingsStore.h"
#include "platform/ScriptedPrompts.h"
#include "run/CreateMapRun.h"
#include "stitch/MapStitcher.h"

namespace quiltara {
namespace {

namespace fs = std::filesystem;
using test::DemoServer;
using test::DemoServerOptions;

constexpr int kZoom = 6;
const TileRange kRange{20, 30, 25, 33}; // 6 x 4 tiles

using test::QuickTimeouts;

using test::ReadFile;

// Every file below a folder with its content.
std::map<std::string, std::string> FolderContents(const fs::path& folder) {
    std::map<std::string, std::string> contents;
    for (const std::string& name : test::FilesBelow(folder)) {
        contents[name] = ReadFile(folder / name);
    }
    return contents;
}

// The requests of each tile of each layer, in the order they came: server
// number and server word.
using TileKey = std::tuple<std::string, std::string, std::string>; // path kind, x, y
std::map<TileKey, std::vector<std::string>> RequestsPerTile(const DemoServer& server) {
    std::map<TileKey, std::vector<std::string>> perTile;
    for (const test::LoggedRequest& request : server.Requests()) {
        const std::string target = request.Target();
        const TileKey key{target.substr(0, target.find('&')), request.Param("x"),
                          request.Param("y")};
        perTile[key].push_back(std::to_string(request.ServerNumber()) + "/" + request.Param("s"));
    }
    return perTile;
}

// Answers the questions of a run from a fixed list, recording every text.
struct RunResult {
    CreateMapOutcome outcome;
    std::vector<std::string> texts;
    std::map<std::string, std::string> files;
    std::map<TileKey, std::vector<std::string>> requests;
    std::vector<test::LoggedRequest> log;
};

struct RunSetup {
    std::vector<MapLayer> layers = {MapLayer::Map, MapLayer::Satellite};
    std::vector<MessageAnswer> answers;     // besides the final No to the delete question
    std::optional<std::string> remembered;  // from an earlier run of the program
    std::map<std::string, std::string> old; // tile files already in the folder
    std::string brokenTemplate;             // the satellite layer's, when set
    // Runs on a thread of its own beside the run: may ask the run to stop.
    std::function<void(const DemoServer&, CancelFlag&)> whileRunning;
};

class ParallelDownloads : public ::testing::Test {
protected:
    ParallelDownloads() {
        for (int row = kRange.yFirst; row <= kRange.yLast; ++row) {
            for (int col = kRange.xFirst; col <= kRange.xLast; ++col) {
                tiles_.push_back(CTileCell{col, row, 0, 0, 0, 0});
            }
        }
    }

    // One whole run over `connections` connections against its own server.
    RunResult Run(int connections, const DemoServerOptions& faults, const RunSetup& setup) {
        DemoServer server(faults);
        test::TempDir dir;
        for (const auto& [name, content] : setup.old) {
            std::ofstream(dir / name, std::ios::binary) << content;
        }
        ScriptedPrompts prompts;
        prompts.QueueSavePath(dir.Path().string() + "/area.png");
        for (MessageAnswer answer : setup.answers) {
            prompts.QueueAnswer(answer);
        }
        prompts.QueueAnswer(MessageAnswer::No);
        MapSourcesValues sources;
        for (MapLayer layer : setup.layers) {
            sources[layer].download = true;
            sources[layer].sourceUrl = server.Template(layer);
        }
        if (!setup.brokenTemplate.empty()) {
            sources[MapLayer::Satellite].sourceUrl = setup.brokenTemplate;
        }
        FixedMapSources provider(sources);
        NullProgressSink progress;

        CurlHttpClient http(QuickTimeouts());
        const RasterImageCheck check;
        OverwriteChoice choice;
        OverwriteRunState runState;
        RememberedServerNumber remembered;
        if (setup.remembered) {
            remembered.RememberIfUnset(*setup.remembered);
        }
        const std::string languageCode;
        CancelFlag cancel;
        TileFetcherParts parts{
            http,       [] { return std::make_unique<CurlHttpClient>(QuickTimeouts()); },
            prompts,    check,
            choice,     runState,
            remembered, languageCode};
        parts.stopRequested = [&cancel] { return cancel.Requested(); };
        const std::unique_ptr<TileFetcher> fetcher = MakeTileFetcher(connections, parts);
        InMemoryStitcher stitcher;
        CreateMapServices services{prompts, provider, progress, *fetcher, stitcher};
        services.cancel = &cancel;

        std::thread beside;
        if (setup.whileRunning) {
            beside = std::thread([&] { setup.whileRunning(server, cancel); });
        }
        RunResult result;
        result.outcome = CreateMap(CreateMapInputs{tiles_, kRange, kZoom}, services);
        if (beside.joinable()) {
            beside.join();
        }
        result.texts = prompts.Texts();
        result.files = FolderContents(dir.Path());
        result.requests = RequestsPerTile(server);
        result.log = server.Requests();
        // The folder and the port differ between the runs; the texts name them.
        const auto neutral = [&](std::string& text) {
            for (const auto& [own, common] :
                 {std::pair{dir.Path().string(), std::string("FOLDER")},
                  {":" + std::to_string(server.Port()) + "/", std::string(":PORT/")}}) {
                for (auto at = text.find(own); at != std::string::npos; at = text.find(own)) {
                    text.replace(at, own.size(), common);
                }
            }
        };
        neutral(result.outcome.endingError);
        neutral(result.outcome.outputFolder);
        for (std::string& text : result.texts) {
            neutral(text);
        }
        return result;
    }

    void ExpectSameRun(const RunResult& one, const RunResult& many) {
        EXPECT_EQ(many.outcome.status, one.outcome.status);
        EXPECT_EQ(many.outcome.endingError, one.outcome.endingError);
        EXPECT_EQ(many.outcome.tilesFailed, one.outcome.tilesFailed);
        EXPECT_EQ(many.texts, one.texts);
        EXPECT_EQ(many.requests, one.requests);
        ASSERT_EQ(many.files.size(), one.files.size());
        for (const auto& [name, content] : one.files) {
            const auto found = many.files.find(name);
            ASSERT_NE(found, many.files.end()) << name;
            EXPECT_TRUE(found->second == content) << name << " differs";
        }
    }

    std::string TileName(MapLayer layer, int col, int row) const {
        return LayerPrefix(layer) + TileFileName(col, row, kZoom);
    }

    std::vector<CTileCell> tiles_;
};

TEST_F(ParallelDownloads, FaultyServersGiveTheSameFilesRequestsAndMessagesAsOneConnection) {
    struct Case {
        const char* name;
        DemoServerOptions faults;
        std::optional<std::string> remembered;
    };
    const std::vector<Case> cases = {
        // The first tile is missing: all 24 attempts go out before the
        // second tile finds server 2 and every later one asks it alone.
        {"failing servers and missing tiles",
         DemoServerOptions()
             .ErrorServer(0)
             .ErrorServer(1)
             .MissingTile(kZoom, 20, 30)
             .MissingTile(kZoom, 23, 31)
             .MissingTile(kZoom, 25, 33),
         std::nullopt},
        {"connections cut mid-tile, number remembered from before",
         DemoServerOptions().CutConnection(), std::string("3")},
        {"an HTML page for every word but one", DemoServerOptions().RequireWord("Gal"),
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunSetup setup;
        setup.remembered = c.remembered;
        setup.answers = {MessageAnswer::Ok}; // the failed-tiles message
        const RunResult one = Run(1, c.faults, setup);
        const RunResult many = Run(6, c.faults, setup);
        ASSERT_EQ(one.outcome.status, CreateMapStatus::Finished);
        EXPECT_TRUE(one.outcome.tilesFailed);
        ExpectSameRun(one, many);
    }
}

TEST_F(ParallelDownloads, TheOverwriteQuestionComesAtTheFirstExistingTileAndItsAnswerHolds) {
    RunSetup setup;
    setup.layers = {MapLayer::Map, MapLayer::Terrain};
    // Out of list order on purpose: (21, 32) comes after (24, 30).
    setup.old = {{TileName(MapLayer::Terrain, 21, 32), "old terrain"},
                 {TileName(MapLayer::Map, 24, 30), "old map"},
                 {TileName(MapLayer::Map, 25, 33), "old last"}};
    for (MessageAnswer answer : {MessageAnswer::Yes, MessageAnswer::No, MessageAnswer::Cancel}) {
        SCOPED_TRACE(static_cast<int>(answer));
        // Cancel asks again at each of the three files; the broken files
        // kept bring the message about tiles the stitch could not place.
        setup.answers.assign(answer == MessageAnswer::Cancel ? 3 : 1, answer);
        if (answer != MessageAnswer::Yes) {
            setup.answers.push_back(MessageAnswer::Ok);
        }
        const RunResult one = Run(1, {}, setup);
        const RunResult many = Run(4, {}, setup);
        ExpectSameRun(one, many);

        ASSERT_FALSE(many.texts.empty());
        EXPECT_EQ(many.texts.front(),
                  OverwriteQuestion("FOLDER/" + TileName(MapLayer::Map, 24, 30)));
        EXPECT_EQ(many.texts.size(), setup.answers.size() + 1);
        const bool kept = answer != MessageAnswer::Yes;
        EXPECT_EQ(many.files.at(TileName(MapLayer::Terrain, 21, 32)) == "old terrain", kept);
        EXPECT_EQ(many.files.at(TileName(MapLayer::Map, 25, 33)) == "old last", kept);
        // The tiles and the two images with their world and projection files.
        EXPECT_EQ(many.files.size(), 2u * 24u + 2u * 3u);
    }
}

// An error that ends the run (no connection at all, or one reset before any
// answer) keeps the tiles before it in list order and no later one, each of
// them whole, whatever the number of connections: the tiles other
// connections fetched ahead of it are never put under their names.
TEST_F(ParallelDownloads, AnErrorThatEndsTheRunKeepsTheSameWholeTilesOverAnyConnections) {
    struct Case {
        const char* name;
        DemoServerOptions faults;
        std::string brokenTemplate;
        const char* failedTarget;
        std::size_t kept; // tiles before the failing one, in list order
    };
    const std::vector<Case> cases = {
        {"the satellite host is unreachable",
         {},
         "http://127.0.0.1:" + std::to_string(test::ClosedLoopbackPort()) +
             "/kh/v=50&x=[X]&y=[Y]&z=[Z]&s=[SERVER]",
         "/kh/v=50&x=20&y=30&z=6&s=G",
         1},
        {"a connection reset at tile (23, 31)", DemoServerOptions().ResetTile(kZoom, 23, 31), "",
         "x=23&y=31&z=6&s=G", 2 * 6 + 2 * 3},
    };
    // libcurl adds how long the connect took.
    const auto withoutTiming = [](const std::string& text) {
        return text.substr(0, text.find(" after "));
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunSetup setup;
        setup.brokenTemplate = c.brokenTemplate;
        const RunResult one = Run(1, c.faults, setup);
        EXPECT_EQ(one.outcome.status, CreateMapStatus::Ended);
        EXPECT_TRUE(one.texts.empty()) << "no summary, no stitch, no delete question";
        EXPECT_NE(one.outcome.endingError.find(c.failedTarget), std::string::npos)
            << one.outcome.endingError;
        EXPECT_EQ(one.files.size(), c.kept);
        for (int connections : {4, 16}) {
            SCOPED_TRACE(connections);
            const RunResult many = Run(connections, c.faults, setup);
            EXPECT_EQ(many.outcome.status, CreateMapStatus::Ended);
            EXPECT_TRUE(many.texts.empty());
            EXPECT_EQ(withoutTiming(many.outcome.endingError),
                      withoutTiming(one.outcome.endingError));
            EXPECT_EQ(many.files, one.files);
        }
    }
    // The tiles kept are whole: those the server sends.
    DemoServer server;
    CurlHttpClient http;
    RunSetup setup;
    const RunResult reset = Run(4, cases[1].faults, setup);
    ASSERT_FALSE(reset.files.empty());
    for (const auto& [name, content] : reset.files) {
        const bool map = name.rfind("Map_", 0) == 0;
        const int col = std::atoi(name.c_str() + name.find("x=") + 2);
        const int row = std::atoi(name.c_str() + name.find("y=") + 2);
        struct : HttpBodySink {
            void WriteBlock(std::span<const std::byte> block) override {
                body.append(reinterpret_cast<const char*>(block.data()), block.size());
            }
            std::string body;
        } direct;
        http.Get(ExpandSourceUrl(server.Template(map ? MapLayer::Map : MapLayer::Satellite), "0",
                                 col, row, kZoom, "", 1),
                 TileRequestHeaders(), direct);
        EXPECT_TRUE(content == direct.body) << name;
    }
}

TEST_F(ParallelDownloads, AStalledServerEndsTheRunAfterTheFetchesUnderWayWithNoPartialFile) {
    RunSetup setup;
    setup.layers = {MapLayer::Map};
    setup.remembered = "0";
    const RunResult many = Run(4, DemoServerOptions().Stall(), setup);

    EXPECT_EQ(many.outcome.status, CreateMapStatus::Ended);
    EXPECT_TRUE(many.files.empty());
    // The four tiles under way, and no new one once the first had failed.
    std::size_t requests = 0;
    for (const auto& [tile, sent] : many.requests) {
        requests += sent.size();
    }
    EXPECT_EQ(requests, 4u);
    EXPECT_EQ(many.outcome.endingError,
              Run(1, DemoServerOptions().Stall(), setup).outcome.endingError);
}

TEST_F(ParallelDownloads, RetryAfterHoldsBackTheConnectionThatWasToldToWait) {
    for (int status : {429, 503}) {
        SCOPED_TRACE(status);
        // Each busy tile waits and is then asked for again, with the same
        // server number and word, and comes.
        const DemoServerOptions faults = DemoServerOptions()
                                             .BusyTile(kZoom, 20, 30)
                                             .BusyTile(kZoom, 23, 31)
                                             .Busy(status, 1)
                                             .LogArrivals();
        RunSetup setup;
        setup.layers = {MapLayer::Map};
        const RunResult one = Run(1, faults, setup);
        const RunResult many = Run(3, faults, setup);
        ExpectSameRun(one, many);
        EXPECT_FALSE(one.outcome.tilesFailed);
        EXPECT_EQ(one.requests.at({"/vt/v=w2.97", "20", "30"}),
                  (std::vector<std::string>{"0/G", "0/G"}));
        EXPECT_EQ(one.requests.at({"/vt/v=w2.97", "23", "31"}),
                  (std::vector<std::string>{"0/G", "0/G"}));

        // Each busy answer (the first request of a busy tile) holds back the
        // next request on its connection by at least the second asked for.
        const std::vector<test::LoggedRequest>& log = many.log;
        int busyAnswers = 0;
        int heldBack = 0;
        std::set<std::string> seen;
        for (std::size_t i = 0; i < log.size(); ++i) {
            const bool busyTile = (log[i].Param("x") == "20" && log[i].Param("y") == "30") ||
                                  (log[i].Param("x") == "23" && log[i].Param("y") == "31");
            if (!busyTile || !seen.insert(log[i].Param("x")).second) {
                continue;
            }
            ++busyAnswers;
            for (std::size_t j = i + 1; j < log.size(); ++j) {
                if (log[j].connection == log[i].connection) {
                    EXPECT_GE(log[j].arrivalMs - log[i].arrivalMs, 1000)
                        << log[i].Target() << " then " << log[j].Target();
                    ++heldBack;
                    break;
                }
            }
        }
        EXPECT_EQ(busyAnswers, 2);
        EXPECT_EQ(heldBack, 2) << "each busy connection asked again later";
    }
}

TEST_F(ParallelDownloads, AStopDoesNotSitOutARetryAfterWait) {
    // Tile (22, 30) is answered busy with a wait of a minute, which holds
    // back the next request of its connection; the run is asked to stop as
    // soon as that answer has gone out.
    const DemoServerOptions faults = DemoServerOptions().BusyTile(kZoom, 22, 30).Busy(503, 60);
    RunSetup setup;
    setup.layers = {MapLayer::Map};
    setup.whileRunning = [](const DemoServer& server, CancelFlag& cancel) {
        for (int i = 0; i < 1000 && !cancel.Requested(); ++i) {
            for (const test::LoggedRequest& request : server.Requests()) {
                if (request.Param("x") == "22" && request.Param("y") == "30") {
                    cancel.Request();
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    for (int connections : {1, 3}) {
        SCOPED_TRACE(connections);
        const auto start = std::chrono::steady_clock::now();
        const RunResult run = Run(connections, faults, setup);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(run.outcome.status, CreateMapStatus::Stopped);
        EXPECT_LT(took, std::chrono::seconds(30)) << "the run sat out the server's wait";
        // Every request but the busy one, and those under way when the stop
        // came (abandoned, leaving nothing), brought a kept tile: the request
        // that waited was never sent.
        EXPECT_GE(run.log.size(), run.outcome.tilesFetched + 1);
        EXPECT_LE(run.log.size(), run.outcome.tilesFetched + static_cast<std::size_t>(connections));
        EXPECT_EQ(run.files.count(TileName(MapLayer::Map, 22, 30)), 0u);
        ASSERT_FALSE(run.texts.empty());
        EXPECT_EQ(run.texts.back(), StoppedRunText(run.outcome.tilesFetched, tiles_.size()));
        EXPECT_EQ(run.files.size(), run.outcome.tilesFetched) << "every fetched tile is kept";
    }
}

TEST(DownloadConnections, TheSettingsValueGivesOneToSixteenConnections) {
    MemorySettingsStore settings;
    EXPECT_EQ(DownloadConnectionsSetting(settings), 4);
    for (const auto& [stored, used] : {std::pair{1, 1}, {8, 8}, {0, 1}, {-3, 1}, {99, 16}}) {
        settings.SetInt(kDownloadConnectionsSetting, stored);
        EXPECT_EQ(DownloadConnectionsSetting(settings), used) << stored;
    }
}

} // namespace
} // namespace quiltara
