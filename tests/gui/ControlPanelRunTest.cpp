// Create-map runs from the control panel on the worker thread: the window
// meanwhile, Cancel, a server's pause, the GeoTIFF file type, a run-ending
// error and closing the program mid-run.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <set>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ControlPanelFixture.h"
#include "app/CMainFrame.h"
#include "download/ParallelTileFetch.h"
#include "gui/CControlPanel.h"
#include "gui/CQuiltaraView.h"
#include "image/RasterImage.h"
#include "run/CreateMapRun.h"
#include "stitch/StreamingStitcher.h"
#include "tiles/MapLayer.h"

namespace quiltara {
namespace {

namespace fs = std::filesystem;
using test::ControlPanel;
using test::DemoServer;
using test::DemoServerOptions;
using test::FindById;
using test::ThreadNotingPrompts;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class ControlPanelSlowService : public ControlPanel {
protected:
    ControlPanelSlowService() : ControlPanel(DemoServerOptions().DelayMs(150).LogArrivals()) {}
};

TEST_F(ControlPanelSlowService, CreateMapRunsBesideTheWindowWhichTakesNoInputMeanwhile) {
    OpenFirstSite();
    Press(CControlPanel::kIdSelectArea);
    SelectFourTiles();
    const fs::path chosen = dir_ / "maps" / "city.png";
    fs::create_directory(chosen.parent_path());
    prompts_.QueueSavePath(chosen.string());
    prompts_.QueueAnswer(MessageAnswer::No); // keep the tiles
    AnswerMapSourcesWithAllLayers();
    settings_.SetInt(kDownloadConnectionsSetting, 3);
    CQuiltaraView* view = app_.MainFrame()->GetActiveView();
    server_.ClearRequests();
    Press(CControlPanel::kIdCreateMap);

    // While tiles arrive, lines appear and nothing takes input.
    ASSERT_TRUE(test::WaitUntil([this] { return ProgressLines().size() >= 3; }, 30000));
    EXPECT_TRUE(panel_->IsRunning());
    for (int id : {1005, 1018, 1009, 1010, 1017}) {
        EXPECT_FALSE(Control(id)->isEnabled()) << id;
    }
    EXPECT_FALSE(view->isEnabled());
    panel_->reject(); // Escape
    EXPECT_TRUE(panel_->isVisible());
    panel_->OnCreateMap(); // a second run cannot start
    ASSERT_TRUE(WaitForRunEnd());

    const std::string saved = "Saved " + chosen.parent_path().string() + "/";
    EXPECT_THAT(
        ProgressLines(),
        ElementsAre(StartsWith("Estimate: 4 tiles x 4 layers = 16 downloads"),
                    "Starting downloads...", "Getting image x=7 y=4", "Getting image x=8 y=4",
                    "Getting image x=7 y=5", "Getting image x=8 y=5", saved + "Map_city.png",
                    saved + "Sat_city.png", saved + "Ter_city.png", saved + "Hyb_city.png"));
    test::OpenedUrls opened({QStringLiteral("file")});
    auto* openFolder = panel_->findChild<QPushButton*>(QStringLiteral("openFolder"));
    ASSERT_TRUE(openFolder != nullptr && openFolder->isVisible());
    QTest::mouseClick(openFolder, Qt::LeftButton);
    ASSERT_EQ(opened.Urls().size(), 1u);
    EXPECT_TRUE(fs::equivalent(opened.Urls()[0].toLocalFile().toStdString(), chosen.parent_path()));
    EXPECT_THAT(prompts_.Texts(),
                ElementsAre("Do you want to delete the individual map tiles currently stored in "
                            "your output folder?"));
    EXPECT_EQ(prompts_.SaveRequests().size(), 1u);
    EXPECT_EQ(prompts_.offGuiThread, 0);
    for (int id : {1005, 1018, 1009, 1010, 1017}) {
        EXPECT_TRUE(Control(id)->isEnabled()) << id;
    }
    EXPECT_TRUE(view->isEnabled());
    for (MapLayer layer : kAllLayers) {
        EXPECT_TRUE(
            fs::exists(chosen.parent_path() / (std::string(LayerPrefix(layer)) + "city.png")));
    }
    // The tiles of the road map's host came over the three connections the
    // settings ask for (each keeps one connection per host).
    std::set<long> connections;
    for (const test::LoggedRequest& request : server_.Requests()) {
        if (request.Header("User-Agent") == "HTML Get Sample" &&
            request.Header("Host").rfind("mt", 0) == 0) {
            connections.insert(request.connection);
        }
    }
    EXPECT_EQ(connections.size(), 3u);
}

// Cancel keeps every finished tile and makes nothing else; a second run that
// keeps the existing tiles finishes the same map.
TEST_F(ControlPanelSlowService, CancelKeepsTheFinishedTilesAndASecondRunFinishesTheMap) {
    const fs::path maps = PrepareRunIntoMaps(MessageAnswer::Ok); // the stopped run's message
    auto* bar = panel_->findChild<QProgressBar*>(QStringLiteral("runProgress"));
    auto* status = panel_->findChild<QLabel*>(QStringLiteral("runStatus"));
    auto* cancel = panel_->findChild<QPushButton*>(QStringLiteral("cancelRun"));
    ASSERT_TRUE(bar && status && cancel);
    EXPECT_FALSE(cancel->isVisible());
    Press(CControlPanel::kIdCreateMap);

    ASSERT_TRUE(test::WaitUntil([&] { return bar->value() >= 2; }, 30000));
    EXPECT_TRUE(bar->isVisible());
    EXPECT_TRUE(cancel->isVisible());
    EXPECT_EQ(bar->maximum(), 4);
    EXPECT_THAT(status->text().toStdString(), HasSubstr(" left"));
    QTest::mouseClick(cancel, Qt::LeftButton);
    ASSERT_TRUE(WaitForRunEnd());

    EXPECT_FALSE(cancel->isVisible());
    EXPECT_FALSE(bar->isVisible());
    ASSERT_EQ(prompts_.Texts().size(), 1u);
    const std::set<std::string> kept = test::FilesBelow(maps);
    // Whole tile files only, and no image: the transfers under way were
    // abandoned. A tile counts as fetched with all four layers.
    std::map<std::string, int> layers;
    for (const std::string& name : kept) {
        ++layers[name.substr(4)];
    }
    const auto tiles = static_cast<std::size_t>(
        std::count_if(layers.begin(), layers.end(), [](const auto& l) { return l.second == 4; }));
    EXPECT_GE(kept.size(), 1u); // the first tile file, fetched alone before any other starts
    EXPECT_LT(tiles, 4u);
    EXPECT_EQ(prompts_.Texts()[0], StoppedRunText(tiles, 4));
    for (const std::string& name : kept) {
        EXPECT_EQ(name.find("city"), std::string::npos) << name;
        EXPECT_TRUE(RasterImage((maps / name).string(), 0).HasPixels()) << name;
    }

    // Again, answering No to the existing-file question: only the rest is fetched.
    server_.ClearRequests();
    prompts_.QueueSavePath((maps / "city.png").string());
    prompts_.QueueAnswer(MessageAnswer::No); // keep the existing tiles
    prompts_.QueueAnswer(MessageAnswer::No); // keep the tiles afterwards
    AnswerMapSourcesWithAllLayers();
    Press(CControlPanel::kIdCreateMap);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(server_.Requests().size(), 16 - kept.size());
    ExpectServersTilesIn(maps / "Map_city.png", MapLayer::Map, TileRange{7, 4, 8, 5}, 4);
    EXPECT_TRUE(fs::exists(maps / "Map_city.pgw"));
}

class ControlPanelBusyService : public ControlPanel {
protected:
    // Tile (8, 4) of every layer is answered 503 with a pause of a minute.
    ControlPanelBusyService() : ControlPanel(DemoServerOptions().BusyTile(4, 8, 4).Busy(503, 60)) {}
};

// Connections the server told to pause do not keep a cancelled run going.
TEST_F(ControlPanelBusyService, CancelDoesNotSitOutTheServersPause) {
    const fs::path maps = PrepareRunIntoMaps(MessageAnswer::Ok); // the stopped run's message
    server_.ClearRequests();
    Press(CControlPanel::kIdCreateMap);
    ASSERT_TRUE(test::WaitUntil(
        [this] {
            for (const test::LoggedRequest& request : server_.Requests()) {
                if (request.Param("x") == "8" && request.Param("y") == "4") {
                    return true;
                }
            }
            return false;
        },
        30000));
    const auto pressed = std::chrono::steady_clock::now();
    QTest::mouseClick(panel_->findChild<QPushButton*>(QStringLiteral("cancelRun")), Qt::LeftButton);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(30));
    EXPECT_THAT(prompts_.Texts(), ElementsAre(StartsWith("The run was stopped:")));
    EXPECT_FALSE(fs::exists(maps / "Map_city.png"));
}

TEST_F(ControlPanel, TheSaveDialogsGeoTiffTypeMakesGeoTiffsWhateverTheNameSays) {
    const fs::path maps = PrepareRunIntoMaps(MessageAnswer::No, 1);
    // A folder where the hybrid image should go: that one cannot be saved.
    fs::create_directory(maps / "Hyb_city.png");
    Press(CControlPanel::kIdCreateMap);
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_EQ(prompts_.SaveRequests().size(), 1u);
    EXPECT_EQ(prompts_.SaveRequests()[0].filter, kStreamedMapFileFilter);
    EXPECT_THAT(ProgressLines(),
                Contains(StartsWith("Not saved " + (maps / "Hyb_city.png").string() + ": ")));
    for (MapLayer layer : {MapLayer::Map, MapLayer::Satellite, MapLayer::Terrain}) {
        const fs::path image = maps / (std::string(LayerPrefix(layer)) + "city.png");
        EXPECT_EQ(test::ReadFile(image).substr(0, 4), std::string("II*\0", 4)) << image;
        EXPECT_FALSE(fs::exists(maps / (std::string(LayerPrefix(layer)) + "city.pgw")));
    }
    // Opaque layers: the server's tiles, pixel for pixel, read back as TIFF.
    ExpectServersTilesIn(maps / "Map_city.png", MapLayer::Map, TileRange{7, 4, 8, 5}, 4);
    ExpectServersTilesIn(maps / "Ter_city.png", MapLayer::Terrain, TileRange{7, 4, 8, 5}, 4);
}

class ControlPanelRefusingService : public ControlPanel {
protected:
    ControlPanelRefusingService()
        : ControlPanel(
              DemoServerOptions().RefuseServer(0).RefuseServer(1).RefuseServer(2).RefuseServer(3)) {
    }
};

TEST_F(ControlPanelRefusingService, ARunEndingErrorNamesTheUrlAndTheReason) {
    SelectFourTiles();
    prompts_.QueueSavePath((dir_ / "city.png").string());
    test::WhenModalOpens([](QWidget* dialog) {
        QTest::mouseClick(FindById<QCheckBox>(dialog, 1029), Qt::LeftButton);
        QTest::mouseClick(FindById<QPushButton>(dialog, 1), Qt::LeftButton);
    });
    Press(CControlPanel::kIdCreateMap);
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_EQ(prompts_.Texts().size(), 1u);
    EXPECT_THAT(prompts_.Texts()[0],
                StartsWith("Could not download "
                           "'http://mt0.google.com/vt/v=w2.97&hl=en&x=7&y=4&z=4&s=G': "));
    EXPECT_GT(prompts_.Texts()[0].size(), 70u); // a reason follows
    EXPECT_EQ(prompts_.offGuiThread, 0);
    EXPECT_TRUE(Control(CControlPanel::kIdCreateMap)->isEnabled());
}

// Closing the program mid-run asks first; yes stops the run as Cancel does,
// waits for it, and then the program closes with nothing left running.
TEST(ControlPanelClosing, ClosingTheProgramDuringARunAsksAndStopsTheRunFirst) {
    test::TempDir dir;
    const test::CacheHomeAt cacheHome(dir / "cache-home");
    DemoServer server(DemoServerOptions().DelayMs(200));
    QtSettingsStore settings(QString::fromStdString((dir.Path() / "Quiltara.ini").string()));
    ThreadNotingPrompts prompts;
    auto app = std::make_unique<CQuiltaraApp>(settings, prompts);
    std::string error;
    app->SetMapServiceRoute(
        MapServiceRoute::Parse("127.0.0.1:" + std::to_string(server.Port()), error));
    ASSERT_TRUE(app->InitInstance());
    CControlPanel* panel = app->ControlPanel();
    FindById<QLabel>(panel, CControlPanel::kIdZoomValue)->setText(QStringLiteral("3"));
    panel->ApplySelection(CTileRect{2.25, 3.5, 4.25, 2.75}, 0, 0);
    auto* zoomList = FindById<QComboBox>(panel, CControlPanel::kIdZoomList);
    zoomList->setCurrentIndex(5);
    panel->OnZoomChosen();
    ASSERT_EQ(panel->TileList().size(), 12u);
    prompts.QueueSavePath((dir.Path() / "city.png").string());
    test::WhenModalOpens([](QWidget* dialog) {
        QTest::mouseClick(FindById<QCheckBox>(dialog, 1029), Qt::LeftButton);
        QTest::mouseClick(FindById<QPushButton>(dialog, 1), Qt::LeftButton);
    });
    QTest::mouseClick(FindById<QPushButton>(panel, CControlPanel::kIdCreateMap), Qt::LeftButton);
    auto* progress = FindById<QListWidget>(panel, CControlPanel::kIdProgress);
    ASSERT_TRUE(test::WaitUntil([progress] { return progress->count() >= 3; }, 30000));

    prompts.QueueAnswer(MessageAnswer::No);
    EXPECT_FALSE(app->MainFrame()->close());
    EXPECT_TRUE(app->MainFrame()->isVisible());
    EXPECT_TRUE(panel->IsRunning());

    prompts.QueueAnswer(MessageAnswer::Yes);
    prompts.QueueAnswer(MessageAnswer::Ok); // the stopped run's message
    EXPECT_TRUE(app->MainFrame()->close());
    EXPECT_FALSE(panel->IsRunning());
    EXPECT_FALSE(panel->isVisible());
    EXPECT_THAT(prompts.Texts(), ElementsAre(kStopAndQuitQuestion, kStopAndQuitQuestion,
                                             StartsWith("The run was stopped:")));
    const size_t requests = server.Requests().size();
    EXPECT_LT(requests, 12u);
    app.reset();
    QTest::qWait(500);
    EXPECT_EQ(server.Requests().size(), requests);
    EXPECT_FALSE(fs::exists(dir.Path() / "Map_city.png"));
}

} // namespace
} // namespace quiltara
