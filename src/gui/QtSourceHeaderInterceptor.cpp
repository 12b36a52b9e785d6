#include "gui/QtSourceHeaderInterceptor.h"

#include "sources/SourcePageRequests.h"

namespace quiltara {

void QtSourceHeaderInterceptor::SetSource(const TileSource* source) {
    source_.reset();
    if (source != nullptr) {
        source_ = *source;
    }
}

void QtSourceHeaderInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
    if (!source_) {
        return;
    }
    const std::string url = info.requestUrl().toString(QUrl::FullyEncoded).toStdString();
    for (const auto& [name, value] : PageRequestHeaders(*source_, url)) {
        info.setHttpHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
    }
}

} // namespace quiltara
