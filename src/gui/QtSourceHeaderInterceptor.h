#pragma once

#include <QWebEngineUrlRequestInterceptor>

#include <optional>

#include "sources/SourceCatalogue.h"

namespace quiltara {

// Gives the map page's own requests the header lines of the catalogue source
// on show, the lines its downloads send (a Referer or a key a service asks
// for), and only for the hosts of that source's templates. Installed on the
// page of the map view, after the profile's interceptor.
class QtSourceHeaderInterceptor : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT

public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

    // The source whose page is on show; none: no request gets lines added.
    void SetSource(const TileSource* source);

    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

private:
    std::optional<TileSource> source_;
};

} // namespace quiltara
