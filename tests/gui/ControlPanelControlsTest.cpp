// The "Toolbar" control panel in the running program: its controls as the
// template places them, the site chooser's answers, the selection's states,
// the zoom list and the keyboard.
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWebEngineView>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ControlPanelFixture.h"
#include "app/CMainFrame.h"
#include "app/CommandIds.h"
#include "gui/CControlPanel.h"
#include "gui/CQuiltaraView.h"
#include "gui/CSelectionOverlay.h"
#include "gui/DialogUnits.h"

namespace quiltara {
namespace {

namespace fs = std::filesystem;
using test::ConfigHomeAt;
using test::ControlPanel;
using test::FindById;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct ControlRow {
    int id;
    const char* text;
    int x, y, width, height;
    bool visible;
    bool enabled;
};

// The template's controls that have ids, as the panel opens.
constexpr ControlRow kControls[] = {
    {1000, "Unknown", 23, 19, 96, 11, true, true},
    {1001, "Unknown", 23, 33, 93, 11, true, true},
    {1003, "Unknown", 200, 16, 42, 11, true, true},
    {1023, "1. Goto Google maps...", 147, 28, 97, 17, true, true},
    {1005, "2. Select Area", 7, 49, 55, 12, true, false},
    {1018, "New Location", 7, 63, 55, 12, true, false},
    {1006, "", 112, 55, 136, 20, true, true},
    {1011, "Selection Details", 7, 77, 241, 142, false, true},
    {1012, "x images:", 13, 104, 41, 11, false, true},
    {1004, "Unknown", 56, 104, 186, 11, false, true},
    {1013, "y images:", 13, 115, 41, 11, false, true},
    {1007, "Unknown", 56, 115, 186, 11, false, true},
    {1014, "tot images:", 13, 126, 41, 11, false, true},
    {1008, "Unknown", 56, 126, 186, 11, false, true},
    {1021, "Long:", 13, 137, 41, 11, false, true},
    {1022, "Unknown", 56, 137, 186, 11, false, true},
    {1019, "Lat:", 13, 148, 41, 11, false, true},
    {1020, "Unknown", 56, 148, 186, 11, false, true},
    {1015, nullptr, 109, 162, 133, 52, false, true},
    {1010, "4. Create Map Image", 15, 162, 85, 26, false, true},
    {1016, "Stitch Images", 66, 162, 35, 26, false, true},
    {1017, "Draw Helper", 15, 192, 86, 12, false, true},
    {1002, "", 7, 239, 241, 49, true, true},
};

QString ControlText(QWidget* control) {
    if (auto* label = qobject_cast<QLabel*>(control)) {
        return label->text();
    }
    if (auto* button = qobject_cast<QPushButton*>(control)) {
        return button->text();
    }
    if (auto* group = qobject_cast<QGroupBox*>(control)) {
        return group->title();
    }
    return {};
}

TEST_F(ControlPanel, OpensWithEveryControlOfItsTemplateInPlace) {
    EXPECT_EQ(panel_->windowTitle(), QStringLiteral("Toolbar"));
    EXPECT_FALSE(panel_->isModal());
    const DialogUnits units(panel_->font());
    for (const ControlRow& row : kControls) {
        SCOPED_TRACE(row.id);
        QWidget* control = Control(row.id);
        ASSERT_NE(control, nullptr);
        if (row.id != 1002) { // the details text is sized by the resize rule
            EXPECT_EQ(control->geometry(), units.Rect(row.x, row.y, row.width, row.height));
        }
        if (row.text != nullptr) {
            EXPECT_EQ(ControlText(control), QString::fromUtf8(row.text));
        }
        EXPECT_EQ(control->isVisible(), row.visible);
        EXPECT_EQ(control->isEnabled(), row.enabled);
    }
    EXPECT_EQ(ZoomList()->geometry().topLeft(), units.Rect(13, 89, 0, 0).topLeft());
    EXPECT_EQ(ZoomList()->width(), units.X(96));
    EXPECT_FALSE(ZoomList()->isVisible());
    EXPECT_EQ(ZoomList()->currentIndex(), 0);
    EXPECT_EQ(ZoomEntries().size(), 21);
    EXPECT_EQ(ZoomEntries().front(), QStringLiteral("(enter zoom)"));
    EXPECT_EQ(ZoomEntries().back(), QStringLiteral("(custom)..."));
    EXPECT_EQ(panel_->PageZoom(), -1);
    EXPECT_TRUE(panel_->TileList().empty());

    // The details text fills the client area less 10 pixels, from where it stands.
    panel_->resize(500, 640);
    QWidget* details = Control(1002);
    EXPECT_EQ(details->pos(), units.Rect(7, 239, 0, 0).topLeft());
    EXPECT_EQ(details->size(), QSize(490, 630));
    EXPECT_EQ(panel_->children().back(), details); // on top of its siblings

    // Creating a map with nothing selected does nothing at all.
    panel_->OnCreateMap();
    EXPECT_FALSE(panel_->IsRunning());
    EXPECT_TRUE(prompts_.Messages().empty());
}

// At the panel's opening size the longest texts of the selection details
// show whole, and no two of its controls overlap.
TEST_F(ControlPanel, TheSelectionDetailsShowTheirLongestTextsWhole) {
    SelectFourTiles();
    ChooseZoomEntry(3);
    ASSERT_EQ(Text(1004), QStringLiteral("Choose a higher zoom"));
    const QString longestSpan = QStringLiteral("from -179.999999999 to -179.999999999");
    Control<QLabel>(1022)->setText(longestSpan);
    Control<QLabel>(1020)->setText(longestSpan);
    const QRect group = Control(CControlPanel::kIdSelectionGroup)->geometry();
    std::vector<QWidget*> shown;
    for (QWidget* control : panel_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (control->isVisible() && control->geometry() != group &&
            group.contains(control->geometry())) {
            shown.push_back(control);
        }
    }
    ASSERT_GE(shown.size(), 14u);
    for (QWidget* control : shown) {
        if (auto* label = qobject_cast<QLabel*>(control)) {
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
                << label->text().toStdString();
        }
        for (QWidget* other : shown) {
            EXPECT_TRUE(control == other || !control->geometry().intersects(other->geometry()));
        }
    }
}

TEST_F(ControlPanel, SiteChooserAnswersThatOpenNothing) {
    GotoSite([](QWidget* chooser) { QTest::keyClick(chooser, Qt::Key_Escape); });
    EXPECT_TRUE(Control(CControlPanel::kIdGotoSite)->isVisible());
    EXPECT_FALSE(Control(CControlPanel::kIdSelectArea)->isEnabled());

    GotoSite([](QWidget* chooser) {
        auto* custom = FindById<QLineEdit>(chooser, 1018);
        QTest::keyClick(custom, Qt::Key_Space);
        QTest::keyClick(custom, Qt::Key_Backspace);
        QTest::mouseClick(FindById<QPushButton>(chooser, 1), Qt::LeftButton);
    });
    EXPECT_THAT(prompts_.Texts(), ElementsAre("No site was selected, please enter a site"));
    EXPECT_TRUE(Control(CControlPanel::kIdGotoSite)->isVisible());
    EXPECT_FALSE(Control(CControlPanel::kIdSelectArea)->isEnabled());
    EXPECT_TRUE(server_.Requests().empty());
}

// The catalogue is read again whenever the chooser opens: a source file added
// while the program runs is offered, its map page opens, and a broken one is
// named.
TEST_F(ControlPanel, ASourceFileAddedWhileTheProgramRunsIsOfferedByTheNextChooser) {
    const fs::path config = dir_ / "config";
    const fs::path sources = config / "Quiltara" / "sources";
    fs::create_directories(sources);
    const ConfigHomeAt configHome(config);
    const QString address = QStringLiteral("quiltara:/map?source=added-meanwhile");
    GotoSite([&address](QWidget* chooser) {
        EXPECT_EQ(FindById<QComboBox>(chooser, 1026)->findData(address), -1);
        EXPECT_EQ(chooser->findChild<QLabel*>(QStringLiteral("problems")), nullptr);
        QTest::keyClick(chooser, Qt::Key_Escape);
    });

    std::ofstream(sources / "added.json") << R"({"id": "added-meanwhile", "name": "Added meanwhile",
        "layers": {"map": {"template": "http://{s}.offline-demo.localhost/tiles/{z}/{x}/{y}.png"}},
        "subdomains": "abc"})";
    std::ofstream(sources / "broken.json") << "{";
    GotoSite([&address](QWidget* chooser) {
        auto* list = FindById<QComboBox>(chooser, 1026);
        const int added = list->findData(address);
        const auto* problems = chooser->findChild<QLabel*>(QStringLiteral("problems"));
        EXPECT_TRUE(problems != nullptr &&
                    problems->text().contains(QStringLiteral("broken.json")));
        if (added < 5) { // after the five sites
            ADD_FAILURE() << "not offered";
            QTest::keyClick(chooser, Qt::Key_Escape);
            return;
        }
        EXPECT_EQ(list->itemText(added), QStringLiteral("Added meanwhile"));
        list->setCurrentIndex(added);
        QTest::mouseClick(FindById<QPushButton>(chooser, 1), Qt::LeftButton);
    });
    CQuiltaraView* view = app_.MainFrame()->GetActiveView();
    ASSERT_NE(view->ShownSource(), nullptr);
    EXPECT_EQ(view->ShownSource()->id, "added-meanwhile");
    // The page is the source's own (titled with its name), not the page for a missing source.
    EXPECT_TRUE(test::WaitUntil(
        [view] { return view->Browser()->title() == QStringLiteral("Added meanwhile"); }, 30000))
        << view->Browser()->title().toStdString();
}

