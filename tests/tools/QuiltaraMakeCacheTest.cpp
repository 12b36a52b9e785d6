// quiltara-make's runs sharing a tile cache, against the offline map service:
// what a second run asks of the server, what it leaves in the output folder
// and in the cache, two runs at once, and the cache's cap.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "MadeTime.h"
#include "QuiltaraMakeFixture.h"
#include "download/TileCache.h"
#include "tiles/TileSources.h"

namespace quiltara::make {
namespace {

// A made image's bytes, but for the moment it was made: two runs of one map
// differ only there.
std::string ImageBytes(const std::filesystem::path& path) {
    return test::WithoutCreationTime(test::ReadFile(path));
}

namespace fs = std::filesystem;
using test::DemoServer;
using test::DemoServerOptions;
using ::testing::HasSubstr;

constexpr int kTiles = 6; // --tiles=10,20,12,21

class CachedMake : public QuiltaraMake {
protected:
    // A run of the road map layer into folder, with the test's own cache.
    Finished MakeInto(const DemoServer& server, const fs::path& folder,
                      std::vector<std::string> extra = {}) {
        fs::create_directories(folder);
        std::vector<std::string> args = AreaAndTemplates(server);
        args.insert(args.end(), {"--layers=map", "--jobs=3", "--cache-dir=" + cache_.string(),
                                 "--output", (folder / "city.png").string()});
        args.insert(args.end(), extra.begin(), extra.end());
        return Make(args);
    }
    static std::vector<test::LoggedRequest> TileRequests(const DemoServer& server) {
        std::vector<test::LoggedRequest> tiles;
        for (const test::LoggedRequest& request : server.Requests()) {
            if (request.Target().starts_with("/vt")) {
                tiles.push_back(request);
            }
        }
        return tiles;
    }
    TileCache Cache() const { return TileCache(cache_, kDefaultTileCacheBytes); }

