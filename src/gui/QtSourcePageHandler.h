#pragma once

#include <QWebEngineUrlSchemeHandler>

namespace quiltara {

class SettingsStore;

// Serves the program's own map page for catalogue sources under the
// "quiltara:" scheme, with Leaflet's files from the system's copy, and keeps
// the position each page reports. No local web server is involved.
class QtSourcePageHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT

public:
    explicit QtSourcePageHandler(SettingsStore& settings, QObject* parent = nullptr);

    // Makes the scheme known to the browser engine; must run before the
    // application object is made.
    static void RegisterScheme();

    void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
    SettingsStore& settings_;
};

} // namespace quiltara
