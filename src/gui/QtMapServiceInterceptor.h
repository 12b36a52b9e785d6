#pragma once

#include <QWebEngineUrlRequestInterceptor>

#include <map>
#include <string>

namespace quiltara {

// Sends the embedded browser's requests for the map service's host names to
// the origin each is mapped to ("http://HOST:PORT"); every other request goes
// where it names.
class QtMapServiceInterceptor : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT

public:
    // origins: lower-case host name -> the origin its requests go to.
    explicit QtMapServiceInterceptor(std::map<std::string, std::string> origins,
                                     QObject* parent = nullptr)
        : QWebEngineUrlRequestInterceptor(parent), origins_(std::move(origins)) {}

    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

private:
    std::map<std::string, std::string> origins_;
};

} // namespace quiltara
