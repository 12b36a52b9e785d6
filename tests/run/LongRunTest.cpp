// The pieces around a long run that need no server: where the map lies
// (world and projection files), what the run will cost, and its progress.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <fstream>
#include <numbers>
#include <sstream>

#include "TestPaths.h"
#include "image/RasterImage.h"
#include "platform/ScriptedPrompts.h"
#include "run/CreateMapRun.h"
#include "run/ProgressMeter.h"
#include "run/RunEstimate.h"
#include "stitch/MapStitcher.h"
#include "stitch/StreamingStitcher.h"
#include "stitch/WorldFile.h"
#include "tiles/TileGrid.h"

namespace quiltara {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

constexpr double kEarthRadius = 6378137.0;

double Longitude(double x) {
    return x / kEarthRadius * 180.0 / std::numbers::pi;
}
double Latitude(double y) {
    return std::atan(std::sinh(y / kEarthRadius)) * 180.0 / std::numbers::pi;
}

// The grid's own degree functions round pi / 2 and the degrees per radian;
// they and exact Pseudo-Mercator metres part by about a millionth of a degree.
constexpr double kGridPrecision = 4e-6;

TEST(WorldFile, ItsCornersAreTheTileGridsEdges) {
    // Columns 21 to 25 and rows 40 to 43 at zoom 6: 1280 x 1024 pixels.
    const TileRange range{21, 40, 25, 43};
    const WorldFileNumbers n = WorldFileFor(range, 6);
    EXPECT_DOUBLE_EQ(n.pixelWidth, 2 * std::numbers::pi * kEarthRadius / (256 * 64));
    EXPECT_DOUBLE_EQ(n.pixelHeight, -n.pixelWidth);
    EXPECT_EQ(n.rowRotation, 0.0);
    EXPECT_EQ(n.columnRotation, 0.0);
    // The numbers name the centre of the top-left pixel; its outer corner and
    // the bottom-right pixel's outer corner are the range's edges.
    const double west = n.centreX - n.pixelWidth / 2;
    const double north = n.centreY - n.pixelHeight / 2;
    const double east = west + 1280 * n.pixelWidth;
    const double south = north + 1024 * n.pixelHeight;
    EXPECT_NEAR(Longitude(west), TileLongitude(21, 6), 1e-9);
    EXPECT_NEAR(Longitude(east), TileLongitude(26, 6), 1e-9);
    EXPECT_NEAR(Latitude(north), TileLatitude(40, 6), kGridPrecision);
    EXPECT_NEAR(Latitude(south), TileLatitude(44, 6), kGridPrecision);

    // The whole world at zoom 1 is the projection's square of +-pi R.
    const WorldFileNumbers world = WorldFileFor(TileRange{0, 0, 1, 1}, 1);
    EXPECT_NEAR(world.centreX - world.pixelWidth / 2, -20037508.342789244, 1e-6);
    EXPECT_NEAR(world.centreY + world.pixelWidth / 2, 20037508.342789244, 1e-6);
    // Deep zooms keep the far edge of the grid exact too.
    const WorldFileNumbers deep = WorldFileFor(TileRange{(1 << 30) - 1, 0, (1 << 30) - 1, 0}, 30);
    EXPECT_NEAR(deep.centreX + deep.pixelWidth * 255.5, 20037508.342789244, 1e-6);
}

TEST(WorldFile, BothFilesAreWrittenBesideTheImageUnderItsName) {
    test::TempDir dir;
    const TileRange range{10, 20, 12, 21};
    const std::string image = (dir / "Map_city.jpg").string(); // PNG data whatever the name
    ASSERT_TRUE(WriteGeoreference(image, range, 5));
    EXPECT_EQ(test::FilesBelow(dir.Path()),
              (std::set<std::string>{"Map_city.pgw", "Map_city.prj"}));

    std::ifstream world(dir / "Map_city.pgw");
    std::vector<double> numbers;
    for (double value = 0; world >> value;) {
        numbers.push_back(value);
    }
    const WorldFileNumbers n = WorldFileFor(range, 5);
    ASSERT_EQ(numbers.size(), 6u);
    const std::vector<double> expected = {n.pixelWidth,  n.rowRotation, n.columnRotation,
                                          n.pixelHeight, n.centreX,     n.centreY};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_NEAR(numbers[i], expected[i], 1e-9) << "line " << i + 1;
    }
    std::stringstream projection;
    projection << std::ifstream(dir / "Map_city.prj").rdbuf();
    EXPECT_EQ(projection.str(), PseudoMercatorWkt() + "\n");
    EXPECT_EQ(projection.str().rfind("PROJCS[\"WGS 84 / Pseudo-Mercator\"", 0), 0u);

