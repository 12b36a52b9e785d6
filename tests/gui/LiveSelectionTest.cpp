// The probe, the readout and the selection on the offline map page in real
// Qt WebEngine, checked against what the page itself reports.
#include <QApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include "DemoServer.h"
#include "GuiTestSupport.h"
#include "gui/CQuiltaraView.h"
#include "gui/CSelectionOverlay.h"
#include "platform/ScriptedPrompts.h"
#include "sources/SourceCatalogue.h"
#include "view/MapProbe.h"
#include "view/PanelValues.h"

namespace quiltara {
namespace {

// One tile image as the page lays it out.
struct PageTile {
    std::string src;
    int left = 0;
    int top = 0;
    int column = -1;
    int row = -1;
    int zoom = -1;

    bool Holds(int x, int y) const {
        return left <= x && x < left + 256 && top <= y && y < top + 256;
    }
};

class LiveSelectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        view_.SetPrompts(&prompts_);
        view_.SetPanelValues(&panel_);
        view_.resize(800, 600);
        view_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view_));
        overlay_ = view_.CreateSelectionOverlay();
        overlay_->show();
        QSignalSpy loaded(&view_, &CQuiltaraView::DocumentComplete);
        view_.Navigate(server_.SiteAddress() + "/?lat=48.85&lng=2.35&zoom=5");
        ASSERT_TRUE(loaded.wait(30000));
        ASSERT_FALSE(LoadedTiles().empty());
        ASSERT_TRUE(test::WaitUntil([&] { return view_.InputWidget() != nullptr; }));
    }

    QJsonValue Evaluate(const QString& script) {
        QString result;
        bool done = false;
        view_.Browser()->page()->runJavaScript(script, [&](const QVariant& value) {
            result = value.toString();
            done = true;
        });
        EXPECT_TRUE(test::WaitUntil([&] { return done; }));
        return QJsonDocument::fromJson(("[" + result + "]").toUtf8()).array().at(0);
    }

    // Every tile image once all have loaded, with the box the page gives it.
    std::vector<PageTile> LoadedTiles(const QString& srcPart = QString()) {
        const QString script = QStringLiteral(
            "JSON.stringify(Array.from(document.querySelectorAll('img.leaflet-tile'))"
            ".map(function (i) { var r = i.getBoundingClientRect(); var u = new URL(i.src);"
            " return {src: i.getAttribute('src'), done: i.complete && i.naturalWidth === 256,"
            " left: r.left, top: r.top, x: +u.searchParams.get('x'),"
            " y: +u.searchParams.get('y'), zoom: +u.searchParams.get('zoom')}; }))");
        std::vector<PageTile> tiles;
        test::WaitUntil(
            [&] {
                tiles.clear();
                bool all = true;
                for (const QJsonValue& tile : Evaluate(script).toArray()) {
                    all = all && tile["done"].toBool() && tile["src"].toString().contains(srcPart);
                    tiles.push_back({tile["src"].toString().toStdString(), tile["left"].toInt(),
                                     tile["top"].toInt(), tile["x"].toInt(), tile["y"].toInt(),
                                     tile["zoom"].toInt()});
                }
                return all && !tiles.empty();
            },
            20000);
        return tiles;
    }

    std::string Centre() {
        return Evaluate(QStringLiteral("JSON.stringify(demoMap.getCenter().toString() + ' z' + "
                                       "demoMap.getZoom())"))
            .toString()
            .toStdString();
    }

    // Counts, in the page, the input events that reach its document, from now on.
    void CountPageEvents() {
        Evaluate(QStringLiteral(
            "if (!window.seen) {"
            "  window.seen = {mousedown: 0, mouseup: 0, mousemove: 0, wheel: 0, keydown: 0};"
            "  Object.keys(window.seen).forEach(function (t) {"
            "    document.addEventListener(t, function () { window.seen[t]++; }, true); });"
            "}"
            "Object.keys(window.seen).forEach(function (t) { window.seen[t] = 0; });"
            "JSON.stringify(1)"));
    }
    // The map's centre once it has stopped moving (a pan glides on after the drag).
    std::string SettledCentre() {
        std::string last = Centre();
        for (int i = 0; i < 50; ++i) {
            QTest::qWait(100);
            const std::string now = Centre();
            if (now == last) {
                return now;
            }
            last = now;
        }
        return last;
    }
    int Seen(const char* type) {
        return Evaluate(QStringLiteral("JSON.stringify(window.seen.%1)").arg(type)).toInt();
    }

    void Send(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QWidget* input = view_.InputWidget();
        QMouseEvent event(type, QPointF(at), QPointF(input->mapToGlobal(at)), button, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(input, &event);
    }
    void Drag(QPoint from, QPoint to) {
        Send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
        for (int step = 1; step <= 8; ++step) {
            Send(QEvent::MouseMove, from + (to - from) * step / 8, Qt::NoButton, Qt::LeftButton);
            QTest::qWait(15);
        }
        Send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
        QTest::qWait(100);
    }
    void Wheel(QPoint at) {
        QWidget* input = view_.InputWidget();
        QWheelEvent event(QPointF(at), QPointF(input->mapToGlobal(at)), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(input, &event);
    }

    // Waits until the page has not repainted for half a second (tiles fade in
    // after they load), so that a one-paint drawing is still to be seen.
    void WaitForQuietPage() {
        struct PaintWatch : QObject {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* event) override {
                paints += event->type() == QEvent::Paint ? 1 : 0;
                return false;
            }
        } watch;
        view_.InputWidget()->installEventFilter(&watch);
        for (int i = 0; i < 40; ++i) {
            const int before = watch.paints;
            QTest::qWait(500);
            if (watch.paints == before) {
                break;
            }
        }
        view_.InputWidget()->removeEventFilter(&watch);
    }

    // What the panel does on "2. Select Area", and when the drag ends.
    void ArmSelection() {
        overlay_->State().locked = false;
        overlay_->State().inactive = false;
        view_.SetInputPassThrough(true);
    }

    test::DemoServer server_;
    ScriptedPrompts prompts_;
    PanelValues panel_;
    const SourceCatalogue catalogue_; // the pages are the offline service's own
    CQuiltaraView view_{catalogue_};
    CSelectionOverlay* overlay_ = nullptr;
};

