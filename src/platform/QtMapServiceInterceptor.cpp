#include "platform/QtMapServiceInterceptor.h"

namespace quiltara {

void QtMapServiceInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
    const std::string url = info.requestUrl().toString(QUrl::FullyEncoded).toStdString();
    if (const std::optional<std::string> target = route_.Redirect(url)) {
        info.redirect(QUrl(QString::fromStdString(*target), QUrl::StrictMode));
    }
}

} // namespace quiltara