    fs::path cache_ = dir_ / "tile-cache";
};

TEST_F(CachedMake, FreshTilesComeFromTheCacheWithoutARequestAndMakeTheSameImage) {
    DemoServer server; // tiles without freshness: kept a week
    const Finished first = MakeInto(server, dir_ / "one");
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(TileRequests(server).size(), static_cast<size_t>(kTiles));
    EXPECT_EQ(Cache().Measure().entries, static_cast<size_t>(kTiles));
    // The output tile and the cache's body are one file.
    struct stat facts {};
    ASSERT_EQ(::stat((dir_ / "one" / ("Map_" + TileFileName(10, 20, 5))).c_str(), &facts), 0);
    EXPECT_EQ(facts.st_nlink, 2u);

    server.ClearRequests();
    const Finished second = MakeInto(server, dir_ / "two", {"--dry-run"});
    EXPECT_THAT(second.out, HasSubstr("(6 from the tile cache)"));
    const Finished third = MakeInto(server, dir_ / "two");
    ASSERT_EQ(third.status, 0) << third.err;
    EXPECT_EQ(TileRequests(server).size(), 0u);
    EXPECT_THAT(third.out, HasSubstr("6 tile files came from the tile cache"));
    EXPECT_EQ(ImageBytes(dir_ / "two" / "Map_city.png"),
              ImageBytes(dir_ / "one" / "Map_city.png"));
    EXPECT_TRUE(fs::exists(dir_ / "two" / ("Map_" + TileFileName(12, 21, 5))));
}

TEST_F(CachedMake, StaleTilesAreOnlyRevalidatedAndAnsweredNotModified) {
    DemoServer server(DemoServerOptions().MaxAge(0));
    ASSERT_EQ(MakeInto(server, dir_ / "one").status, 0);
    server.ClearRequests();

    const Finished second = MakeInto(server, dir_ / "two");
    ASSERT_EQ(second.status, 0) << second.err;
    const std::vector<test::LoggedRequest> asked = TileRequests(server);
    ASSERT_EQ(asked.size(), static_cast<size_t>(kTiles));
    for (const test::LoggedRequest& request : asked) {
        EXPECT_THAT(request.Header("If-None-Match"), HasSubstr("\"")) << request.Target();
        EXPECT_FALSE(request.Header("If-Modified-Since").empty()) << request.Target();
    }
    EXPECT_THAT(second.out, HasSubstr("6 tile files came from the tile cache"));
    EXPECT_EQ(ImageBytes(dir_ / "two" / "Map_city.png"),
              ImageBytes(dir_ / "one" / "Map_city.png"));
}

TEST_F(CachedMake, NoStoreKeepsNothingAndNoCacheAsksForEveryTile) {
    DemoServer server(DemoServerOptions().NoStore());
    ASSERT_EQ(MakeInto(server, dir_ / "one").status, 0);
    EXPECT_EQ(Cache().Measure().entries, 0u);

    DemoServer keeps;
    ASSERT_EQ(MakeInto(keeps, dir_ / "two").status, 0);
    keeps.ClearRequests();
    std::vector<std::string> args = AreaAndTemplates(keeps);
    args.insert(args.end(),
                {"--layers=map", "--no-cache", "--output", (dir_ / "three" / "city.png").string()});
    fs::create_directories(dir_ / "three");
    ASSERT_EQ(Make(args).status, 0);
    const std::vector<test::LoggedRequest> asked = TileRequests(keeps);
    ASSERT_EQ(asked.size(), static_cast<size_t>(kTiles));
    EXPECT_EQ(asked.front().Header("If-None-Match"), "");
}

TEST_F(CachedMake, DeletedAndReplacedOutputTilesLeaveTheCacheAsItWasAndOfflineUsesIt) {
    DemoServer server;
    ASSERT_EQ(MakeInto(server, dir_ / "one", {"--delete-tiles"}).status, 0);
    EXPECT_FALSE(fs::exists(dir_ / "one" / ("Map_" + TileFileName(10, 20, 5))));
    EXPECT_EQ(Cache().Measure().entries, static_cast<size_t>(kTiles));

    // A run without the cache replaces the output tile by a new file rather
    // than writing into the cache's.
    ASSERT_EQ(MakeInto(server, dir_ / "two").status, 0);
    const fs::path body =
        Cache().Find(ExpandSourceUrl(server.Template(MapLayer::Map), "0", 10, 20, 5, "", 1))->body;
    const std::string cached = test::ReadFile(body);
    std::vector<std::string> args = AreaAndTemplates(server);
    args.insert(args.end(), {"--layers=map", "--no-cache", "--existing=overwrite", "--output",
                             (dir_ / "two" / "city.png").string()});
    ASSERT_EQ(Make(args).status, 0);
    struct stat facts {};
    ASSERT_EQ(::stat(body.c_str(), &facts), 0);
    EXPECT_EQ(facts.st_nlink, 1u);
    EXPECT_EQ(test::ReadFile(body), cached);

    server.ClearRequests();
    const Finished offline = MakeInto(server, dir_ / "three", {"--offline"});
    EXPECT_EQ(offline.status, 0) << offline.err;
    EXPECT_EQ(server.Requests().size(), 0u);
    EXPECT_EQ(ImageBytes(dir_ / "three" / "Map_city.png"),
              ImageBytes(dir_ / "one" / "Map_city.png"));
}

TEST_F(CachedMake, ADamagedEntryIsDroppedAndFetchedAgain) {
    DemoServer server;
    ASSERT_EQ(MakeInto(server, dir_ / "one", {"--delete-tiles"}).status, 0);
    const std::string address =
        ExpandSourceUrl(server.Template(MapLayer::Map), "0", 11, 21, 5, "", 1);
    std::ofstream(Cache().Find(address)->body, std::ios::binary) << "<html>not a tile</html>";
    server.ClearRequests();

    const Finished second = MakeInto(server, dir_ / "two");
    ASSERT_EQ(second.status, 0) << second.err;
    const std::vector<test::LoggedRequest> asked = TileRequests(server);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_THAT(asked.front().Target(), HasSubstr("x=11&y=21"));
    EXPECT_EQ(asked.front().Header("If-None-Match"), "");
    EXPECT_EQ(ImageBytes(dir_ / "two" / "Map_city.png"),
              ImageBytes(dir_ / "one" / "Map_city.png"));
    EXPECT_EQ(Cache().Measure().entries, static_cast<size_t>(kTiles));
}

TEST_F(CachedMake, OfflineWithoutTheTilesSendsNothingAndFailsThem) {
    DemoServer server;
    const Finished run = MakeInto(server, dir_ / "one", {"--offline"});
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_EQ(server.Requests().size(), 0u);
    EXPECT_EQ(Make({"--offline", "--no-cache", "--tiles=1,1,1,1", "--zoom=3", "x.png"}).status, 2);
}

TEST_F(CachedMake, TwoRunsAtOnceShareOneCache) {
    DemoServer server(DemoServerOptions().DelayMs(15));
    const fs::path program = test::BinaryDir() / "tools" / "quiltara-make" / "quiltara-make";
    std::string command;
    for (const char* name : {"a", "b"}) {
        fs::create_directories(dir_ / name);
        std::string run = Quoted(program.string()) + " --tiles=10,20,17,23 --zoom=5 --layers=map" +
                          " --jobs=4 --keep-tiles --quiet --cache-dir=" + Quoted(cache_.string()) +
                          " --template-map=" + Quoted(server.Template(MapLayer::Map)) + " " +
                          Quoted((dir_ / name / "city.png").string());
        command += run + " >" + Quoted((dir_ / name / "out.txt").string()) + " 2>&1 & pid_" + name +
                   "=$!; ";
    }
    command += "wait $pid_a && wait $pid_b";
    ASSERT_EQ(std::system(("bash -c " + Quoted(command)).c_str()), 0)
        << ImageBytes(dir_ / "a" / "out.txt") << ImageBytes(dir_ / "b" / "out.txt");
    EXPECT_EQ(ImageBytes(dir_ / "a" / "Map_city.png"),
              ImageBytes(dir_ / "b" / "Map_city.png"));
    EXPECT_FALSE(ImageBytes(dir_ / "a" / "Map_city.png").empty());
    EXPECT_EQ(Cache().Measure().entries, 32u);

    // Whatever the two stored over each other, every entry is whole.
    server.ClearRequests();
    std::vector<std::string> args = {"--tiles=10,20,17,23",
                                     "--zoom=5",
                                     "--layers=map",
                                     "--offline",
                                     "--cache-dir=" + cache_.string(),
                                     "--template-map=" + server.Template(MapLayer::Map),
                                     (dir_ / "c.png").string()};
    EXPECT_EQ(Make(args).status, 0);
    EXPECT_EQ(server.Requests().size(), 0u);
    EXPECT_EQ(ImageBytes(dir_ / "Map_c.png"), ImageBytes(dir_ / "a" / "Map_city.png"));
}

TEST_F(CachedMake, TheCapIsKeptAtTheEndOfTheRun) {
    DemoServer server;
    ASSERT_EQ(MakeInto(server, dir_ / "one").status, 0);
    const std::uint64_t all = Cache().Measure().bytes;
    const std::uint64_t cap = all / 2 / 1024; // in K
    ASSERT_GT(cap, 0u);

    ASSERT_EQ(MakeInto(server, dir_ / "two", {"--cache-size=" + std::to_string(cap) + "K"}).status,
              0);
    const TileCache::Usage left = Cache().Measure();
    EXPECT_LE(left.bytes, cap * 1024);
    EXPECT_GT(left.entries, 0u);
    EXPECT_LT(left.entries, static_cast<size_t>(kTiles));
}

} // namespace
} // namespace quiltara::make
