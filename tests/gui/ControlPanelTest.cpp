// The "Toolbar" control panel in the running program: its controls, the
// zoom list, the site chooser's commands and a create-map run on the worker
// thread, against the offline map service behind the real addresses.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QWebEngineView>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DemoServer.h"
#include "GuiTestSupport.h"
#include "TestPaths.h"
#include "app/CMainFrame.h"
#include "app/CQuiltaraApp.h"
#include "app/CommandIds.h"
#include "download/ParallelTileFetch.h"
#include "gui/CControlPanel.h"
#include "gui/CQuiltaraView.h"
#include "gui/CSelectionOverlay.h"
#include "gui/DialogUnits.h"
#include "gui/QtSettingsStore.h"
#include "image/RasterImage.h"
#include "platform/CurlHttpClient.h"
#include "platform/ScriptedPrompts.h"
#include "stitch/StreamingStitcher.h"
#include "tiles/MapLayer.h"
#include "tiles/TextFormat.h"
#include "tiles/TileSources.h"

namespace quiltara {
namespace {

namespace fs = std::filesystem;
using test::DemoServer;
using test::DemoServerOptions;
using test::FindById;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// Scripted answers that also note whether each question came on the GUI thread.
class ThreadNotingPrompts : public ScriptedPrompts {
public:
    MessageAnswer ShowMessage(const std::string& text, MessageButtons buttons) override {
        NoteThread();
        return ScriptedPrompts::ShowMessage(text, buttons);
    }
    std::optional<std::string> AskSavePath(const SaveDialogOptions& options) override {
        NoteThread();
        return ScriptedPrompts::AskSavePath(options);
    }
    int offGuiThread = 0;

private:
    void NoteThread() { offGuiThread += QThread::currentThread() != qApp->thread() ? 1 : 0; }
};

class ControlPanel : public ::testing::Test {
protected:
    explicit ControlPanel(const DemoServerOptions& options = {})
        : server_(options), settings_(QString::fromStdString((dir_ / "Quiltara.ini").string())) {
        std::string error;
        app_.SetMapServiceRoute(
            MapServiceRoute::Parse("127.0.0.1:" + std::to_string(server_.Port()), error));
        EXPECT_TRUE(app_.InitInstance());
        panel_ = app_.ControlPanel();
    }