TEST_F(ControlPanel, AnUnrecognisedAddressOpensTheInternationalSiteThroughTheOfflineService) {
    GotoSite([](QWidget* chooser) {
        QTest::keyClicks(FindById<QLineEdit>(chooser, 1018), QStringLiteral("http://example.org/"));
        QTest::mouseClick(FindById<QPushButton>(chooser, 1), Qt::LeftButton);
    });
    EXPECT_THAT(prompts_.Texts(),
                ElementsAre("Sorry, couldnt recognise the format of the URL entered.  Images will "
                            "be downloaded from maps.google.com instead"));
    EXPECT_FALSE(Control(CControlPanel::kIdGotoSite)->isVisible());
    EXPECT_TRUE(Control(CControlPanel::kIdSelectArea)->isEnabled());
    ASSERT_TRUE(test::WaitUntil(
        [this] { return app_.MainFrame()->GetActiveView()->GetPageDocument() != nullptr; }, 30000));
    // The page came from the offline service, asked for under the real host name.
    const std::vector<test::LoggedRequest> requests = server_.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front().Target(), "/");
    EXPECT_EQ(requests.front().Header("Host"),
              "maps.google.com.localhost:" + std::to_string(server_.Port()));
    EXPECT_EQ(app_.MainFrame()->GetActiveView()->Browser()->title(), QStringLiteral("Demo Maps"));
}

