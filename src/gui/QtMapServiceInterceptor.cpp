#include "gui/QtMapServiceInterceptor.h"

namespace quiltara {

void QtMapServiceInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
    const QUrl url = info.requestUrl();
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) {
        return;
    }
    QString host = url.host().toLower();
    if (host.endsWith('.')) {
        host.chop(1); // "maps.google.com." names the same host
    }
    const auto origin = origins_.find(host.toStdString());
    if (origin == origins_.end()) {
        return;
    }
    QString rest = url.toString(QUrl::FullyEncoded | QUrl::RemoveScheme | QUrl::RemoveAuthority);
    if (!rest.startsWith('/')) {
        rest.prepend('/');
    }
    info.redirect(QUrl(QString::fromStdString(origin->second) + rest, QUrl::StrictMode));
}

} // namespace quiltara