    template <typename Widget = QWidget>
    Widget* Control(int id) {
        return FindById<Widget>(panel_, id);
    }
    QString Text(int id) { return Control<QLabel>(id)->text(); }
    void Press(int id) { QTest::mouseClick(Control<QPushButton>(id), Qt::LeftButton); }
    QComboBox* ZoomList() { return Control<QComboBox>(CControlPanel::kIdZoomList); }
    QStringList ZoomEntries() {
        QStringList entries;
        for (int i = 0; i < ZoomList()->count(); ++i) {
            entries << ZoomList()->itemText(i);
        }
        return entries;
    }
    // Chooses an entry with the keyboard, as a user would.
    void ChooseZoomEntry(int index) {
        QTest::keyClick(ZoomList(), Qt::Key_Home);
        for (int i = 0; i < index; ++i) {
            QTest::keyClick(ZoomList(), Qt::Key_Down);
        }
    }
    // "1. Goto Google maps..." with the chooser answered by act.
    void GotoSite(const std::function<void(QWidget*)>& act) {
        test::WhenModalOpens(act);
        Press(CControlPanel::kIdGotoSite);
    }
    // A mouse event at a point of the map view, sent where the browser takes
    // its input (that widget may be replaced while a page loads).
    void SendMouse(QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::NoButton,
                   Qt::MouseButtons buttons = Qt::NoButton) {
        QWidget* input = app_.MainFrame()->GetActiveView()->InputWidget();
        ASSERT_NE(input, nullptr);
        QMouseEvent event(type, QPointF(at), QPointF(input->mapToGlobal(at)), button, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(input, &event);
    }
    // Moves the mouse over the map until the readout shows the page's zoom.
    bool WaitForReadoutZoom(const QString& zoom) {
        return test::WaitUntil(
            [&] {
                if (app_.MainFrame()->GetActiveView()->InputWidget() != nullptr) {
                    SendMouse(QEvent::MouseMove, QPoint(150, 120));
                }
                QTest::qWait(100);
                return Text(CControlPanel::kIdZoomValue) == zoom;
            },
            30000);
    }
    // A left-button drag over the map in eight steps, as a hand makes it.
    void DragOverMap(QPoint from, QPoint to) {
        SendMouse(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
        for (int step = 1; step <= 8; ++step) {
            SendMouse(QEvent::MouseMove, from + (to - from) * step / 8, Qt::NoButton,
                      Qt::LeftButton);
            QTest::qWait(15);
        }
        SendMouse(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    }
    // Opens the first preset site and waits for its page.
    void OpenFirstSite() {
        GotoSite([](QWidget* chooser) {
            QTest::mouseClick(FindById<QPushButton>(chooser, 1), Qt::LeftButton);
        });
        ASSERT_TRUE(test::WaitUntil(
            [this] { return app_.MainFrame()->GetActiveView()->GetPageDocument() != nullptr; },
            30000));
    }
    // A selection of tiles 7 to 8 and 4 to 5 at zoom 4, made at page zoom 3.
    void SelectFourTiles() {
        Control<QLabel>(CControlPanel::kIdZoomValue)->setText(QStringLiteral("3"));
        panel_->ApplySelection(CTileRect{2.25, 3.5, 4.25, 2.75}, 40, 30);
        ChooseZoomEntry(4);
    }
    void AnswerMapSourcesWithAllLayers() {
        test::WhenModalOpens([](QWidget* dialog) {
            for (int id : {1029, 1031, 1037, 1041}) {
                QTest::mouseClick(FindById<QCheckBox>(dialog, id), Qt::LeftButton);
            }
            QTest::mouseClick(FindById<QPushButton>(dialog, 1), Qt::LeftButton);
        });
    }
    std::vector<std::string> ProgressLines() {
        std::vector<std::string> lines;
        auto* list = Control<QListWidget>(CControlPanel::kIdProgress);
        for (int i = 0; i < list->count(); ++i) {
            lines.push_back(list->item(i)->text().toStdString());
        }
        return lines;
    }
    // The four tiles chosen and a run's questions queued up to the press of
    // Create Map: the map saved as maps/city.png, every layer in the map
    // sources dialog, then `answer`. fileType: the type picked in the save
    // dialog. Gives the maps folder.
    fs::path PrepareRunIntoMaps(MessageAnswer answer, int fileType = 0) {
        OpenFirstSite();
        Press(CControlPanel::kIdSelectArea);
        SelectFourTiles();
        const fs::path maps = dir_ / "maps";
        fs::create_directory(maps);
        prompts_.QueueSavePath((maps / "city.png").string(), fileType);
        prompts_.QueueAnswer(answer);
        AnswerMapSourcesWithAllLayers();
        return maps;
    }
    bool WaitForRunEnd() {
        return test::WaitUntil([this] { return !panel_->IsRunning(); }, 60000);
    }

    // Every pixel of the layer's image is the server's tile at that place.
    void ExpectServersTilesIn(const fs::path& image, MapLayer layer, const TileRange& range,
                              int zoom) {
        const RasterImage map(image.string(), kFormatPng);
        ASSERT_TRUE(map.HasPixels()) << image;
        const int width = range.Columns() * 256;
        const int height = range.Rows() * 256;
        ASSERT_EQ(static_cast<int>(map.Width()), width);
        ASSERT_EQ(static_cast<int>(map.Height()), height);
        std::string error;
        CurlHttpClient http;
        http.SetConnectTo(
            MapServiceRoute::Parse("127.0.0.1:" + std::to_string(server_.Port()), error)
                ->ConnectToEntries());
        for (int row = range.yFirst; row <= range.yLast; ++row) {
            for (int col = range.xFirst; col <= range.xLast; ++col) {
                const fs::path tilePath = dir_ / "server-tile";
                {
                    std::ofstream out(tilePath, std::ios::binary);
                    FileSink sink(out);
                    http.Get(
                        ExpandSourceUrl(DefaultSourceTemplate(layer), "0", col, row, zoom, "", 1),
                        {}, sink);
                }
                const RasterImage tile(tilePath.string(), 0);
                ASSERT_TRUE(tile.HasPixels());
                const int left = (col - range.xFirst) * 256;
                const int top = (row - range.yFirst) * 256;
                int differing = 0;
                for (int y = 0; y < 256; ++y) {
                    for (int x = 0; x < 256; ++x) {
                        // Both images count rows from the bottom.
                        differing += Rgb(tile.PixelColorUnchecked(x, 255 - y)) !=
                                             Rgb(map.PixelColor(left + x, height - 1 - top - y))
                                         ? 1
                                         : 0;
                    }
                }
                EXPECT_EQ(differing, 0) << LayerPrefix(layer) << " tile " << col << "," << row;
            }
        }
    }

    test::TempDir dir_;
    DemoServer server_;
    QtSettingsStore settings_;
    ThreadNotingPrompts prompts_;
    CQuiltaraApp app_{settings_, prompts_};
    CControlPanel* panel_ = nullptr;

private:
    class FileSink : public HttpBodySink {
    public:
        explicit FileSink(std::ofstream& out) : out_(out) {}
        void WriteBlock(std::span<const std::byte> block) override {
            out_.write(reinterpret_cast<const char*>(block.data()),
                       static_cast<std::streamsize>(block.size()));
        }

    private:
        std::ofstream& out_;
    };
    static std::uint32_t Rgb(RgbQuad c) {
        return (std::uint32_t{c.red} << 16) | (std::uint32_t{c.green} << 8) | c.blue;
    }
};

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
