// The map pages of catalogue sources in the running program: the page's own
// tile requests carry the source's header lines, a page whose tiles fail
// says why over the map, and a WMTS service added in the window becomes a
// source whose map is the service's tiles, pixel for pixel.
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <fstream>

#include <gmock/gmock.h>

#include "ControlPanelFixture.h"
#include "app/CMainFrame.h"
#include "app/CommandIds.h"
#include "gui/CQuiltaraView.h"

namespace quiltara::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kReferer = "Referer: https://quiltara.test/map";

// What the page's script gives back, waited for.
QVariant RunScript(QWebEnginePage* page, const QString& script) {
    QVariant result;
    QEventLoop done;
    page->runJavaScript(script, [&](const QVariant& value) {
        result = value;
        done.quit();
    });
    done.exec();
    return result;
}

class SourcePages : public ControlPanel {
protected:
    explicit SourcePages(const DemoServerOptions& options = {}) : ControlPanel(options) {
        fs::create_directories(Sources());
    }

    fs::path Sources() const { return dir_ / "config" / "Quiltara" / "sources"; }

    void WriteSource(const std::string& id, const std::string& host, const std::string& extra) {
        std::ofstream(Sources() / (id + ".json"))
            << R"({"id": ")" << id << R"(", "name": ")" << id
            << R"(", "subdomains": "ab", "layers": {"map": "http://{s}.)" << host << ":"
            << server_.Port() << R"(/tiles/map/{z}/{x}/{y}.png"},
                  "start": {"lat": 48, "lon": 2, "zoom": 3})"
            << extra << "}";
    }

    // "1. Goto Google maps..." with the source chosen, and its page loaded.
    void OpenSource(const std::string& id) {
        GotoSite([id](QWidget* chooser) {
            auto* list = FindById<QComboBox>(chooser, 1026);
            list->setCurrentIndex(
                list->findData(QString::fromStdString("quiltara:/map?source=" + id)));
            QTest::mouseClick(FindById<QPushButton>(chooser, 1), Qt::LeftButton);
        });
        ASSERT_NE(View()->ShownSource(), nullptr);
        ASSERT_EQ(View()->ShownSource()->id, id);
    }

    CQuiltaraView* View() { return app_.MainFrame()->GetActiveView(); }
    QWebEnginePage* Page() { return View()->Browser()->page(); }

    const ConfigHomeAt configHome_{dir_ / "config"};
};

// Against a service that answers only requests with a Referer of its own.
class ReferringPages : public SourcePages {
protected:
    ReferringPages() : SourcePages(DemoServerOptions().RequireHeader(kReferer)) {}
};

TEST_F(ReferringPages, ASourceWhoseServerWantsAReferrerShowsItsTiles) {
    WriteSource("referred", "referred.localhost",
                std::string(R"(, "headers": [")") + kReferer + "\"]");
    OpenSource("referred");
    ASSERT_TRUE(WaitUntil(
        [this] {
            return RunScript(Page(), QStringLiteral("document.querySelectorAll("
                                                    "'img.leaflet-tile-loaded').length"))
                       .toInt() >= 4;
        },
        30000));
    std::size_t tiles = 0;
    for (const LoggedRequest& request : server_.Requests()) {
        if (request.Target().rfind("/tiles/map/3/", 0) == 0) {
            ++tiles;
            EXPECT_EQ(request.Header("Referer"), "https://quiltara.test/map");
            EXPECT_THAT(request.Header("User-Agent"), ::testing::StartsWith("Quiltara/"));
        }
    }
    EXPECT_GE(tiles, 4u);
    EXPECT_EQ(RunScript(Page(), QStringLiteral("document.getElementById('problem').textContent")),
              QString());
}

TEST_F(ReferringPages, ASourceWhoseServerAnswers403SaysWhyOverTheMap) {
    WriteSource("plain", "plain.localhost", "");
    OpenSource("plain");
    QString line;
    ASSERT_TRUE(WaitUntil(
        [&] {
            line =
                RunScript(Page(), QStringLiteral("(function (p) { return p && p.offsetHeight > 0 "
                                                 "? p.textContent : ''; })(document."
                                                 "getElementById('problem'))"))
                    .toString();
            return !line.isEmpty();
        },
        30000));
    EXPECT_THAT(line.toStdString(),
                AllOf(HasSubstr("Tiles of 'Road map' do not load: the server answers 403 "
                                "(Forbidden)"),
                      HasSubstr("\"headers\""), HasSubstr("plain.json")));
    // The page gives away no address of its own as a Referer either.
    for (const LoggedRequest& request : server_.Requests()) {
        EXPECT_EQ(request.Header("Referer"), "") << request.Target();
    }
}

