#pragma once

#include <QWebEngineUrlRequestInterceptor>

#include "sources/MapServiceRoute.h"

namespace quiltara {

// Sends the embedded browser's requests for the map service's host names to
// the route's address; every other request goes where it names.
class QtMapServiceInterceptor : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT

public:
    explicit QtMapServiceInterceptor(MapServiceRoute route, QObject* parent = nullptr)
        : QWebEngineUrlRequestInterceptor(parent), route_(std::move(route)) {}

    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

private:
    MapServiceRoute route_;
};

} // namespace quiltara
