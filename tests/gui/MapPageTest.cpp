// The offline map service's slippy-map page as a real browser engine shows
// it: what the position probe and the map view rely on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <memory>

#include "DemoServer.h"

namespace quiltara {
namespace {

using test::DemoServer;
using ::testing::HasSubstr;

// Runs the event loop until done() or the timeout; false on timeout.
template <typename Done>
bool WaitFor(Done done, int timeoutMs = 20000) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done()) {
            loop.quit();
        }
    });
    poll.start(20);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

class MapPage {
public:
    explicit MapPage(const std::string& url) {
        view_.resize(800, 600);
        view_.show();
        bool loaded = false;
        QObject::connect(view_.page(), &QWebEnginePage::loadFinished,
                         [&loaded](bool) { loaded = true; });
        view_.load(QUrl(QString::fromStdString(url)));
        loadedInTime_ = WaitFor([&] { return loaded; });
    }

    bool Loaded() const { return loadedInTime_; }

    // Evaluates a script that returns JSON text and parses it.
    QJsonValue Evaluate(const QString& script) {
        QString result;
        bool done = false;
        view_.page()->runJavaScript(script, [&](const QVariant& value) {
            result = value.toString();
            done = true;
        });
        WaitFor([&] { return done; });
        return QJsonDocument::fromJson(("[" + result + "]").toUtf8()).array().at(0);
    }

    // Every tile image once all of them have loaded: src and box.
    QJsonArray LoadedTiles() {
        const QString script = QStringLiteral(
            "JSON.stringify(Array.from(document.querySelectorAll('img.leaflet-tile'))"
            ".map(function (i) { var r = i.getBoundingClientRect();"
            " return {src: i.getAttribute('src'), natural: i.naturalWidth, complete: i.complete,"
            " left: r.left, top: r.top, width: r.width, height: r.height}; }))");
        QJsonArray tiles;
        WaitFor([&] {
            tiles = Evaluate(script).toArray();
            bool all = !tiles.isEmpty();
            for (const QJsonValue& tile : tiles) {
                all = all && tile["complete"].toBool() && tile["natural"].toInt() == 256;
            }
            return all;
        });
        return tiles;
    }

private:
    QWebEngineView view_;
    bool loadedInTime_ = false;
};

TEST(MapPage, ShowsUnscaledTileImagesWhoseUrlsCarryTheirPosition) {
    DemoServer server;
    MapPage page(server.SiteAddress() + "/?hl=de&zoom=3&lat=0&lng=0");
    ASSERT_TRUE(page.Loaded());
    const QJsonArray tiles = page.LoadedTiles();
    ASSERT_FALSE(tiles.isEmpty());
    for (const QJsonValue& tile : tiles) {
        const std::string src = tile["src"].toString().toStdString();
        EXPECT_THAT(src, HasSubstr("?v=w2.97&hl=de&x="));
        EXPECT_THAT(src, HasSubstr("&zoom=3&"));
        EXPECT_THAT(src, ::testing::ContainsRegex("^http://mt[0-3]\\.google\\.localhost:"));
        EXPECT_EQ(tile["width"].toDouble(), 256.0) << src;
        EXPECT_EQ(tile["height"].toDouble(), 256.0) << src;
        const double left = tile["left"].toDouble();
        EXPECT_EQ(left, static_cast<int>(left)) << "tiles sit on whole pixels";
    }
    // Every request went to this service: Leaflet is served by it too.
    bool leafletServed = false;
    for (const test::LoggedRequest& request : server.Requests()) {
        EXPECT_THAT(request.Header("Host"), HasSubstr("localhost:"));
        leafletServed = leafletServed || request.Target() == "/leaflet/leaflet.js";
    }
    EXPECT_TRUE(leafletServed);
}

TEST(MapPage, TheTopmostElementOverATileIsItsImage) {
    DemoServer server;
    MapPage page(server.SiteAddress() + "/?zoom=4&lat=10&lng=10");
    ASSERT_TRUE(page.Loaded());
    const QJsonArray tiles = page.LoadedTiles();
    ASSERT_FALSE(tiles.isEmpty());
    const QJsonObject hit =
        page.Evaluate(QStringLiteral(
                          "JSON.stringify((function () { var e = document.elementFromPoint(400, "
                          "300); return {tag: e.tagName, src: e.getAttribute('src')}; })())"))
            .toObject();
    EXPECT_EQ(hit["tag"].toString(), "IMG");
    bool found = false;
    for (const QJsonValue& tile : tiles) {
        const double left = tile["left"].toDouble();
        const double top = tile["top"].toDouble();
        if (left <= 400 && 400 < left + 256 && top <= 300 && 300 < top + 256) {
            EXPECT_EQ(hit["src"].toString(), tile["src"].toString());
            found = true;
        }
    }
    EXPECT_TRUE(found);
}

TEST(MapPage, TheLayerSwitcherChangesTheTileVersion) {
    DemoServer server;
    MapPage page(server.SiteAddress() + "/");
    ASSERT_TRUE(page.Loaded());
    ASSERT_FALSE(page.LoadedTiles().isEmpty());
    for (const auto& [label, expected] :
         {std::pair{"Satellite", "/kh?v=w2t.50&"}, std::pair{"Terrain", "/vt?v=w2p.115&"},
          std::pair{"Map", "/vt?v=w2.97&"}}) {
        page.Evaluate(QStringLiteral("JSON.stringify(Array.from(document.querySelectorAll("
                                     "'.leaflet-control-layers-base label')).filter(function (l) "
                                     "{ return l.textContent.trim() === '%1'; })[0]"
                                     ".querySelector('input').click())")
                          .arg(label));
        bool switched = WaitFor([&] {
            const QJsonArray tiles = page.LoadedTiles();
            bool all = !tiles.isEmpty();
            for (const QJsonValue& tile : tiles) {
                all = all && tile["src"].toString().contains(expected);
            }
            return all;
        });
        EXPECT_TRUE(switched) << label;
    }
}

} // namespace
} // namespace quiltara

// Qt WebEngine must be torn down before the application object, so the
// application lives on main()'s stack around all tests.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
