// The whole road of a map through the control panel, as a user walks it:
// the real buttons, real drags over the browser's input widget, the real
// pages and the real service, for a preset site and for a catalogue source.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ControlPanelFixture.h"
#include "app/CMainFrame.h"
#include "gui/CControlPanel.h"
#include "gui/CQuiltaraView.h"
#include "gui/CSelectionOverlay.h"
#include "run/CreateMapRun.h"
#include "tiles/MapLayer.h"
#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

namespace fs = std::filesystem;
using test::ControlPanel;
using test::FindById;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// The whole road of one map, as a user walks it: the real buttons, a real
// drag over the browser's input widget, the real page and the real service.
TEST_F(ControlPanel, FromTheSiteChooserToFourImagesAndBackToANewLocation) {
    CQuiltaraView* view = app_.MainFrame()->GetActiveView();
    OpenFirstSite();
    ASSERT_NE(view->InputWidget(), nullptr);
    // The location readout fills Location Details once the tiles are there.
    ASSERT_TRUE(WaitForReadoutZoom(QStringLiteral("3")));
    EXPECT_NE(Text(CControlPanel::kIdXValue), QStringLiteral("Unknown"));

    Press(CControlPanel::kIdSelectArea);
    DragOverMap(QPoint(300, 260), QPoint(120, 110)); // bottom-right to top-left
    ASSERT_TRUE(
        test::WaitUntil([this] { return Control(CControlPanel::kIdSelectionGroup)->isVisible(); }));
    CSelectionOverlay* overlay = view->SelectionOverlay();
    ASSERT_NE(overlay, nullptr);
    EXPECT_TRUE(overlay->State().locked);
    EXPECT_EQ(overlay->State().left, 120);
    EXPECT_EQ(overlay->State().bottom, 260);
    EXPECT_EQ(panel_->PageZoom(), 3);
    const CTileRect selection = panel_->Selection();
    EXPECT_GE(selection.left, 0.0);
    EXPECT_NEAR(selection.right - selection.left, 180.0 / 256.0, 0.01);
    EXPECT_NEAR(selection.bottom - selection.top, 150.0 / 256.0, 0.01);
    EXPECT_EQ(Text(CControlPanel::kIdXValue).toStdString(),
              FormatText("%.3f to %.3f", selection.left, selection.right));
    EXPECT_EQ(Text(CControlPanel::kIdHint),
              QStringLiteral("Your selection is made, choose the zoom level"));

    ChooseZoomEntry(4); // the page zoom + 1
    const RangeUpdate expected = ComputeRange(selection, 3, ZoomChoice{4, "4"}, 120, 110);
    ASSERT_TRUE(expected.range);
    EXPECT_EQ(Text(1004).toStdString(), *expected.xImagesText);
    EXPECT_EQ(Text(1007).toStdString(), *expected.yImagesText);
    EXPECT_EQ(Text(1008).toStdString(), *expected.totImagesText);
    EXPECT_EQ(Text(1022).toStdString(), *expected.longText);
    EXPECT_EQ(Text(1020).toStdString(), *expected.latText);
    ASSERT_EQ(panel_->TileList().size(), expected.tiles.size());
    EXPECT_GE(expected.tiles.size(), 4u);

    Press(CControlPanel::kIdDrawHelper);
    EXPECT_TRUE(overlay->OutlinesPending());
    EXPECT_TRUE(test::WaitUntil([overlay] { return !overlay->OutlinesPending(); }));

    const fs::path chosen = dir_ / "city.png";
    prompts_.QueueSavePath(chosen.string());
    prompts_.QueueAnswer(MessageAnswer::No);
    AnswerMapSourcesWithAllLayers();
    Press(CControlPanel::kIdCreateMap);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_THAT(prompts_.Texts(),
                ElementsAre("Do you want to delete the individual map tiles currently stored in "
                            "your output folder?"));
    for (MapLayer layer : kAllLayers) {
        ExpectServersTilesIn(dir_ / (std::string(LayerPrefix(layer)) + "city.png"), layer,
                             *expected.range, 4);
    }

    Press(CControlPanel::kIdNewLocation);
    EXPECT_FALSE(overlay->State().locked);
    EXPECT_TRUE(overlay->State().inactive);
    EXPECT_EQ(Text(CControlPanel::kIdHint), QStringLiteral("Choose your new location"));
    SendMouse(QEvent::MouseMove, QPoint(200, 200));
    QTest::qWait(100);
    EXPECT_TRUE(view->InputPassThrough());
    EXPECT_EQ(Text(1008).toStdString(), *expected.totImagesText);
}

