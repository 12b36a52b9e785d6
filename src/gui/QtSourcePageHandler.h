#pragma once

#include <QWebEngineUrlSchemeHandler>

namespace quiltara {

class SettingsStore;
struct SourceCatalogue;

// Serves the program's own map page for catalogue sources under the
// "quiltara:" scheme, with Leaflet's files from the system's copy, and keeps
// the position each page reports. No local web server is involved. The
// sources come from the catalogue given, which outlives the handler.
class QtSourcePageHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT

public:
    QtSourcePageHandler(SettingsStore& settings, const SourceCatalogue& catalogue,
                        QObject* parent = nullptr);

    // Makes the scheme known to the browser engine; must run before the
    // application object is made.
    static void RegisterScheme();

    void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
    SettingsStore& settings_;
    const SourceCatalogue& catalogue_;
};

} // namespace quiltara
