// The run both front ends build: what they choose (stitcher, file type,
// connections) reaches the run, against the offline map service.
#include "run/MapRun.h"

#include <gtest/gtest.h>

#include <memory>

#include "DemoServer.h"
#include "TestPaths.h"
#include "platform/CurlHttpClient.h"
#include "platform/ScriptedPrompts.h"
#include "run/RunEstimate.h"
#include "stitch/StreamingStitcher.h"

namespace quiltara {
namespace {

class EstimateProgress : public ProgressSink {
public:
    void ClearLines() override {}
    void AddLine(const std::string& /*line*/) override {}
    void RunEstimated(const RunEstimate& estimate) override { streamed = estimate.streamed; }
    bool streamed = false;
};

// Every run asks for zooms 3 to 5: a package type takes them all, an image
// only the deepest.
TEST(MapRun, TheStitcherTheFileTypeAndTheConnectionsChosenAreTheRunsOwn) {
    struct Case {
        const char* name;
        StitchChoice stitch;
        int filterIndex; // picked in the save dialog
        int connections;
        const char* filter; // the save dialog's
        bool streamed;
        bool georeferenced; // the file holds its place itself (GeoTIFF, packages)
        std::size_t fetched = 3; // tiles of every zoom fetched
        const char* magic = "\x89PNG"; // how the file starts, whatever its extension
    };
    StitchChoice inMemory;
    inMemory.inMemory = true;
    StitchChoice geoTiff;
    geoTiff.streaming.format = ImageFileFormat::GeoTiff;
    StitchChoice offered;
    offered.offerTypes = true;
    const Case cases[] = {
        {"in memory", inMemory, 0, 1, kMapFileFilter, false, false},
        {"streamed", StitchChoice{}, 0, 3, kMapFileFilter, true, false},
        {"GeoTIFF by the options", geoTiff, 0, 1, kMapFileFilter, true, true, 3, "II*"},
        {"GeoTIFF by the dialog", offered, 1, 2, kStreamedMapFileFilter, true, true, 3, "II*"},
        {"MBTiles by the dialog", offered, 2, 1, kStreamedMapFileFilter, true, true, 3 + 2 + 2,
         "SQLite format 3"},
        {"GeoPackage by the dialog", offered, 3, 1, kStreamedMapFileFilter, true, true, 3 + 2 + 2,
         "SQLite format 3"},
    };
    test::DemoServer server;
    MapSourcesValues sources;
    sources[MapLayer::Map] = LayerSource{true, server.Template(MapLayer::Map), ""};
    const std::vector<CTileCell> tiles = {
        {10, 20, 0, 0, 0, 0}, {11, 20, 0, 0, 0, 0}, {12, 20, 0, 0, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        ScriptedPrompts prompts;
        prompts.QueueSavePath((dir / "city.png").string(), c.filterIndex);
        prompts.QueueAnswer(MessageAnswer::No); // keep the tiles
        FixedMapSources provider(sources);
        EstimateProgress progress;
        CurlHttpClient http(test::QuickTimeouts());
        OverwriteChoice choice;
        OverwriteRunState runState;
        RememberedServerNumber remembered;
        const std::string languageCode;
        int madeClients = 0;
        MapRunParts parts{prompts, provider, progress,   http,
                          choice,  runState, remembered, languageCode};
        parts.moreConnections = [&madeClients] {
            ++madeClients;
            return std::make_unique<CurlHttpClient>(test::QuickTimeouts());
        };
        parts.connections = c.connections;
        parts.stitch = c.stitch;

        const CreateMapOutcome outcome =
            MapRun(parts).Create(CreateMapInputs{tiles, TileRange{10, 20, 12, 20}, 5, 3});

        EXPECT_EQ(outcome.status, CreateMapStatus::Finished);
        EXPECT_EQ(outcome.tilesFetched, c.fetched);
        EXPECT_EQ(madeClients, c.connections - 1);
        ASSERT_EQ(prompts.SaveRequests().size(), 1u);
        EXPECT_EQ(prompts.SaveRequests()[0].filter, c.filter);
        EXPECT_EQ(progress.streamed, c.streamed);
        ASSERT_EQ(outcome.images.size(), 1u);
        EXPECT_TRUE(outcome.images[0].saved) << outcome.images[0].saveError;
        EXPECT_EQ(outcome.images[0].georeferenced, c.georeferenced);
        const std::string magic = c.magic;
        EXPECT_EQ(test::ReadFile(dir / "Map_city.png").substr(0, magic.size()), magic);
        const bool package = c.fetched > 3;
        EXPECT_EQ(std::filesystem::exists(dir / "Map_x=2y=5zoom=3.png"), package);
        if (package) {
            EXPECT_FALSE(std::filesystem::exists(dir / "Map_city.pgw"));
        }
    }
}

} // namespace
} // namespace quiltara
