// The tile downloader against the offline map service over real HTTP.
#include "download/TileDownloader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <set>
#include <thread>

#include "DemoServer.h"
#include "TestPaths.h"
#include "platform/CurlHttpClient.h"
#include "platform/ScriptedPrompts.h"

namespace quiltara {
namespace {

using test::DemoServer;
using test::DemoServerOptions;
using test::LoggedRequest;
using ::testing::HasSubstr;
using ::testing::Not;

using test::ReadFile;

void WriteFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

using test::QuickTimeouts;

// Everything a run of downloads needs, with the real HTTP client and the
// real image check; the prompts answer from a queue.
struct Downloads {
    explicit Downloads(const DemoServer& demo) : server(demo) {}

    std::string Url(MapLayer layer, int column, int row, int zoom, const char* number = "0",
                    int wordLength = 1) const {
        return ExpandSourceUrl(server.Template(layer), number, column, row, zoom, "", wordLength);
    }
    std::filesystem::path Tile(MapLayer layer, int column, int row, int zoom) const {
        return folder / (LayerPrefix(layer) + TileFileName(column, row, zoom));
    }
    bool Fetch(MapLayer layer, int column, int row, int zoom) {
        return downloader.FetchUrlToFile(Tile(layer, column, row, zoom),
                                         Url(layer, column, row, zoom));
    }

