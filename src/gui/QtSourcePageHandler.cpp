#include "gui/QtSourcePageHandler.h"

#include <QBuffer>
#include <QFile>
#include <QPointer>
#include <QUrlQuery>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include <chrono>

#include "platform/CurlHttpClient.h"
#include "sources/SourceCatalogue.h"
#include "sources/SourcePage.h"
#include "sources/SourcePageRequests.h"

#ifndef QUILTARA_LEAFLET_DIR
#define QUILTARA_LEAFLET_DIR "/usr/share/javascript/leaflet"
#endif

namespace quiltara {
namespace {

void Reply(QWebEngineUrlRequestJob* job, const QByteArray& mime, const QByteArray& body) {
    auto* buffer = new QBuffer(job); // goes with the job
    buffer->setData(body);
    job->reply(mime, buffer);
}

QByteArray MimeOf(const QString& path) {
    if (path.endsWith(QLatin1String(".js"))) {
        return "text/javascript";
    }
    if (path.endsWith(QLatin1String(".css"))) {
        return "text/css";
    }
    if (path.endsWith(QLatin1String(".png"))) {
        return "image/png";
    }
    return "application/octet-stream";
}

} // namespace

QtSourcePageHandler::QtSourcePageHandler(SettingsStore& settings, const SourceCatalogue& catalogue,
                                         QObject* parent)
    : QWebEngineUrlSchemeHandler(parent), settings_(settings), catalogue_(catalogue) {}

QtSourcePageHandler::~QtSourcePageHandler() = default; // the futures wait for their threads

void QtSourcePageHandler::RegisterScheme() {
    QWebEngineUrlScheme scheme(kSourcePageScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    // Not a local scheme: the browser engine would then refuse the page's
    // tiles from http services. Web pages are kept out in requestStarted.
    scheme.setFlags({});
    QWebEngineUrlScheme::registerScheme(scheme);
}

void QtSourcePageHandler::requestStarted(QWebEngineUrlRequestJob* job) {
    const QUrl url = job->requestUrl();
    const QString path = url.path();
    const std::string address = url.toString().toStdString();
    // Only the program opens its pages; a web page may not load them (nor
    // have a position remembered).
    const QUrl initiator = job->initiator();
    if (initiator.isValid() && !initiator.isEmpty() &&
        initiator.scheme() != QLatin1String(kSourcePageScheme)) {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    if (path.startsWith(QLatin1String("/leaflet/")) || path.startsWith(QLatin1String("leaflet/"))) {
        const QString name = path.mid(path.indexOf(QLatin1String("leaflet/")) + 8);
        QFile file(QStringLiteral(QUILTARA_LEAFLET_DIR "/") + name);
        if (name.contains(QLatin1String("..")) || !file.open(QIODevice::ReadOnly)) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        Reply(job, MimeOf(name), file.readAll());
        return;
    }
    if (path == QLatin1String("/") + QLatin1String(kTileProblemPath) ||
        path == QLatin1String(kTileProblemPath)) {
        ExplainTileProblem(job);
        return;
    }
    if (RememberSourcePosition(address, settings_)) {
        Reply(job, "text/plain", {});
        return;
    }
    const std::optional<SourcePageRequest> request = ParseSourcePageAddress(address);
    if (!request) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    // The catalogue as last read (at start-up or as the site chooser opened),
    // so the page and the source the view puts on show are the same one.
    const TileSource* source = catalogue_.Find(request->sourceId);
    const std::string html =
        source != nullptr
            ? SourcePageHtml(*source, SourcePageStart(*source, request->position, settings_))
            : SourcePageErrorHtml("There is no tile source '" + request->sourceId +
                                  "'. Its file goes in " + UserSourcesFolder().string() + ".");
    Reply(job, "text/html; charset=utf-8", QByteArray::fromStdString(html));
}

void QtSourcePageHandler::ExplainTileProblem(QWebEngineUrlRequestJob* job) {
    const QUrlQuery query(job->requestUrl());
    const TileSource* found =
        catalogue_.Find(query.queryItemValue(QStringLiteral("source")).toStdString());
    const std::string key =
        query.queryItemValue(QStringLiteral("key"), QUrl::FullyDecoded).toStdString();
    const std::string url =
        query.queryItemValue(QStringLiteral("url"), QUrl::FullyDecoded).toStdString();
    // Only a tile of the source on the page is ever asked for.
    if (found == nullptr || !TileProblemText(*found, url, TileCheck{}).has_value()) {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    questions_.remove_if([](const std::future<void>& question) {
        return question.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    });
    std::unique_ptr<HttpClient> http;
    if (makeHttpClient_) {
        http = makeHttpClient_();
    } else {
        http = std::make_unique<CurlHttpClient>();
    }
    const QPointer<QWebEngineUrlRequestJob> waiting(job);
    questions_.push_back(std::async(
        std::launch::async, [this, waiting, source = *found, key, url, http = std::move(http)] {
            const TileCheck check = CheckTileAddress(source, url, *http);
            const QByteArray script = QByteArray::fromStdString(
                TileProblemScript(key, TileProblemText(source, url, check).value_or("")));
            // Replied on the handler's thread; a job the page gave up is gone.
            QMetaObject::invokeMethod(
                this,
                [waiting, script] {
                    if (waiting) {
                        Reply(waiting, "text/javascript", script);
                    }
                },
                Qt::QueuedConnection);
        }));
}

} // namespace quiltara
