// Whole create-map runs against the offline map service over real HTTP.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <unordered_set>

#include "DemoServer.h"
#include "TestPaths.h"
#include "image/RasterImage.h"
#include "platform/CurlHttpClient.h"
#include "platform/ScriptedPrompts.h"
#include "run/CreateMapRun.h"
#include "stitch/MapStitcher.h"

namespace quiltara {
namespace {

namespace fs = std::filesystem;
using test::DemoServer;
using test::DemoServerOptions;

constexpr int kZoom = 5;
const TileRange kRange{10, 20, 12, 21}; // 3 x 2 tiles

using test::ReadFile;

class StringSink : public HttpBodySink {
public:
    void WriteBlock(std::span<const std::byte> block) override {
        body.append(reinterpret_cast<const char*>(block.data()), block.size());
    }
    std::string body;
};

std::uint32_t Rgb(RgbQuad c) {
    return (std::uint32_t{c.red} << 16) | (std::uint32_t{c.green} << 8) | c.blue;
}

// A tile's pixel as the map image shows it: its colour mixed with black by
// its opacity (a hybrid tile's transparent pixels stay black).
RgbQuad OverBlack(const RasterImage& tile, int x, int y) {
    RgbQuad c = tile.PixelColorUnchecked(x, y, true);
    if (tile.HasAlpha()) {
        for (std::uint8_t* sample : {&c.blue, &c.green, &c.red}) {
            *sample = static_cast<std::uint8_t>((*sample * c.reserved + 127) / 255);
        }
    }
    return c;
}

// Answers every OK box and says No to every question, recording the texts;
// for runs whose number of OK boxes depends on the tiles.
class SayNoPrompts : public Prompts {
public:
    MessageAnswer ShowMessage(const std::string& text, MessageButtons buttons) override {
        texts.push_back(text);
        return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
    }
    std::optional<std::string> AskSavePath(const SaveDialogOptions& /*options*/) override {
        return path;
    }
    std::string path;
    std::vector<std::string> texts;
};

// One create-map run as the control panel makes it, with the real downloader.
class EndToEnd : public ::testing::Test {
protected:
    EndToEnd() {
        for (int row = kRange.yFirst; row <= kRange.yLast; ++row) {
            for (int col = kRange.xFirst; col <= kRange.xLast; ++col) {
                tiles_.push_back(CTileCell{col, row, 0, 0, 0, 0});
            }
        }
    }
    void TearDown() override { SetPixelBlockLimit(0); }

    MapSourcesValues Sources(const DemoServer& server, std::initializer_list<MapLayer> layers) {
        MapSourcesValues sources;
        for (MapLayer layer : kAllLayers) {
            sources[layer].sourceUrl = server.Template(layer);
        }
        for (MapLayer layer : layers) {
            sources[layer].download = true;
        }
        return sources;
    }

    CreateMapOutcome Run(const MapSourcesValues& sources, const std::string& name = "london.png",
                         Prompts* prompts = nullptr) {
        prompts_.QueueSavePath(Folder() + name);
        FixedMapSources provider(sources);
        NullProgressSink progress;
        InMemoryStitcher stitcher;
        CreateMapServices services{prompts != nullptr ? *prompts : prompts_, provider, progress,
                                   fetcher_, stitcher};
        return CreateMap(CreateMapInputs{tiles_, kRange, kZoom}, services);
    }

    std::string Folder() const { return dir_.Path().string() + "/"; }

    std::set<std::string> FilesInFolder() const { return test::FilesBelow(dir_.Path()); }

    std::string TilePath(MapLayer layer, int col, int row, const std::string& subfolder = "") {
        return LayerFolder(Folder(), subfolder) + LayerPrefix(layer) +
               TileFileName(col, row, kZoom);
    }

