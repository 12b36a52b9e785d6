#include "gui/QtSourcePageHandler.h"

#include <QBuffer>
#include <QFile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include "sources/SourceCatalogue.h"
#include "sources/SourcePage.h"

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

} // namespace quiltara
