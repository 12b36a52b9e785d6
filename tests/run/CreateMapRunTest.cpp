#include "run/CreateMapRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "TestPaths.h"
#include "download/TileDownloader.h"
#include "image/RasterImage.h"
#include "platform/ScriptedPrompts.h"
#include "stitch/MapStitcher.h"

namespace quiltara {
namespace {

namespace fs = std::filesystem;

// Records every request and writes a plain 256 x 256 tile for it, failing
// the layers it is told to.
class RecordingFetcher : public TileFetcher {
public:
    struct Request {
        std::string sourceUrl;
        int column, row, zoom;
        std::string tilePath;
    };

    void StartRun() override { ++runs; }
    bool FetchTile(const std::string& sourceUrl, int column, int row, int zoom,
                   const std::string& tilePath) override {
        requests.push_back({sourceUrl, column, row, zoom, tilePath});
        if (failing.count(sourceUrl) != 0) {
            return false;
        }
        if (broken.count(sourceUrl) != 0) {
            std::ofstream(tilePath) << "kept from an earlier run, or damaged since";
            return true;
        }
        RasterImage tile(256, 256, 24, kFormatPng);
        return tile.SaveFile(tilePath, kFormatPng);
    }

    int runs = 0;
    std::vector<Request> requests;
    std::set<std::string> failing;
    std::set<std::string> broken; // these layers leave a file that is no image
};

class RecordingProgress : public ProgressSink {
public:
    void ClearLines() override { lines.clear(); }
    void AddLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

class CreateMapRunTest : public ::testing::Test {
protected:
    CreateMapRunTest() {
        for (int row = 20; row <= 21; ++row) {
            for (int col = 10; col <= 12; ++col) {
                tiles_.push_back(CTileCell{col, row, 0, 0, 0, 0});
            }
        }
        sources_[MapLayer::Map].sourceUrl = "map://[X]/[Y]";
        sources_[MapLayer::Satellite].sourceUrl = "sat://[X]/[Y]";
        sources_[MapLayer::Terrain].sourceUrl = "ter://[X]/[Y]";
        sources_[MapLayer::Hybrid].sourceUrl = "hyb://[X]/[Y]";
        progress_.lines = {"from an earlier run"};
    }

    std::string Folder() const { return dir_.Path().string() + "/"; }

    CreateMapOutcome Run(std::optional<MapSourcesValues> sources) {
        FixedMapSources provider(std::move(sources));
        InMemoryStitcher stitcher;
        CreateMapServices services{prompts_, provider, progress_, fetcher_, stitcher};
        const CreateMapOutcome outcome =
            CreateMap(CreateMapInputs{tiles_, TileRange{10, 20, 12, 21}, 7}, services);
        timesAsked_ = provider.TimesAsked();
        return outcome;
    }

    std::set<std::string> FilesInFolder() const { return test::FilesBelow(dir_.Path()); }