    // Every pixel of every tile file shows in the image at the tile's place.
    void ExpectTilesInImage(const std::string& imagePath, MapLayer layer,
                            const std::string& subfolder) {
        const RasterImage image(imagePath, kFormatPng);
        ASSERT_TRUE(image.HasPixels()) << imagePath;
        ASSERT_EQ(image.Width(), 768);
        ASSERT_EQ(image.Height(), 512);
        for (int col = kRange.xFirst; col <= kRange.xLast; ++col) {
            for (int row = kRange.yFirst; row <= kRange.yLast; ++row) {
                const RasterImage tile(TilePath(layer, col, row, subfolder), 0);
                ASSERT_TRUE(tile.HasPixels());
                ASSERT_EQ(tile.Width(), 256);
                const int left = (col - kRange.xFirst) * 256;
                const int top = (row - kRange.yFirst) * 256;
                int differing = 0;
                for (int y = 0; y < 256; ++y) {
                    for (int x = 0; x < 256; ++x) {
                        // Both images count rows from the bottom.
                        const RgbQuad want = OverBlack(tile, x, 255 - y);
                        const RgbQuad got = image.PixelColor(left + x, 511 - top - y);
                        differing += Rgb(want) != Rgb(got) ? 1 : 0;
                    }
                }
                EXPECT_EQ(differing, 0) << LayerPrefix(layer) << " tile " << col << "," << row;
            }
        }
    }