    EXPECT_EQ(SidecarPath("maps/Map_london", ".prj"), "maps/Map_london.prj");
    EXPECT_EQ(SidecarPath("maps.v2/Sat_london.png", ".pgw"), "maps.v2/Sat_london.pgw");
    EXPECT_EQ(SidecarPath("maps/Map_london.pgw", ".pgw"), "maps/Map_london.pgw.pgw");
    // A folder that cannot take the files: reported, and nothing half-made left.
    EXPECT_FALSE(WriteGeoreference((dir / "gone" / "Ter_city.png").string(), range, 5));
    EXPECT_EQ(test::FilesBelow(dir.Path()).size(), 2u);

    // A sidecar that cannot be written this time (a file-size limit lets the
    // short world file through, not the projection) leaves no earlier one.
    std::ofstream(dir / "Map_city.prj") << "an earlier run's projection";
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 512;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string failure;
    const bool written = WriteGeoreference(image, TileRange{11, 20, 12, 21}, 5, &failure);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(written);
    EXPECT_NE(failure.find("projection file"), std::string::npos) << failure;
    EXPECT_EQ(test::FilesBelow(dir.Path()), (std::set<std::string>{"Map_city.pgw"}));
}

TEST(RunEstimate, CountsSizesAndWarnsWhenTheStitchCannotFit) {
    MapSourcesValues sources;
    sources[MapLayer::Map].download = true;
    sources[MapLayer::Satellite].download = true;
    const TileRange small{10, 20, 12, 21};
    RunEstimate e = EstimateRun(6, small, sources, 8ull << 30);
    EXPECT_EQ(e.downloads, 12);
    EXPECT_EQ(e.imageWidth, 768);
    EXPECT_EQ(e.imageHeight, 512);
    EXPECT_EQ(e.stitchBytes, 768u * 3 * 512);
    EXPECT_EQ(EstimateText(e),
              "Estimate: 6 tiles x 2 layers = 12 downloads, roughly 270 KB; each image 768 x 512 "
              "pixels, 1.1 MB in memory to stitch");

    // 196 x 156 tiles: 50176 x 39936 pixels, rows padded to four bytes.
    const TileRange large{0, 0, 195, 155};
    e = EstimateRun(196 * 156, large, sources, 4ull << 30);
    EXPECT_EQ(e.stitchBytes, 50176ull * 3 * 39936);
    EXPECT_EQ(
        EstimateText(e).substr(EstimateText(e).find(" - ")),
        " - more than this machine's 4.0 GB of memory (the 256-colour fallback needs 1.9 GB)");
    e = EstimateRun(196 * 156, large, sources, 1ull << 30);
    EXPECT_NE(EstimateText(e).find("1.0 GB of memory, even in 256 colours (1.9 GB)"),
              std::string::npos);
    // A streamed image needs a few bands only: no warning.
    e.streamed = true;
    EXPECT_EQ(EstimateText(e).find(" - "), std::string::npos);
    // Unknown memory never warns.
    e = EstimateRun(1, TileRange{0, 0, 0, 0}, sources, 0);
    EXPECT_EQ(EstimateText(e).find(" - "), std::string::npos);
    EXPECT_GT(MachineMemoryBytes(), 0u);
    EXPECT_EQ(ByteSizeText(1023), "1023 bytes");
    EXPECT_EQ(ByteSizeText(10 * 1024 * 1024 + 1), "10 MB");
}

TEST(ProgressMeter, RateAndTimeLeftFollowTheFinishedTiles) {
    ProgressMeter meter;
    const ProgressMeter::Clock::time_point start{};
    meter.Start(120, start);
    EXPECT_EQ(meter.DownloadText(start + seconds(3)), "Downloading: 0 of 120 tiles");
    meter.SetDone(30);
    EXPECT_EQ(meter.DownloadText(start + seconds(10)),
              "Downloading: 30 of 120 tiles, 3.0 tiles/s, 0:30 left");
    meter.SetDone(1);
    EXPECT_EQ(meter.TimeLeft(start + seconds(40))->count(), 119 * 40);
    EXPECT_EQ(DurationText(seconds(119 * 40)), "1:19:20");
    EXPECT_EQ(DurationText(seconds(65)), "1:05");
    EXPECT_EQ(StitchText(2, 3, "satellite"), "Stitching layer 2 of 3 (satellite)");
}

// Writes a small file per tile and asks the run to stop during tile stopAt.
class StoppingFetcher : public TileFetcher {
public:
    StoppingFetcher(CancelFlag& flag, std::size_t stopAt) : flag_(flag), stopAt_(stopAt) {}
    void StartRun() override {}
    bool FetchTile(const std::string&, int, int, int, const std::string& tilePath) override {
        paths.push_back(tilePath);
        if (paths.size() == stopAt_) {
            flag_.Request(); // as a Cancel button would while this tile is in flight
        }
        std::ofstream(tilePath) << "tile";
        return true;
    }
    std::vector<std::string> paths;

private:
    CancelFlag& flag_;
    std::size_t stopAt_;
};

class EventProgress : public ProgressSink {
public:
    void ClearLines() override {}
    void AddLine(const std::string& line) override { events.push_back(line); }
    void RunEstimated(const RunEstimate& estimate) override {
        events.push_back(EstimateText(estimate));
    }
    std::vector<std::string> events;
};