TEST_F(ControlPanel, SelectAreaDoneAndNewLocationMoveThroughTheirStates) {
    CQuiltaraView* view = app_.MainFrame()->GetActiveView();
    OpenFirstSite();
    Press(CControlPanel::kIdSelectArea);
    EXPECT_EQ(ControlText(Control(CControlPanel::kIdSelectArea)), QStringLiteral("3. Done"));
    EXPECT_EQ(Text(CControlPanel::kIdHint),
              QStringLiteral("Please draw a selection around the area on the google map"));
    EXPECT_FALSE(Control(CControlPanel::kIdNewLocation)->isEnabled());
    EXPECT_TRUE(view->InputPassThrough());

    // "3. Done" without a drag: the hint claims a selection, the details stay hidden.
    Press(CControlPanel::kIdSelectArea);
    EXPECT_EQ(ControlText(Control(CControlPanel::kIdSelectArea)), QStringLiteral("2. Select Area"));
    EXPECT_EQ(Text(CControlPanel::kIdHint),
              QStringLiteral("Your selection is made, choose the zoom level"));
    EXPECT_TRUE(Control(CControlPanel::kIdNewLocation)->isEnabled());
    EXPECT_FALSE(Control(CControlPanel::kIdSelectionGroup)->isVisible());
    // The overlay is disarmed: a drag now pans the map.
    EXPECT_TRUE(view->SelectionOverlay()->State().inactive);

    Press(CControlPanel::kIdSelectArea);
    SelectFourTiles();
    EXPECT_EQ(ControlText(Control(CControlPanel::kIdSelectArea)), QStringLiteral("2. Select Area"));
    EXPECT_TRUE(Control(CControlPanel::kIdSelectionGroup)->isVisible());
    EXPECT_TRUE(Control(CControlPanel::kIdCreateMap)->isVisible());
    EXPECT_FALSE(Control(CControlPanel::kIdStitch)->isVisible());
    EXPECT_EQ(Text(1000), QStringLiteral("3.500 to 4.250"));
    EXPECT_EQ(Text(1001), QStringLiteral("2.250 to 2.750"));
    EXPECT_EQ(panel_->PageZoom(), 3);
    EXPECT_EQ(Text(1004), QStringLiteral("2 (7 to 8)"));
    EXPECT_EQ(Text(1007), QStringLiteral("2 (4 to 5)"));
    EXPECT_EQ(Text(1008), QStringLiteral("4"));
    ASSERT_EQ(panel_->TileList().size(), 4u);

    view->SetInputPassThrough(false);
    Press(CControlPanel::kIdNewLocation);
    EXPECT_FALSE(Control(CControlPanel::kIdNewLocation)->isEnabled());
    EXPECT_TRUE(view->InputPassThrough());
    EXPECT_EQ(Text(CControlPanel::kIdHint), QStringLiteral("Choose your new location"));
    EXPECT_EQ(Text(1008), QStringLiteral("4"));
    EXPECT_EQ(panel_->TileList().size(), 4u);
}