// A site of the map service that draws no tile image the probe can read:
// after a few seconds of mouse movement the panel says so and offers the
// site chooser again, for its tile sources.
TEST_F(SourcePages, APageWithoutReadableTilesSendsTheUserToTheTileSources) {
    OpenFirstSite();
    ASSERT_FALSE(Control(CControlPanel::kIdGotoSite)->isVisible());
    QSignalSpy loaded(View(), &CQuiltaraView::DocumentComplete);
    View()->Navigate("http://maps.google.com/no-map-here");
    ASSERT_TRUE(loaded.wait(30000));
    ASSERT_TRUE(WaitUntil(
        [this] {
            SendMouse(QEvent::MouseMove, QPoint(150, 120));
            return Control(CControlPanel::kIdGotoSite)->isVisible();
        },
        30000));
    EXPECT_EQ(Text(CControlPanel::kIdDetails).toStdString(), kNoReadableTilesText);
    EXPECT_EQ(Text(CControlPanel::kIdHint).toStdString(), kNoReadableTilesHint);
    EXPECT_TRUE(Control(CControlPanel::kIdSelectArea)->isEnabled());
}

TEST_F(SourcePages, AWmtsServiceAddedInTheWindowMakesAPixelExactMap) {
    // With a site open, adding a source offers the site chooser again.
    OpenFirstSite();
    ASSERT_FALSE(Control(CControlPanel::kIdGotoSite)->isVisible());
    WhenModalOpens([this](QWidget* dialog) {
        dialog->findChild<QLineEdit*>(QStringLiteral("location"))
            ->setText(
                QString::fromStdString(server_.BaseUrl() + "/wmts/1.0.0/WMTSCapabilities.xml"));
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("read")), Qt::LeftButton);
        auto* layers = dialog->findChild<QTreeWidget*>(QStringLiteral("layers"));
        ASSERT_TRUE(WaitUntil([layers] { return layers->topLevelItemCount() == 7; }));
        EXPECT_TRUE(layers->topLevelItem(5)->isDisabled()); // demo-utm
        auto* map = dialog->findChild<QComboBox*>(QStringLiteral("map"));
        EXPECT_EQ(map->currentData().toString(), QStringLiteral("demo-road"));
        auto* id = dialog->findChild<QLineEdit*>(QStringLiteral("id"));
        id->setText(QStringLiteral("demo-wmts"));
        QTest::mouseClick(FindById<QPushButton>(dialog, 1), Qt::LeftButton);
    });
    app_.MainFrame()->Command(kIdFileAddTileSource)->trigger();
    ASSERT_TRUE(fs::exists(Sources() / "demo-wmts.json"));
    EXPECT_NE(app_.Catalogue().Find("demo-wmts"), nullptr);
    ASSERT_TRUE(Control(CControlPanel::kIdGotoSite)->isVisible());
    EXPECT_EQ(Text(CControlPanel::kIdHint).toStdString(), kTileSourceAddedHint);

    // Its page reads tile addresses whose zooms go by name ("EPSG:3857:1").
    OpenSource("demo-wmts");
    ASSERT_TRUE(WaitForReadoutZoom(QStringLiteral("1")));
    EXPECT_THAT(Text(CControlPanel::kIdDetails).toStdString(),
                AllOf(HasSubstr("/wmts/rest/demo-road/default/WebMercatorQuad/EPSG:3857:1/"),
                      HasSubstr("Will download from 'Demo road map'")));

    Press(CControlPanel::kIdSelectArea);
    DragOverMap(QPoint(150, 120), QPoint(330, 290));
    ASSERT_TRUE(
        WaitUntil([this] { return Control(CControlPanel::kIdSelectionGroup)->isVisible(); }));
    ChooseZoomEntry(3);
    const RangeUpdate expected = ComputeRange(panel_->Selection(), 1, ZoomChoice{3, "3"}, 150, 120);
    ASSERT_TRUE(expected.range);
    prompts_.QueueSavePath((dir_ / "wmts.png").string());
    prompts_.QueueAnswer(MessageAnswer::No);
    WhenModalOpens([](QWidget* dialog) {
        QTest::mouseClick(FindById<QCheckBox>(dialog, 1029), Qt::LeftButton);
        QTest::mouseClick(FindById<QPushButton>(dialog, 1), Qt::LeftButton);
    });
    Press(CControlPanel::kIdCreateMap);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_THAT(prompts_.Texts(), ElementsAre(kDeleteTilesQuestion));
    ExpectServersTilesIn(dir_ / "Map_wmts.png", MapLayer::Map, *expected.range, 3);
}

} // namespace
} // namespace quiltara::test