TEST_F(LiveSelectionTest, PositionsOnATilesFirstAndLastPixelsMatchThePagesLayout) {
    const std::vector<PageTile> tiles = LoadedTiles();
    // A tile wholly in view, clear of the zoom buttons, layer list and attribution.
    const PageTile* inner = nullptr;
    for (const PageTile& tile : tiles) {
        if (tile.left >= 1 && tile.top >= 1 && tile.left + 256 <= 799 && tile.top + 256 <= 570) {
            inner = &tile;
            break;
        }
    }
    ASSERT_NE(inner, nullptr);
    const int midX = inner->left + 128;
    const int midY = inner->top + 128;
    struct Case {
        int x, y;
        double expectedX, expectedY;
    };
    const Case cases[] = {
        {inner->left, midY, inner->column + 0.0, inner->row + 0.5},
        {inner->left + 255, midY, inner->column + 255.0 / 256, inner->row + 0.5},
        {midX, inner->top, inner->column + 0.5, inner->row + 0.0},
        {midX, inner->top + 255, inner->column + 0.5, inner->row + 255.0 / 256},
    };
    for (const Case& c : cases) {
        const CTilePoint p = view_.GetTilePosition(c.x, c.y);
        EXPECT_DOUBLE_EQ(p.x, c.expectedX) << c.x << "," << c.y;
        EXPECT_DOUBLE_EQ(p.y, c.expectedY) << c.x << "," << c.y;
    }

    // The tile at the view's left edge: only the forward scan can find its offset.
    const PageTile* leftmost = nullptr;
    for (const PageTile& tile : tiles) {
        leftmost = tile.Holds(0, midY) ? &tile : leftmost;
    }
    ASSERT_NE(leftmost, nullptr);
    ASSERT_LT(leftmost->left, 1);
    const CTileRect rect = view_.GetTileRect(0, midY, inner->left + 255, inner->top + 255);
    EXPECT_DOUBLE_EQ(rect.left, leftmost->column + (0.0 - leftmost->left) / 256);
    EXPECT_DOUBLE_EQ(rect.top, leftmost->row + (midY - leftmost->top) / 256.0);
    EXPECT_DOUBLE_EQ(rect.right, inner->column + 255.0 / 256);
    EXPECT_DOUBLE_EQ(rect.bottom, inner->row + 255.0 / 256);
    EXPECT_TRUE(prompts_.Texts().empty());

    // Over the zoom buttons no tile is found, and nothing is said.
    EXPECT_EQ(view_.GetTilePosition(20, 20).x, -1.0);
    EXPECT_TRUE(prompts_.Texts().empty());
}