TEST_F(ControlPanel, ZoomListAndItsCustomEntry) {
    SelectFourTiles();
    // Not deeper than the page: the old list is dropped.
    ChooseZoomEntry(3);
    EXPECT_EQ(Text(1004), QStringLiteral("Choose a higher zoom"));
    EXPECT_EQ(Text(1007), QStringLiteral("Unknown"));
    EXPECT_TRUE(panel_->TileList().empty());
    ChooseZoomEntry(5);
    EXPECT_EQ(Text(1008), QStringLiteral("12"));

    const auto custom = [this](const QString& typed) {
        test::WhenModalOpens([typed](QWidget* dialog) {
            QTest::keyClicks(FindById<QLineEdit>(dialog, 1028), typed);
            QTest::mouseClick(FindById<QPushButton>(dialog, 1), Qt::LeftButton);
        });
        QTest::keyClick(ZoomList(), Qt::Key_End);
    };
    const char* kRefused =
        "Sorry, I couldn't interpret the number you input.  Please input a number between 1 and "
        "50.";
    const QStringList initial = ZoomEntries();
    for (const char* typed : {"50", "letters", "0"}) {
        custom(QString::fromUtf8(typed));
        EXPECT_EQ(prompts_.Texts().back(), kRefused) << typed;
        EXPECT_EQ(ZoomEntries(), initial);
        EXPECT_EQ(ZoomList()->currentText(), QStringLiteral("5")) << typed;
    }
    EXPECT_EQ(prompts_.Messages().size(), 3u);

    // Cancel changes nothing either.
    test::WhenModalOpens([](QWidget* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
    QTest::keyClick(ZoomList(), Qt::Key_End);
    EXPECT_EQ(ZoomList()->currentText(), QStringLiteral("5"));
    EXPECT_EQ(panel_->TileList().size(), 12u);

    custom(QStringLiteral("12abc"));
    EXPECT_EQ(ZoomEntries().size(), 13);
    custom(QStringLiteral("25"));
    QStringList expected;
    for (int zoom = 1; zoom <= 25; ++zoom) {
        expected << QString::number(zoom);
    }
    expected << QStringLiteral("(custom)...");
    EXPECT_EQ(ZoomEntries(), expected);
    EXPECT_EQ(ZoomList()->currentIndex(), -1);
    // With nothing chosen there is nothing to fetch until the next choice.
    EXPECT_TRUE(panel_->TileList().empty());
    panel_->OnCreateMap();
    EXPECT_FALSE(panel_->IsRunning());
    EXPECT_EQ(prompts_.Texts().back(), kChooseZoomMessage);
    ChooseZoomEntry(3); // "4"
    EXPECT_EQ(Text(1004), QStringLiteral("2 (7 to 8)"));
    EXPECT_EQ(Text(1008), QStringLiteral("4"));
    // The first entry ("1" now) is no deeper zoom: the counts and the list go.
    ChooseZoomEntry(0);
    EXPECT_EQ(Text(1022), QStringLiteral("Unknown"));
    EXPECT_TRUE(panel_->TileList().empty());
    Press(CControlPanel::kIdCreateMap);
    EXPECT_THAT(prompts_.Texts().back(), HasSubstr("Choose a zoom higher than 3"));
    EXPECT_EQ(prompts_.Messages().size(), 5u);
}

// Enter presses the step the user is at; Escape hides the panel and the
// View menu brings it back.
TEST_F(ControlPanel, EnterPressesTheNextStepAndTheViewMenuShowsThePanelAgain) {
    bool chooserOpened = false;
    test::WhenModalOpens([&chooserOpened](QWidget* chooser) {
        chooserOpened = true;
        QTest::keyClick(chooser, Qt::Key_Escape);
    });
    QTest::keyClick(panel_, Qt::Key_Return);
    EXPECT_TRUE(chooserOpened);
    EXPECT_TRUE(panel_->isVisible());

    SelectFourTiles();
    ASSERT_TRUE(Control<QPushButton>(CControlPanel::kIdCreateMap)->isDefault());
    prompts_.QueueSavePath(std::nullopt);
    QTest::keyClick(panel_, Qt::Key_Return); // the save dialog, answered Cancel
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(prompts_.SaveRequests().size(), 1u);

    QTest::keyClick(panel_, Qt::Key_Escape);
    EXPECT_FALSE(panel_->isVisible());
    QAction* toolbar = app_.MainFrame()->Command(kIdViewToolbar);
    ASSERT_NE(toolbar, nullptr);
    EXPECT_EQ(toolbar->text(), QStringLiteral("&Toolbar"));
    toolbar->trigger();
    EXPECT_TRUE(panel_->isVisible());
}

} // namespace
} // namespace quiltara