TEST(CreateMapStop, AStopBetweenTilesKeepsThemAndSkipsTheStitchAndTheDeleteQuestion) {
    test::TempDir dir;
    std::vector<CTileCell> tiles;
    for (int col = 10; col <= 14; ++col) {
        tiles.push_back(CTileCell{col, 20, 0, 0, 0, 0});
    }
    MapSourcesValues sources;
    sources[MapLayer::Map] = LayerSource{true, "map://[X]/[Y]", ""};
    sources[MapLayer::Hybrid] = LayerSource{true, "hyb://[X]/[Y]", ""};
    FixedMapSources provider(sources);
    ScriptedPrompts prompts;
    prompts.QueueSavePath((dir / "city.png").string());
    prompts.QueueAnswer(MessageAnswer::Ok);
    EventProgress progress;
    CancelFlag cancel;
    StoppingFetcher fetcher(cancel, 5); // the map layer of the third tile
    InMemoryStitcher stitcher;
    CreateMapServices services{prompts, provider, progress, fetcher, stitcher};
    services.cancel = &cancel;

    const CreateMapOutcome outcome =
        CreateMap(CreateMapInputs{tiles, TileRange{10, 20, 14, 20}, 5}, services);

    EXPECT_EQ(outcome.status, CreateMapStatus::Stopped);
    // The tile in flight got every layer; none came after it.
    EXPECT_EQ(fetcher.paths.size(), 6u);
    EXPECT_EQ(outcome.tilesFetched, 3u);
    EXPECT_EQ(prompts.Texts(), std::vector<std::string>{StoppedRunText(3, 5)});
    EXPECT_EQ(StoppedRunText(3, 5).substr(0, 56),
              "The run was stopped: 3 of 5 tiles were fetched and are k");
    EXPECT_TRUE(outcome.images.empty());
    EXPECT_EQ(test::FilesBelow(dir.Path()).size(), 6u);
    // The estimate comes once the sources are known, before the first tile.
    ASSERT_GE(progress.events.size(), 3u);
    EXPECT_EQ(progress.events[0], "Starting downloads...");
    EXPECT_EQ(progress.events[1].rfind("Estimate: 5 tiles x 2 layers = 10 downloads", 0), 0u);
    EXPECT_EQ(progress.events[2], "Getting image x=10 y=20");
}

// Stops the run as the stitch begins; writes a real tile for every request,
// so that only the stop keeps the images from being made.
class StopAtStitch : public EventProgress, public TileFetcher {
public:
    explicit StopAtStitch(CancelFlag& flag) : flag_(flag) {}
    void StitchStarted(MapLayer, const std::string&) override { flag_.Request(); }
    void StartRun() override {}
    bool FetchTile(const std::string&, int, int, int, const std::string& tilePath) override {
        return RasterImage(256, 256, 24, kFormatPng).SaveFile(tilePath, kFormatPng);
    }

private:
    CancelFlag& flag_;
};

// A stop during the stitch ends it: no image is written (an earlier one
// stays), every tile stays, the run says so and asks nothing more.
TEST(CreateMapStop, AStopDuringTheStitchWritesNoImageAndKeepsTheTiles) {
    for (const bool streamed : {false, true}) {
        test::TempDir dir;
        std::ofstream(dir / "Map_city.png") << "earlier";
        MapSourcesValues sources;
        sources[MapLayer::Map] = LayerSource{true, "map://[X]/[Y]", ""};
        sources[MapLayer::Hybrid] = LayerSource{true, "hyb://[X]/[Y]", ""};
        FixedMapSources provider(sources);
        ScriptedPrompts prompts;
        prompts.QueueSavePath((dir / "city.png").string());
        CancelFlag cancel;
        StopAtStitch both(cancel);
        InMemoryStitcher inMemory;
        StreamingStitcher streaming;
        LayerStitcher& stitcher = streamed ? static_cast<LayerStitcher&>(streaming) : inMemory;
        CreateMapServices services{prompts, provider, both, both, stitcher};
        services.cancel = &cancel;
        const std::vector<CTileCell> tiles = {{10, 20, 0, 0, 0, 0}, {11, 20, 0, 0, 0, 0}};

        const CreateMapOutcome outcome =
            CreateMap(CreateMapInputs{tiles, TileRange{10, 20, 11, 20}, 5}, services);

        EXPECT_EQ(outcome.status, CreateMapStatus::Stopped) << streamed;
        EXPECT_EQ(prompts.Texts(), std::vector<std::string>{StoppedStitchText()});
        ASSERT_EQ(outcome.images.size(), 2u);
        EXPECT_TRUE(outcome.images[0].stopped && outcome.images[1].stopped);
        EXPECT_EQ(test::ReadFile(dir / "Map_city.png"), "earlier");
        EXPECT_EQ(test::FilesBelow(dir.Path()).size(), 5u); // four tiles and the earlier image
    }
}

} // namespace
} // namespace quiltara