TEST_F(ControlPanel, ThePathStyleDemoSourceFromTheSiteChooserToAPixelExactMap) {
    CQuiltaraView* view = app_.MainFrame()->GetActiveView();
    GotoSite([](QWidget* chooser) {
        auto* list = FindById<QComboBox>(chooser, 1026);
        const int demo = list->findData(QStringLiteral("quiltara:/map?source=offline-demo"));
        ASSERT_GE(demo, 5); // after the five sites
        list->setCurrentIndex(demo);
        QTest::mouseClick(FindById<QPushButton>(chooser, 1), Qt::LeftButton);
    });
    ASSERT_NE(view->ShownSource(), nullptr);
    EXPECT_FALSE(Control(CControlPanel::kIdGotoSite)->isVisible());
    // The demo source opens at zoom 3; its tiles carry no x= or y=.
    ASSERT_TRUE(WaitForReadoutZoom(QStringLiteral("3")))
        << view->Browser()->url().toString().toStdString();
    // Where the user goes on the page is kept for the next visit.
    view->Browser()->page()->runJavaScript(QStringLiteral("sourceMap.setView([40.5, 2.25], 3);"));
    const auto kept = [this](const std::string& start) {
        return test::WaitUntil([this, start] {
            const std::string position = settings_.GetString("SourcePosition_offline-demo", "");
            return position.rfind(start, 0) == 0 && position.substr(position.size() - 2) == ",3";
        });
    };
    EXPECT_TRUE(kept("40.5"));
    view->Browser()->page()->runJavaScript(QStringLiteral("sourceMap.setView([51.5, 0], 3);"));
    ASSERT_TRUE(kept("51.5"));
    EXPECT_THAT(Text(CControlPanel::kIdDetails).toStdString(),
                AllOf(HasSubstr(".offline-demo.localhost/tiles/map/3/"),
                      HasSubstr("Will download from 'Demo road map'")));

    Press(CControlPanel::kIdSelectArea);
    DragOverMap(QPoint(110, 100), QPoint(330, 290));
    ASSERT_TRUE(
        test::WaitUntil([this] { return Control(CControlPanel::kIdSelectionGroup)->isVisible(); }));
    const CTileRect selection = panel_->Selection();
    EXPECT_NEAR(selection.right - selection.left, 220.0 / 256.0, 0.01);
    EXPECT_NEAR(selection.bottom - selection.top, 190.0 / 256.0, 0.01);
    ChooseZoomEntry(4);
    const RangeUpdate expected = ComputeRange(selection, 3, ZoomChoice{4, "4"}, 110, 100);
    ASSERT_TRUE(expected.range);

    prompts_.QueueSavePath((dir_ / "city.png").string());
    prompts_.QueueAnswer(MessageAnswer::No);
    test::WhenModalOpens([](QWidget* dialog) {
        EXPECT_EQ(FindById<QLineEdit>(dialog, 1030)->text(),
                  QStringLiteral("http://{s}.offline-demo.localhost/tiles/map/{z}/{x}/{y}.png"));
        QTest::mouseClick(FindById<QCheckBox>(dialog, 1029), Qt::LeftButton);
        QTest::mouseClick(FindById<QPushButton>(dialog, 1), Qt::LeftButton);
    });
    const std::size_t before = server_.Requests().size();
    Press(CControlPanel::kIdCreateMap);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_THAT(prompts_.Texts(), ElementsAre(kDeleteTilesQuestion));
    ExpectServersTilesIn(dir_ / "Map_city.png", MapLayer::Map, *expected.range, 4);
    const std::vector<test::LoggedRequest> requests = server_.Requests();
    std::size_t tileRequests = 0;
    for (std::size_t i = before; i < requests.size(); ++i) {
        if (requests[i].Target().rfind("/tiles/map/4/", 0) == 0) {
            ++tileRequests;
            EXPECT_THAT(requests[i].Header("Host"), HasSubstr(".offline-demo.localhost"));
            EXPECT_THAT(requests[i].Header("User-Agent"), StartsWith("Quiltara/"));
        }
    }
    EXPECT_EQ(tileRequests, expected.tiles.size());
}

} // namespace
} // namespace quiltara