    test::TempDir dir_;
    ScriptedPrompts prompts_;
    RecordingProgress progress_;
    RecordingFetcher fetcher_;
    std::vector<CTileCell> tiles_;
    MapSourcesValues sources_;
    int timesAsked_ = 0;
};

TEST_F(CreateMapRunTest, AnEmptyTileListDoesNothing) {
    tiles_.clear();
    const CreateMapOutcome outcome = Run(sources_);
    EXPECT_EQ(outcome.status, CreateMapStatus::NothingToDo);
    EXPECT_TRUE(prompts_.SaveRequests().empty());
    EXPECT_EQ(progress_.lines, std::vector<std::string>{"from an earlier run"});
    EXPECT_EQ(fetcher_.runs, 0);
}

TEST_F(CreateMapRunTest, CancellingTheSaveDialogEndsTheRunAfterTheFirstLine) {
    prompts_.QueueSavePath(std::nullopt);
    const CreateMapOutcome outcome = Run(sources_);
    EXPECT_EQ(outcome.status, CreateMapStatus::Cancelled);
    EXPECT_EQ(progress_.lines, std::vector<std::string>{"Starting downloads..."});
    EXPECT_EQ(timesAsked_, 0);
    ASSERT_EQ(prompts_.SaveRequests().size(), 1u);
    const SaveDialogOptions& dialog = prompts_.SaveRequests()[0];
    EXPECT_EQ(dialog.defaultExtension, "png");
    EXPECT_EQ(dialog.initialFileName, "");
    EXPECT_TRUE(dialog.overwritePrompt);
    EXPECT_TRUE(dialog.hideReadOnly);
    EXPECT_EQ(dialog.filter, "png (*.png)|*.png|All Files (*.*)|*.*||");
}

TEST_F(CreateMapRunTest, CancellingTheMapSourcesEndsTheRunWithoutAFetch) {
    prompts_.QueueSavePath(Folder() + "london.png");
    const CreateMapOutcome outcome = Run(std::nullopt);
    EXPECT_EQ(outcome.status, CreateMapStatus::Cancelled);
    EXPECT_EQ(timesAsked_, 1);
    EXPECT_TRUE(fetcher_.requests.empty());
    EXPECT_TRUE(prompts_.Messages().empty());
    EXPECT_TRUE(FilesInFolder().empty());
}

TEST_F(CreateMapRunTest, EveryTileOfEveryEnabledLayerIsFetchedInOrder) {
    sources_[MapLayer::Map].download = true;
    sources_[MapLayer::Hybrid].download = true;
    sources_[MapLayer::Hybrid].subfolder = "hyb";
    prompts_.QueueSavePath(Folder() + "london.png");
    prompts_.QueueAnswer(MessageAnswer::No);

    const CreateMapOutcome outcome = Run(sources_);

    EXPECT_EQ(outcome.status, CreateMapStatus::Finished);
    EXPECT_EQ(outcome.outputFolder, Folder());
    EXPECT_EQ(outcome.fileName, "london.png");
    EXPECT_EQ(fetcher_.runs, 1);
    const std::vector<std::string> lines = {
        "Starting downloads...",   "Getting image x=10 y=20", "Getting image x=11 y=20",
        "Getting image x=12 y=20", "Getting image x=10 y=21", "Getting image x=11 y=21",
        "Getting image x=12 y=21",
    };
    EXPECT_EQ(progress_.lines, lines);
    ASSERT_EQ(fetcher_.requests.size(), 12u);
    EXPECT_EQ(fetcher_.requests[0].sourceUrl, "map://[X]/[Y]");
    EXPECT_EQ(fetcher_.requests[0].tilePath, Folder() + "Map_x=10y=20zoom=7.png");
    EXPECT_EQ(fetcher_.requests[1].sourceUrl, "hyb://[X]/[Y]");
    EXPECT_EQ(fetcher_.requests[1].tilePath, Folder() + "hyb/Hyb_x=10y=20zoom=7.png");
    EXPECT_EQ(fetcher_.requests[11].column, 12);
    EXPECT_EQ(fetcher_.requests[11].row, 21);
    EXPECT_EQ(fetcher_.requests[11].zoom, 7);
    EXPECT_TRUE(fs::is_directory(Folder() + "hyb"));

    EXPECT_EQ(prompts_.Texts(), std::vector<std::string>{kDeleteTilesQuestion});
    ASSERT_EQ(outcome.images.size(), 2u);
    EXPECT_TRUE(fs::exists(Folder() + "Map_london.png"));
    EXPECT_TRUE(fs::exists(Folder() + "hyb/Hyb_london.png"));
    // 12 tiles, 2 images with a world and a projection file each: No keeps the tiles.
    EXPECT_EQ(FilesInFolder().size(), 18u);
}

TEST_F(CreateMapRunTest, AFailedLayerDoesNotStopTheOthersAndIsReportedOnce) {
    sources_[MapLayer::Map].download = true;
    sources_[MapLayer::Satellite].download = true;
    sources_[MapLayer::Terrain].download = true;
    fetcher_.failing = {"sat://[X]/[Y]"};
    prompts_.QueueSavePath(Folder() + "m.png");
    prompts_.QueueAnswer(MessageAnswer::Ok);
    prompts_.QueueAnswer(MessageAnswer::Yes);

    const CreateMapOutcome outcome = Run(sources_);

    EXPECT_EQ(fetcher_.requests.size(), 18u);
    EXPECT_TRUE(outcome.tilesFailed);
    // The satellite layer has no tile: no image replaces an earlier one, and
    // the tiles that never came are no deletion failure.
    const std::vector<std::string> texts = {
        std::string(kDownloadErrorsMessage) +
            "  No tile of the satellite layer could be placed: no satellite image was made, and "
            "an earlier '" +
            Folder() + "Sat_m.png' and its world file stay as they were.",
        kDeleteTilesQuestion};
    EXPECT_EQ(prompts_.Texts(), texts);
    EXPECT_EQ(prompts_.Messages()[1].buttons, MessageButtons::YesNo);
    const std::set<std::string> left = {"Map_m.png", "Map_m.pgw", "Map_m.prj",
                                        "Ter_m.png", "Ter_m.pgw", "Ter_m.prj"};
    EXPECT_EQ(FilesInFolder(), left);
}

TEST_F(CreateMapRunTest, TilesTheStitchCannotPlaceAreNamedInOneMessage) {
    sources_[MapLayer::Map].download = true;
    sources_[MapLayer::Satellite].download = true;
    sources_[MapLayer::Terrain].download = true;
    fetcher_.broken = {"ter://[X]/[Y]"};
    fetcher_.failing = {"sat://[X]/[Y]"}; // reported already: not named again
    prompts_.QueueSavePath(Folder() + "m.png");
    prompts_.QueueAnswer(MessageAnswer::Ok);
    prompts_.QueueAnswer(MessageAnswer::Ok);
    prompts_.QueueAnswer(MessageAnswer::No);

    const CreateMapOutcome outcome = Run(sources_);

    ASSERT_EQ(outcome.tileProblems.size(), 6u);
    for (const TileProblem& problem : outcome.tileProblems) {
        EXPECT_EQ(problem.kind, TileProblem::Kind::Unreadable);
        EXPECT_EQ(fs::path(problem.path).filename().string().rfind("Ter_", 0), 0u);
    }
    // Neither layer had a tile to place: the satellite layer is told with
    // the failed downloads, the terrain layer with its unreadable tiles.
    const std::vector<std::string> texts = {
        std::string(kDownloadErrorsMessage) +
            "  No tile of the satellite layer could be placed: no satellite image was made, and "
            "an earlier '" +
            Folder() + "Sat_m.png' and its world file stay as they were.",
        TileProblemsText(outcome.tileProblems) +
            "\nNo tile of the terrain layer could be placed: no terrain image was made, and an "
            "earlier '" +
            Folder() + "Ter_m.png' and its world file stay as they were.",
        kDeleteTilesQuestion};
    EXPECT_EQ(prompts_.Texts(), texts);
    EXPECT_NE(texts[1].find("6 tile files"), std::string::npos);
    EXPECT_NE(texts[1].find(Folder() + "Ter_x=12y=21zoom=7.png: not a readable image"),
              std::string::npos);
}

TEST_F(CreateMapRunTest, TheDeleteStepNeverRemovesAnImageOfTheRun) {
    sources_[MapLayer::Map].download = true;
    // The chosen name is the name of the run's first tile.
    prompts_.QueueSavePath(Folder() + "x=10y=20zoom=7.png");
    prompts_.QueueAnswer(MessageAnswer::Yes);

    const CreateMapOutcome outcome = Run(sources_);

    ASSERT_EQ(outcome.images.size(), 1u);
    EXPECT_TRUE(outcome.images[0].saved);
    EXPECT_FALSE(outcome.deleteFailed);
    EXPECT_EQ(prompts_.Texts(), std::vector<std::string>{kDeleteTilesQuestion});
    const RasterImage image(Folder() + "Map_x=10y=20zoom=7.png", kFormatPng);
    ASSERT_TRUE(image.HasPixels());
    EXPECT_EQ(image.Width(), 768);
    EXPECT_EQ(FilesInFolder(),
              (std::set<std::string>{"Map_x=10y=20zoom=7.png", "Map_x=10y=20zoom=7.pgw",
                                     "Map_x=10y=20zoom=7.prj"}));
}

TEST_F(CreateMapRunTest, ASubfolderOutsideTheOutputFolderEndsTheRunBeforeAnyFetch) {
    const fs::path inside = dir_.Path() / "out";
    fs::create_directory(inside);
    sources_[MapLayer::Map].download = true;
    for (const std::string& bad : {std::string("../escape"), (dir_.Path() / "abs").string(),
                                   std::string(".."), std::string("a/b")}) {
        SCOPED_TRACE(bad);
        sources_[MapLayer::Satellite].download = true;
        sources_[MapLayer::Satellite].subfolder = bad;
        prompts_ = ScriptedPrompts();
        prompts_.QueueSavePath(inside.string() + "/m.png");

        const CreateMapOutcome outcome = Run(sources_);

        EXPECT_EQ(outcome.status, CreateMapStatus::Refused);
        EXPECT_TRUE(fetcher_.requests.empty());
        ASSERT_EQ(prompts_.Messages().size(), 1u);
        EXPECT_EQ(prompts_.Messages()[0].buttons, MessageButtons::Ok);
        EXPECT_NE(prompts_.Texts()[0].find("'" + bad + "'"), std::string::npos);
        EXPECT_NE(prompts_.Texts()[0].find("satellite"), std::string::npos);
        EXPECT_TRUE(FilesInFolder().empty());
        EXPECT_EQ(std::distance(fs::recursive_directory_iterator(dir_.Path()), {}), 1)
            << "no folder but the output folder";
    }
}

TEST_F(CreateMapRunTest, TheChosenPathSplitsAfterItsLastSeparator) {
    std::string folder;
    std::string name;
    SplitChosenPath("/home/me/maps/london.png", folder, name);
    EXPECT_EQ(folder, "/home/me/maps/");
    EXPECT_EQ(name, "london.png");
    SplitChosenPath("london.jpg", folder, name);
    EXPECT_EQ(folder, "");
    EXPECT_EQ(name, "london.jpg");
}

} // namespace
} // namespace quiltara
