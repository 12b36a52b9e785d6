// The position probe and the location readout on the offline map page in
// real Qt WebEngine (offscreen): one full GetTilePosition (a hit-test and up
// to two scans per axis, each one round trip to the page) and one readout
// per mouse move (from the move reaching the browser's input widget to the
// panel's values being written); beside them, the cost of one round trip
// by the number of points it asks about. Each iteration is timed on its own; the
// median_ms and p90_ms counters are over those.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMouseEvent>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <algorithm>
#include <memory>
#include <vector>

#include "DemoServer.h"
#include "gui/CQuiltaraView.h"
#include "platform/PageDocument.h"
#include "platform/ScriptedPrompts.h"
#include "view/PanelValues.h"

namespace {

using namespace quiltara;

// The loaded map page, shared by every benchmark.
struct LiveMap {
    test::DemoServer server;
    ScriptedPrompts prompts;
    PanelValues panel;
    const SourceCatalogue catalogue; // the page is the offline service's own
    CQuiltaraView view{catalogue};
    QPoint inner;    // the middle of a tile wholly in view: both backward scans succeed
    QPoint leftmost; // on the view's left edge: the horizontal scan must go forward
};

LiveMap* gMap = nullptr;

template <typename Done>
bool Wait(Done done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

QJsonArray TileBoxes(QWebEnginePage* page) {
    QJsonArray boxes;
    bool done = false;
    page->runJavaScript(
        "JSON.stringify(Array.from(document.querySelectorAll('img.leaflet-tile')).filter("
        "function (i) { return i.complete && i.naturalWidth === 256; }).map(function (i) {"
        " var r = i.getBoundingClientRect(); return [r.left, r.top]; }))",
        [&](const QVariant& value) {
            boxes = QJsonDocument::fromJson(value.toString().toUtf8()).array();
            done = true;
        });
    Wait([&] { return done; }, 10000);
    return boxes;
}

bool OpenMap(LiveMap& map) {
    map.view.SetPrompts(&map.prompts);
    map.view.SetPanelValues(&map.panel);
    map.view.resize(1024, 768);
    map.view.show();
    map.view.CreateSelectionOverlay()->show();
    bool loaded = false;
    QObject::connect(&map.view, &CQuiltaraView::DocumentComplete, [&] { loaded = true; });
    map.view.Navigate(map.server.SiteAddress() + "/?lat=48.85&lng=2.35&zoom=6");
    if (!Wait([&] { return loaded; }, 30000)) {
        return false;
    }
    QJsonArray boxes;
    Wait([&] { return (boxes = TileBoxes(map.view.Browser()->page())).size() >= 12; }, 20000);
    for (const QJsonValue& box : boxes) {
        const int left = box[0].toInt();
        const int top = box[1].toInt();
        if (left >= 1 && top >= 1 && left + 256 < 1024 && top + 256 < 740) {
            map.inner = QPoint(left + 128, top + 128);
        }
    }
    map.leftmost = QPoint(0, map.inner.y());
    return !map.inner.isNull() && map.view.InputWidget() != nullptr;
}

void ReportMedian(benchmark::State& state, std::vector<double>& ms) {
    std::sort(ms.begin(), ms.end());
    if (!ms.empty()) {
        state.counters["median_ms"] = ms[ms.size() / 2];
        state.counters["p90_ms"] = ms[ms.size() * 9 / 10];
    }
}

void TilePosition(benchmark::State& state, QPoint LiveMap::*where) {
    const QPoint at = gMap->*where;
    std::vector<double> ms;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        const CTilePoint p = gMap->view.GetTilePosition(at.x(), at.y());
        ms.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        if (p.x < 0) {
            state.SkipWithError("no tile position found");
            break;
        }
    }
    ReportMedian(state, ms);
}

void BM_GetTilePosition_Inner(benchmark::State& state) {
    TilePosition(state, &LiveMap::inner);
}
void BM_GetTilePosition_Leftmost(benchmark::State& state) {
    TilePosition(state, &LiveMap::leftmost);
}

void BM_LocationReadout(benchmark::State& state) {
    QWidget* input = gMap->view.InputWidget();
    bool changed = false;
    const QMetaObject::Connection connection =
        QObject::connect(&gMap->view, &CQuiltaraView::LocationChanged, [&] { changed = true; });
    std::vector<double> ms;
    int step = 0;
    for (auto _ : state) {
        // A different pixel each time, as a moving mouse gives.
        const QPoint at = gMap->inner + QPoint(step % 64, (step / 64) % 64);
        ++step;
        changed = false;
        QElapsedTimer clock;
        clock.start();
        QMouseEvent move(QEvent::MouseMove, QPointF(at), QPointF(input->mapToGlobal(at)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(input, &move);
        while (!changed && clock.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                            5);
        }
        ms.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        if (!changed) {
            state.SkipWithError("the readout did not run");
            break;
        }
    }
    QObject::disconnect(connection);
    ReportMedian(state, ms);
}

// Beside them: one round trip answering a whole run of points, as a scan
// would cost if the page hit-tested every pixel to the view's edge.
void BM_ElementsAt(benchmark::State& state) {
    std::vector<PagePoint> points;
    for (int i = 0; i < state.range(0); ++i) {
        points.push_back({gMap->inner.x() + i % 100, gMap->inner.y()});
    }
    std::vector<double> ms;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        benchmark::DoNotOptimize(gMap->view.GetPageDocument()->ElementsAt(points));
        ms.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    ReportMedian(state, ms);
}

BENCHMARK(BM_GetTilePosition_Inner)->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(BM_GetTilePosition_Leftmost)->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(BM_LocationReadout)->Unit(benchmark::kMillisecond)->Iterations(500);
BENCHMARK(BM_ElementsAt)
    ->Arg(1)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(50);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    auto map = std::make_unique<LiveMap>();
    if (!OpenMap(*map)) {
        std::fprintf(stderr, "the map page did not load\n");
        return 1;
    }
    gMap = map.get();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gMap = nullptr;
    map.reset(); // Qt WebEngine goes before the application object
    return 0;
}