    const DemoServer& server;
    test::TempDir folder;
    CurlHttpClient http{QuickTimeouts()};
    ScriptedPrompts prompts;
    RasterImageCheck check;
    OverwriteChoice choice;
    OverwriteRunState run;
    TileDownloader downloader{http, prompts, check, choice, run};
};

TEST(TileDownloader, StoresAGoodTileAndSendsTheTwoHeaderLinesInOrder) {
    DemoServer server;
    Downloads downloads(server);
    ASSERT_TRUE(downloads.Fetch(MapLayer::Map, 5, 7, 3));
    const std::string stored = ReadFile(downloads.Tile(MapLayer::Map, 5, 7, 3));
    EXPECT_EQ(stored.substr(1, 3), "PNG");

    const std::vector<LoggedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "GET /vt/v=w2.97&hl=en&x=5&y=7&z=3&s=G HTTP/1.1");
    std::vector<std::string> named;
    for (const std::string& line : requests[0].headerLines) {
        if (line.rfind("Accept", 0) == 0 || line.rfind("User-Agent", 0) == 0) {
            named.push_back(line);
        }
    }
    EXPECT_EQ(named, TileRequestHeaders());
    EXPECT_EQ(TileRequestHeaders(),
              (std::vector<std::string>{"Accept: image/gif, image/jpeg, image/png",
                                        "User-Agent: HTML Get Sample"}));
    EXPECT_TRUE(downloads.prompts.Messages().empty());
}

TEST(TileDownloader, WritesBodiesAroundTheBlockSizeWhole) {
    DemoServer server;
    Downloads downloads(server);
    for (const size_t size :
         {size_t{32767}, size_t{32768}, size_t{32769}, size_t{65536}, size_t{100001}}) {
        const std::filesystem::path tile = downloads.folder / ("padded" + std::to_string(size));
        ASSERT_TRUE(downloads.downloader.FetchUrlToFile(tile, server.PaddedPngUrl(size)));
        EXPECT_EQ(std::filesystem::file_size(tile), size);
    }
}

TEST(TileDownloader, KeepsSatelliteJpegDataUnderItsPngName) {
    DemoServer server;
    Downloads downloads(server);
    ASSERT_TRUE(downloads.Fetch(MapLayer::Satellite, 2, 1, 2));
    const std::string stored = ReadFile(downloads.Tile(MapLayer::Satellite, 2, 1, 2));
    EXPECT_EQ(stored.substr(0, 2), "\xFF\xD8");
    EXPECT_TRUE(downloads.Fetch(MapLayer::Terrain, 2, 1, 2));
    EXPECT_TRUE(downloads.Fetch(MapLayer::Hybrid, 2, 1, 2));
}

TEST(TileDownloader, BadAnswersAreDeletedAndReportedAsFalse) {
    DemoServer notFound(DemoServerOptions().MissingTile(3, 1, 1).ErrorServer(1));
    DemoServer truncated(DemoServerOptions().Truncate());
    DemoServer cut(DemoServerOptions().CutConnection());
    Downloads missing(notFound);
    Downloads errorPage(notFound);
    Downloads half(truncated);
    Downloads closedEarly(cut);
    EXPECT_FALSE(missing.Fetch(MapLayer::Map, 1, 1, 3));
    EXPECT_FALSE(errorPage.downloader.FetchUrlToFile(errorPage.Tile(MapLayer::Map, 1, 2, 3),
                                                     errorPage.Url(MapLayer::Map, 1, 2, 3, "1")));
    EXPECT_FALSE(half.Fetch(MapLayer::Map, 1, 1, 3));
    EXPECT_FALSE(closedEarly.Fetch(MapLayer::Terrain, 1, 1, 3));
    // JPEG data decodes as far as it goes: only the cut itself tells.
    EXPECT_FALSE(closedEarly.Fetch(MapLayer::Satellite, 1, 1, 3));
    for (const Downloads* each : {&missing, &errorPage, &half, &closedEarly}) {
        EXPECT_TRUE(std::filesystem::is_empty(each->folder.Path()))
            << "a failed attempt left a file in " << each->folder.Path();
    }
    // The not-found page was really received (and then deleted).
    EXPECT_THAT(notFound.Requests().front().Target(), HasSubstr("x=1&y=1&z=3"));
}

TEST(TileDownloader, AnswerYesOverwritesThisAndEveryLaterExistingTileOfTheRun) {
    DemoServer server;
    Downloads downloads(server);
    for (int x = 0; x < 3; ++x) {
        WriteFile(downloads.Tile(MapLayer::Map, x, 0, 2), "old");
    }
    downloads.prompts.QueueAnswer(MessageAnswer::Yes);
    for (int x = 0; x < 3; ++x) {
        EXPECT_TRUE(downloads.Fetch(MapLayer::Map, x, 0, 2));
        EXPECT_NE(ReadFile(downloads.Tile(MapLayer::Map, x, 0, 2)), "old");
    }
    ASSERT_EQ(downloads.prompts.Messages().size(), 1u);
    EXPECT_EQ(downloads.prompts.Messages()[0].text,
              "The file '" + downloads.Tile(MapLayer::Map, 0, 0, 2).string() +
                  "' already exists in the output folder.  Do you want to overwrite this file?  "
                  "Selecting No will use your existing files and will not overwrite any "
                  "subsequent existing files.  Selecting Cancel will use your existing file but "
                  "will ask if subsequent files exist");
    EXPECT_EQ(downloads.prompts.Messages()[0].buttons, MessageButtons::YesNoCancel);
    EXPECT_EQ(server.Requests().size(), 3u);
}

TEST(TileDownloader, AnswerNoKeepsEveryExistingTileUncheckedAndFetchesTheRest) {
    DemoServer server;
    Downloads downloads(server);
    WriteFile(downloads.Tile(MapLayer::Map, 0, 0, 2), "old");
    WriteFile(downloads.Tile(MapLayer::Map, 2, 0, 2), "broken but kept");
    downloads.prompts.QueueAnswer(MessageAnswer::No);
    EXPECT_TRUE(downloads.Fetch(MapLayer::Map, 0, 0, 2));
    EXPECT_TRUE(downloads.Fetch(MapLayer::Map, 1, 0, 2));
    EXPECT_TRUE(downloads.Fetch(MapLayer::Map, 2, 0, 2));
    EXPECT_EQ(ReadFile(downloads.Tile(MapLayer::Map, 0, 0, 2)), "old");
    EXPECT_EQ(ReadFile(downloads.Tile(MapLayer::Map, 2, 0, 2)), "broken but kept");
    EXPECT_EQ(downloads.prompts.Messages().size(), 1u);
    const std::vector<LoggedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Param("x"), "1");
}