TEST_F(LiveSelectionTest, AViewNarrowerThanTwoTilesAsksForAWiderWindow) {
    view_.resize(200, 600);
    // Move the map so that one tile spans the whole width at the probed row.
    const int y = 300;
    ASSERT_TRUE(test::WaitUntil([&] {
        for (const PageTile& tile : LoadedTiles()) {
            if (tile.Holds(100, y)) {
                if (tile.left <= 0 && tile.left + 256 >= 200) {
                    return true;
                }
                Evaluate(QStringLiteral("demoMap.panBy([%1, 0], {animate: false}); "
                                        "JSON.stringify(1)")
                             .arg(tile.left + 28));
            }
        }
        return false;
    }));
    const CTileRect rect = view_.GetTileRect(50, y, 150, y);
    EXPECT_EQ(rect.top, -1.0);
    EXPECT_EQ(rect.left, -1.0);
    EXPECT_EQ(rect.right, -1.0);
    EXPECT_EQ(rect.bottom, -1.0);
    EXPECT_EQ(prompts_.Texts(), (std::vector<std::string>{kProbeWiderMessage, kProbeWiderMessage}));
}

TEST_F(LiveSelectionTest, ADragSelectsWithoutPanningAndTheLockedMapIgnoresWheelAndKeys) {
    CountPageEvents();
    // Idle, the same drag pans the map: the checks below can tell.
    const std::string start = Centre();
    Drag({400, 300}, {300, 250});
    EXPECT_TRUE(test::WaitUntil([&] { return Centre() != start; }));
    EXPECT_GT(Seen("mousemove"), 0);

    std::vector<QRect> selections;
    QObject::connect(overlay_, &CSelectionOverlay::SelectionDone, [&] {
        const SelectionState& s = overlay_->State();
        selections.push_back(QRect(QPoint(s.left, s.top), QPoint(s.right, s.bottom)));
        overlay_->State().locked = true;
    });
    for (const auto& [from, to] : {std::pair{QPoint(500, 400), QPoint(300, 200)},
                                   std::pair{QPoint(300, 200), QPoint(500, 400)}}) {
        ArmSelection();
        CountPageEvents();
        const std::string before = SettledCentre();
        Drag(from, to);
        ASSERT_EQ(selections.size(), from.x() == 500 ? 1u : 2u);
        EXPECT_EQ(selections.back(), QRect(QPoint(300, 200), QPoint(500, 400)));
        EXPECT_EQ(Centre(), before);
        EXPECT_EQ(Seen("mousedown"), 1);
        EXPECT_EQ(Seen("mousemove"), 0);
        EXPECT_EQ(Seen("mouseup"), 1);
        EXPECT_FALSE(overlay_->State().passOne);
        EXPECT_FALSE(view_.InputPassThrough());
    }

    // Locked: wheel, keys, a click and moves all stay away from the page.
    const std::string locked = SettledCentre();
    Wheel({400, 300});
    QTest::keyClick(view_.InputWidget(), Qt::Key_Left);
    QTest::keyClick(view_.InputWidget(), Qt::Key_Minus, Qt::NoModifier);
    Drag({400, 300}, {200, 100});
    QTest::qWait(500);
    EXPECT_EQ(Centre(), locked);
    EXPECT_EQ(Seen("wheel"), 0);
    EXPECT_EQ(Seen("keydown"), 0);
    EXPECT_EQ(Seen("mousedown"), 1);
    EXPECT_EQ(selections.size(), 2u);

    // Unlocked ("New Location"): the wheel zooms the map again.
    overlay_->State().locked = false;
    overlay_->State().inactive = true;
    view_.SetInputPassThrough(true);
    Wheel({400, 300});
    EXPECT_TRUE(test::WaitUntil([&] { return Centre() != locked; }));
    EXPECT_EQ(Seen("wheel"), 1);
    QTest::keyClick(view_.InputWidget(), Qt::Key_Left);
    EXPECT_TRUE(test::WaitUntil([&] { return Seen("keydown") == 1; }));
}

