#pragma once

#include <QWebEngineUrlSchemeHandler>

#include <functional>
#include <future>
#include <list>
#include <memory>

class QWebEngineUrlRequestJob;

namespace quiltara {

class HttpClient;
class SettingsStore;
struct SourceCatalogue;

// Serves the program's own map page for catalogue sources under the
// "quiltara:" scheme, with Leaflet's files from the system's copy, and keeps
// the position each page reports. No local web server is involved. The
// sources come from the catalogue given, which outlives the handler. When a
// tile of a page does not load, the page asks here why: the tile is asked
// for once more as a download would ask for it, on a thread of its own, and
// the answer goes back to the page as the line it shows.
class QtSourcePageHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT

public:
    QtSourcePageHandler(SettingsStore& settings, const SourceCatalogue& catalogue,
                        QObject* parent = nullptr);
    // Waits for the tile questions still under way.
    ~QtSourcePageHandler() override;

    // How a tile question makes its HTTP client (it must reach the tile
    // servers as the downloads do); without one, a plain client.
    void SetHttpClients(std::function<std::unique_ptr<HttpClient>()> make) {
        makeHttpClient_ = std::move(make);
    }

    // Makes the scheme known to the browser engine; must run before the
    // application object is made.
    static void RegisterScheme();

    void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
    // "quiltara:/tile-problem?...": answered once the tile has been asked for.
    void ExplainTileProblem(QWebEngineUrlRequestJob* job);

    SettingsStore& settings_;
    const SourceCatalogue& catalogue_;
    std::function<std::unique_ptr<HttpClient>()> makeHttpClient_;
    std::list<std::future<void>> questions_;
};

} // namespace quiltara