TEST(TileDownloader, AnswerCancelKeepsThisTileAndAsksAgainAtTheNext) {
    DemoServer server;
    Downloads downloads(server);
    WriteFile(downloads.Tile(MapLayer::Map, 0, 0, 2), "old");
    WriteFile(downloads.Tile(MapLayer::Map, 1, 0, 2), "old");
    downloads.prompts.QueueAnswer(MessageAnswer::Cancel);
    downloads.prompts.QueueAnswer(MessageAnswer::Yes);
    EXPECT_TRUE(downloads.Fetch(MapLayer::Map, 0, 0, 2));
    EXPECT_EQ(ReadFile(downloads.Tile(MapLayer::Map, 0, 0, 2)), "old");
    EXPECT_TRUE(downloads.Fetch(MapLayer::Map, 1, 0, 2));
    EXPECT_NE(ReadFile(downloads.Tile(MapLayer::Map, 1, 0, 2)), "old");
    ASSERT_EQ(downloads.prompts.Messages().size(), 2u);
    EXPECT_THAT(downloads.prompts.Messages()[1].text, HasSubstr("x=1y=0zoom=2.png"));
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(TileDownloader, ANewRunAsksAgainWhateverThePreviousRunAnswered) {
    DemoServer server;
    Downloads downloads(server);
    WriteFile(downloads.Tile(MapLayer::Map, 0, 0, 2), "old");
    WriteFile(downloads.Tile(MapLayer::Map, 1, 0, 2), "old");
    downloads.prompts.QueueAnswer(MessageAnswer::No);
    EXPECT_TRUE(downloads.Fetch(MapLayer::Map, 0, 0, 2));
    EXPECT_TRUE(downloads.Fetch(MapLayer::Map, 1, 0, 2));
    EXPECT_EQ(downloads.prompts.Messages().size(), 1u);

    downloads.run.StartRun();
    downloads.prompts.QueueAnswer(MessageAnswer::Yes);
    EXPECT_TRUE(downloads.Fetch(MapLayer::Map, 1, 0, 2));
    EXPECT_EQ(downloads.prompts.Messages().size(), 2u);
    EXPECT_NE(ReadFile(downloads.Tile(MapLayer::Map, 1, 0, 2)), "old");
}

TEST(TileDownloader, AClosedPortEndsTheRunWithTheUrlAndTheReason) {
    DemoServer server;
    Downloads downloads(server);
    const std::string url =
        "http://mt0.google.localhost:" + std::to_string(test::ClosedLoopbackPort()) +
        "/vt/v=w2.97&hl=en&x=0&y=0&z=0&s=G";
    const std::filesystem::path tile = downloads.Tile(MapLayer::Map, 0, 0, 0);
    try {
        downloads.downloader.FetchUrlToFile(tile, url);
        FAIL() << "a closed port must end the run";
    } catch (const TileDownloadError& error) {
        EXPECT_EQ(error.GetCause(), TileDownloadError::Cause::Connection);
        EXPECT_EQ(error.Subject(), url);
        EXPECT_FALSE(error.Reason().empty());
        EXPECT_THAT(error.what(), HasSubstr(url));
        EXPECT_THAT(error.what(), HasSubstr(error.Reason()));
    }
    EXPECT_FALSE(std::filesystem::exists(tile));
}

TEST(TileDownloader, AServerThatClosesUnansweredEndsTheRun) {
    DemoServer server(DemoServerOptions().RefuseServer(0));
    Downloads downloads(server);
    EXPECT_THROW(downloads.Fetch(MapLayer::Map, 0, 0, 0), TileDownloadError);
    EXPECT_TRUE(std::filesystem::is_empty(downloads.folder.Path()));
}

TEST(TileDownloader, AStalledServerEndsTheRunWithinTheTimeoutAndLeavesNoFile) {
    DemoServer server(DemoServerOptions().Stall());
    Downloads downloads(server);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(downloads.Fetch(MapLayer::Map, 0, 0, 0), TileDownloadError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_TRUE(std::filesystem::is_empty(downloads.folder.Path()))
        << "the half-written tile must be deleted";
}

TEST(TileDownloader, AnExistingTileIsReplacedOnlyByACompleteCheckedOne) {
    DemoServer server(DemoServerOptions().CutConnection());
    Downloads downloads(server);
    const std::filesystem::path tile = downloads.Tile(MapLayer::Map, 0, 0, 1);
    WriteFile(tile, "a tile from an earlier run");
    downloads.prompts.QueueAnswer(MessageAnswer::Yes);
    EXPECT_FALSE(downloads.Fetch(MapLayer::Map, 0, 0, 1));
    EXPECT_EQ(ReadFile(tile), "a tile from an earlier run");
    EXPECT_EQ(test::FilesBelow(downloads.folder.Path()), std::set<std::string>{tile.filename()})
        << "no temporary file may stay behind";
}

TEST(TileDownloader, ATileIsNeverUnderItsNameWhileItsBodyArrives) {
    DemoServer server(DemoServerOptions().Stall());
    Downloads downloads(server);
    const std::filesystem::path tile = downloads.Tile(MapLayer::Map, 0, 0, 0);
    std::thread fetch(
        [&] { EXPECT_THROW(downloads.Fetch(MapLayer::Map, 0, 0, 0), TileDownloadError); });
    // Half the body has come and the server stalls: what a killed run would
    // leave. The body is in a temporary file, nameless where the file system
    // allows it, else under a .part name.
    for (int i = 0; i < 150 && server.Requests().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::set<std::string> during = test::FilesBelow(downloads.folder.Path());
    const bool tileVisible = std::filesystem::exists(tile);
    fetch.join();
    EXPECT_FALSE(tileVisible);
    EXPECT_LE(during.size(), 1u);
    for (const std::string& name : during) {
        EXPECT_THAT(name, ::testing::EndsWith(".part"));
    }
    EXPECT_TRUE(std::filesystem::is_empty(downloads.folder.Path()));
}

TEST(TileDownloader, ABodyLargerThanAnyTileFailsTheTile) {
    DemoServer server;
    Downloads downloads(server);
    const std::filesystem::path tile = downloads.Tile(MapLayer::Map, 0, 0, 0);
    // A valid PNG, one byte over the limit.
    EXPECT_FALSE(
        downloads.downloader.FetchUrlToFile(tile, server.PaddedPngUrl(kMaxTileBodyBytes + 1)));
    EXPECT_TRUE(std::filesystem::is_empty(downloads.folder.Path()));
    // The run goes on with the next tile.
    EXPECT_TRUE(downloads.Fetch(MapLayer::Map, 0, 0, 0));
}

// A catalogue source's header lines (its key) go to its own host only: a
// server that sends the client on to another host does not get them passed
// on, while a redirect within the host keeps them.
TEST(TileDownloader, HeaderLinesDoNotFollowARedirectToAnotherHost) {
    DemoServer other;
    const std::string otherOrigin = "http://elsewhere.localhost:" + std::to_string(other.Port());
    DemoServer away(DemoServerOptions().RedirectTo(otherOrigin));
    DemoServer within(DemoServerOptions().RedirectTo("/"));
    const std::string key = "X-Api-Key: secret-1234";
    TileRequestStyle style{true, {}, {"User-Agent: Quiltara/test", key}, "Keyed", 0.0, {}};
    for (const DemoServer* first : {&away, &within}) {
        SCOPED_TRACE(first == &away ? "to another host" : "within the host");
        Downloads downloads(*first);
        downloads.downloader.SetRequestStyle(style);
        const std::string url =
            "http://tiles.localhost:" + std::to_string(first->Port()) + "/tiles/map/3/1/2.png";
        ASSERT_TRUE(downloads.downloader.FetchUrlToFile(downloads.folder / "t.png", url));
        EXPECT_EQ(ReadFile(downloads.folder / "t.png").substr(1, 3), "PNG");
        const std::vector<LoggedRequest> asked = first->Requests();
        ASSERT_FALSE(asked.empty());
        EXPECT_EQ(asked.front().Header("X-Api-Key"), "secret-1234");
    }
    const std::vector<LoggedRequest> arrived = other.Requests();
    ASSERT_EQ(arrived.size(), 1u);
    EXPECT_EQ(arrived[0].Target(), "/tiles/map/3/1/2.png?hop=1");
    EXPECT_EQ(arrived[0].Header("Host"), "elsewhere.localhost:" + std::to_string(other.Port()));
    for (const std::string& line : arrived[0].headerLines) {
        EXPECT_THAT(line, Not(HasSubstr("secret"))) << line;
    }
    const std::vector<LoggedRequest> inside = within.Requests();
    ASSERT_EQ(inside.size(), 2u);
    EXPECT_EQ(inside[1].Header("X-Api-Key"), "secret-1234");
}

// A catalogue source's error page may be a picture: only a success status
// gives its tile. The map service's answers are judged by the image check
// alone, whatever their status.
TEST(TileDownloader, ACatalogueTileNeedsASuccessStatus) {
    for (const int status : {404, 500}) {
        DemoServer server(DemoServerOptions().TileStatus(status));
        Downloads catalogue(server);
        catalogue.downloader.SetRequestStyle(
            TileRequestStyle{true, {}, {}, "Pictured errors", 0.0, {}});
        EXPECT_FALSE(catalogue.Fetch(MapLayer::Map, 1, 1, 3)) << status;
        EXPECT_TRUE(std::filesystem::is_empty(catalogue.folder.Path()));
        Downloads mapService(server);
        EXPECT_TRUE(mapService.Fetch(MapLayer::Map, 1, 1, 3)) << status;
    }
}

TEST(TileDownloader, AMissingFolderEndsTheRunNamingThePath) {
    DemoServer server;
    Downloads downloads(server);
    const std::filesystem::path tile = downloads.folder / "no such folder" / "Map_x=0y=0zoom=0.png";
    try {
        downloads.downloader.FetchUrlToFile(tile, downloads.Url(MapLayer::Map, 0, 0, 0));
        FAIL() << "a tile file that cannot be created must end the run";
    } catch (const TileDownloadError& error) {
        EXPECT_EQ(error.GetCause(), TileDownloadError::Cause::TileFile);
        EXPECT_EQ(error.Subject(), tile.string());
        EXPECT_THAT(error.what(), HasSubstr(tile.string()));
        EXPECT_THAT(error.Reason(), HasSubstr("No such file or directory"));
    }
}

} // namespace
} // namespace quiltara