// Whether every pixel of the view's picture along the line is black.
bool BlackLine(const QImage& image, QPoint from, QPoint to) {
    const int steps = std::max(std::abs(to.x() - from.x()), std::abs(to.y() - from.y()));
    for (int i = 0; i <= steps; ++i) {
        const QPoint p = from + (to - from) * i / std::max(steps, 1);
        if (image.pixelColor(p) != QColor(Qt::black)) {
            return false;
        }
    }
    return true;
}

// What the window shows now (not a fresh rendering, which would paint the
// overlay once more).
QImage Shown(QWidget& window) {
    return window.screen()->grabWindow(window.winId()).toImage();
}

TEST_F(LiveSelectionTest, TheOverlayDrawsOverThePageAndTileOutlinesLastOnePaint) {
    SelectionState& s = overlay_->State();
    s.locked = true;
    s.left = 100;
    s.top = 120;
    s.right = 300;
    s.bottom = 250;
    const std::vector<CTileCell> cells = {{0, 0, 400.7, 130.2, 520.9, 240.0}};
    const QPoint outlineFrom(400, 135), outlineTo(400, 235);
    overlay_->update();
    WaitForQuietPage();
    QImage picture = Shown(view_);
    ASSERT_FALSE(BlackLine(picture, outlineFrom, outlineTo)); // the page alone is not black there

    overlay_->DrawTileOutlines(cells);
    ASSERT_TRUE(test::WaitUntil([&] { return !overlay_->OutlinesPending(); }));
    picture = Shown(view_);
    EXPECT_TRUE(BlackLine(picture, outlineFrom, outlineTo));
    EXPECT_TRUE(BlackLine(picture, {400, 240}, {520, 240}));
    EXPECT_TRUE(BlackLine(picture, {100, 120}, {300, 120})); // the locked selection
    EXPECT_TRUE(BlackLine(picture, {300, 120}, {300, 250}));
    EXPECT_TRUE(BlackLine(picture, {0, 0}, {799, 0})); // the frame
    EXPECT_TRUE(BlackLine(picture, {799, 0}, {799, 599}));

    // The page repaints (the map moves under the locked selection, as a script
    // of the page may do): the outlines go, the selection and frame stay on top.
    Evaluate(QStringLiteral("demoMap.panBy([40, 30], {animate: false}); JSON.stringify(1)"));
    LoadedTiles();
    WaitForQuietPage();
    picture = Shown(view_);
    EXPECT_FALSE(BlackLine(picture, outlineFrom, outlineTo));
    EXPECT_TRUE(BlackLine(picture, {100, 120}, {100, 250}));
    EXPECT_TRUE(BlackLine(picture, {0, 599}, {799, 599}));

    // Asked again, they are drawn again.
    WaitForQuietPage();
    overlay_->DrawTileOutlines(cells);
    ASSERT_TRUE(test::WaitUntil([&] { return !overlay_->OutlinesPending(); }));
    EXPECT_TRUE(BlackLine(Shown(view_), outlineFrom, outlineTo));
}

TEST_F(LiveSelectionTest, TheFilterFollowsTheBrowserToANewInputWidget) {
    QWidget* first = view_.InputWidget();
    view_.Browser()->setPage(new QWebEnginePage(view_.Browser()));
    ASSERT_TRUE(test::WaitUntil([&] {
        return view_.InputWidget() != first && view_.InputWidget() == view_.Browser()->focusProxy();
    }));
    QSignalSpy loaded(&view_, &CQuiltaraView::DocumentComplete);
    view_.Navigate(server_.SiteAddress() + "/?lat=0&lng=0&zoom=4&hl=fr");
    ASSERT_TRUE(loaded.wait(30000));
    LoadedTiles();
    QSignalSpy changed(&view_, &CQuiltaraView::LocationChanged);
    Send(QEvent::MouseMove, QPoint(400, 300), Qt::NoButton, Qt::NoButton);
    ASSERT_TRUE(changed.wait(5000));
    EXPECT_EQ(panel_.languageCode, "FR");
    EXPECT_EQ(panel_.zoomText, "4");
}

} // namespace
} // namespace quiltara