    test::TempDir dir_;
    ScriptedPrompts prompts_;
    std::vector<CTileCell> tiles_;
    CurlHttpClient http_{test::QuickTimeouts(5)};
    RasterImageCheck check_;
    OverwriteChoice choice_;
    OverwriteRunState runState_;
    RememberedServerNumber remembered_;
    std::string languageCode_;
    TileDownloader downloader_{http_, prompts_, check_, choice_, runState_};
    DownloadingTileFetcher fetcher_{downloader_, runState_, remembered_, languageCode_};
};

TEST_F(EndToEnd, EachLayersImageHoldsTheServersTilesPixelForPixel) {
    DemoServer server;
    MapSourcesValues sources =
        Sources(server, {MapLayer::Map, MapLayer::Satellite, MapLayer::Hybrid});
    sources[MapLayer::Satellite].subfolder = "sat";
    prompts_.QueueAnswer(MessageAnswer::No);

    const CreateMapOutcome outcome = Run(sources);

    ASSERT_EQ(outcome.status, CreateMapStatus::Finished);
    EXPECT_FALSE(outcome.tilesFailed);
    EXPECT_EQ(prompts_.Texts(), std::vector<std::string>{kDeleteTilesQuestion});
    EXPECT_TRUE(fs::is_directory(Folder() + "sat"));

    // The tile files are the server's own answers: the satellite ones are
    // JPEG data under .png names.
    for (MapLayer layer : {MapLayer::Map, MapLayer::Satellite, MapLayer::Hybrid}) {
        const std::string subfolder = sources[layer].subfolder;
        StringSink direct;
        http_.Get(ExpandSourceUrl(server.Template(layer), "0", 11, 21, kZoom, "", 1),
                  {"Accept: image/gif, image/jpeg, image/png"}, direct);
        EXPECT_EQ(ReadFile(TilePath(layer, 11, 21, subfolder)), direct.body);
    }
    EXPECT_EQ(ReadFile(TilePath(MapLayer::Satellite, 10, 20, "sat")).substr(0, 2), "\xFF\xD8");

    ExpectTilesInImage(Folder() + "Map_london.png", MapLayer::Map, "");
    ExpectTilesInImage(Folder() + "sat/Sat_london.png", MapLayer::Satellite, "sat");
    ExpectTilesInImage(Folder() + "Hyb_london.png", MapLayer::Hybrid, "");
    EXPECT_EQ(FilesInFolder().size(), 18u + 3u * 3u); // images with world and projection files
}

TEST_F(EndToEnd, AMissingTileLeavesABlackSquareAndTheFailedTilesMessage) {
    DemoServer server(DemoServerOptions().MissingTile(kZoom, 11, 21));
    prompts_.QueueAnswer(MessageAnswer::Ok);
    prompts_.QueueAnswer(MessageAnswer::No);

    const CreateMapOutcome outcome = Run(Sources(server, {MapLayer::Map}));

    EXPECT_TRUE(outcome.tilesFailed);
    const std::vector<std::string> texts = {kDownloadErrorsMessage, kDeleteTilesQuestion};
    EXPECT_EQ(prompts_.Texts(), texts);
    EXPECT_FALSE(fs::exists(TilePath(MapLayer::Map, 11, 21)));
    const RasterImage image(Folder() + "Map_london.png", kFormatPng);
    ASSERT_TRUE(image.HasPixels());
    int blackInSquare = 0;
    int blackElsewhere = 0;
    for (int y = 0; y < 512; ++y) {
        for (int x = 0; x < 768; ++x) {
            const bool black = Rgb(image.PixelColor(x, y)) == 0;
            const bool inSquare = x >= 256 && x < 512 && y < 256; // bottom middle
            (inSquare ? blackInSquare : blackElsewhere) += black ? 1 : 0;
        }
    }
    EXPECT_EQ(blackInSquare, 256 * 256);
    EXPECT_LT(blackElsewhere, 5 * 256 * 256 / 10); // the other tiles are drawn
}

TEST_F(EndToEnd, WithNoLayerEnabledNothingIsRequestedOrWritten) {
    DemoServer server;
    prompts_.QueueAnswer(MessageAnswer::Yes);
    const CreateMapOutcome outcome = Run(Sources(server, {}));
    EXPECT_EQ(outcome.status, CreateMapStatus::Finished);
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_EQ(prompts_.Texts(), std::vector<std::string>{kDeleteTilesQuestion});
    EXPECT_TRUE(FilesInFolder().empty());
}

TEST_F(EndToEnd, YesToTheDeleteQuestionRemovesExactlyTheRunsTiles) {
    DemoServer server;
    std::ofstream(Folder() + "Map_x=10y=20zoom=6.png") << "another zoom";
    std::ofstream(Folder() + "Ter_x=10y=20zoom=5.png") << "a layer not chosen";
    std::ofstream(Folder() + "readme.txt") << "mine";
    MapSourcesValues sources = Sources(server, {MapLayer::Map, MapLayer::Hybrid});
    sources[MapLayer::Hybrid].subfolder = "hyb";
    prompts_.QueueAnswer(MessageAnswer::Yes);

    const CreateMapOutcome outcome = Run(sources);

    EXPECT_TRUE(outcome.tilesDeleted);
    EXPECT_EQ(prompts_.Texts(), std::vector<std::string>{kDeleteTilesQuestion});
    // The delete question never takes the world and projection files.
    const std::set<std::string> left = {
        "Map_london.png",         "Map_london.pgw",         "Map_london.prj",
        "hyb/Hyb_london.png",     "hyb/Hyb_london.pgw",     "hyb/Hyb_london.prj",
        "Map_x=10y=20zoom=6.png", "Ter_x=10y=20zoom=5.png", "readme.txt"};
    EXPECT_EQ(FilesInFolder(), left);
}

TEST_F(EndToEnd, WithoutMemoryForRgbEachLayerWarnsOnceAboutTooManyColours) {
    DemoServer server;
    SayNoPrompts prompts; // No keeps the tiles, to count their colours
    prompts.path = Folder() + "london.png";
    // 768 x 512: the 24-bit block needs 1179688 bytes, the 8-bit one 394280.
    SetPixelBlockLimit(500000);
    const CreateMapOutcome outcome =
        Run(Sources(server, {MapLayer::Map, MapLayer::Satellite}), "london.png", &prompts);
    SetPixelBlockLimit(0);

    ASSERT_EQ(outcome.images.size(), 2u);
    std::vector<std::string> expected;
    for (const StitchedLayer& image : outcome.images) {
        EXPECT_TRUE(image.paletteMode);
        EXPECT_TRUE(image.saved);
        // Black is index 0 from the start; 255 more colours fit exactly.
        std::unordered_set<std::uint32_t> colours = {0};
        for (const CTileCell& cell : tiles_) {
            const RasterImage tile(TilePath(image.layer, cell.column, cell.row), 0);
            for (int y = 0; y < tile.Height(); ++y) {
                for (int x = 0; x < tile.Width(); ++x) {
                    colours.insert(Rgb(tile.PixelColorUnchecked(x, y)));
                }
            }
        }
        if (image.layer == MapLayer::Satellite) {
            ASSERT_GT(colours.size(), 256u) << "photo tiles should have many colours";
        }
        expected.push_back(kRgbModeFailedMessage);
        if (colours.size() > 256) {
            expected.push_back(
                "Too many colours in final output image, there may be some image quality loss");
        }
    }
    expected.push_back(kDeleteTilesQuestion);
    EXPECT_EQ(prompts.texts, expected);
    const RasterImage satellite(Folder() + "Sat_london.png", kFormatPng);
    ASSERT_TRUE(satellite.HasPixels());
    EXPECT_EQ(satellite.BitsPerPixel(), 8);
    EXPECT_EQ(satellite.Width(), 768);
}

TEST_F(EndToEnd, AnUnreachableServerEndsTheRunKeepingTheTilesSoFar) {
    DemoServer server;
    MapSourcesValues sources = Sources(server, {MapLayer::Map, MapLayer::Satellite});
    // Port 1 of the loopback: nothing listens there, the connection is refused.
    sources[MapLayer::Satellite].sourceUrl = "http://127.0.0.1:1/kh/x=[X]&y=[Y]&z=[Z]";

    const CreateMapOutcome outcome = Run(sources);

    EXPECT_EQ(outcome.status, CreateMapStatus::Ended);
    EXPECT_NE(outcome.endingError.find("127.0.0.1:1"), std::string::npos) << outcome.endingError;
    EXPECT_TRUE(prompts_.Messages().empty()); // no summary, no delete question
    EXPECT_EQ(FilesInFolder(), std::set<std::string>{"Map_x=10y=20zoom=5.png"});
}

TEST_F(EndToEnd, EachRunAsksAgainAboutExistingTiles) {
    DemoServer server;
    const MapSourcesValues sources = Sources(server, {MapLayer::Map});
    std::ofstream(TilePath(MapLayer::Map, 12, 20)) << "kept from before";
    prompts_.QueueAnswer(MessageAnswer::No); // keep existing files
    prompts_.QueueAnswer(MessageAnswer::Ok); // the kept file is no image
    prompts_.QueueAnswer(MessageAnswer::No); // keep the tiles
    const CreateMapOutcome first = Run(sources);
    EXPECT_EQ(prompts_.Texts().front(), OverwriteQuestion(TilePath(MapLayer::Map, 12, 20)));
    EXPECT_EQ(ReadFile(TilePath(MapLayer::Map, 12, 20)), "kept from before");
    ASSERT_EQ(first.tileProblems.size(), 1u);
    EXPECT_EQ(prompts_.Texts()[1], TileProblemsText(first.tileProblems));

    // The next run meets the first tile already there and asks at once.
    server.ClearRequests();
    prompts_.QueueAnswer(MessageAnswer::No);
    prompts_.QueueAnswer(MessageAnswer::Ok);
    prompts_.QueueAnswer(MessageAnswer::No);
    const CreateMapOutcome second = Run(sources, "again.png");
    const std::vector<std::string> texts = {OverwriteQuestion(TilePath(MapLayer::Map, 10, 20)),
                                            TileProblemsText(second.tileProblems),
                                            kDeleteTilesQuestion};
    const std::vector<std::string> all = prompts_.Texts();
    ASSERT_EQ(all.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(all.begin() + 3, all.end()), texts);
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_TRUE(fs::exists(Folder() + "Map_again.png"));
}

} // namespace
} // namespace quiltara
