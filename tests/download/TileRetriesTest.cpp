// Tile requests with retries over server numbers and words, as the offline
// map service sees them.
#include <gtest/gtest.h>

#include <fstream>

#include "DemoServer.h"
#include "TestPaths.h"
#include "download/TileDownloader.h"
#include "platform/CurlHttpClient.h"
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

} // namespace
} // namespace quiltara
