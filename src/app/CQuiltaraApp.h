#pragma once

#include <QObject>
#include <QStringList>

#include <memory>
#include <mutex>
#include <optional>

#include "download/TileDownloader.h"
#include "platform/ProxyChoice.h"
#include "sources/MapServiceRoute.h"
#include "sources/SourceCatalogue.h"
#include "tiles/TileSources.h"

class QPrinter;
class QWidget;

namespace quiltara {

class QtSourcePageHandler;

class CControlPanel;
class CMainFrame;
class CQuiltaraDoc;
class HttpClient;
class QtMapServiceInterceptor;
class Prompts;
class SettingsStore;

// The application: starts the program and owns what lives as long as it does
// (the document, the source catalogue, the main frame with the map view, the
// control panel, the printer settings). It handles the commands routed to the
// application: About, New, Open and Print Setup.
class CQuiltaraApp : public QObject {
    Q_OBJECT

public:
    // arguments: the command line after the program name, Qt's own options
    // already taken out. The settings store and the prompts outlive the app.
    CQuiltaraApp(SettingsStore& settings, Prompts& prompts, QStringList arguments = {});
    ~CQuiltaraApp() override;

    // Start-up: counts the start (and thanks the user at every fifth start up
    // to the thirtieth), builds and shows the frame with its map view, then
    // the control panel. False when the program cannot go on.
    bool InitInstance();

    // Sends the map service's requests (the browser's and the downloads') to
    // the route's address, the bundled offline map service for one. Set
    // before InitInstance.
    void SetMapServiceRoute(std::optional<MapServiceRoute> route) { route_ = std::move(route); }

    CMainFrame* MainFrame() const { return frame_.get(); }
    CControlPanel* ControlPanel() const { return panel_.get(); }
    CQuiltaraDoc& Document() const { return *document_; }
    SettingsStore& Settings() const { return settings_; }
    // Read at start-up and again whenever the site chooser opens.
    const SourceCatalogue& Catalogue() const { return catalogue_; }
    Prompts& GetPrompts() const { return prompts_; }
    QPrinter& Printer() const { return *printer_; }

    void OnAppAbout();
    void OnFileNew();
    void OnFileOpen();
    void OnFilePrintSetup();
    // "Add Tile Source...": the dialog, then the catalogue read again, so
    // the site chooser lists the new source, and the panel offers it.
    void OnFileAddTileSource();
    // "&Toolbar" in the View menu: the control panel shown and brought forward.
    void OnViewToolbar();
    // "Proxy..." in the Edit menu: the Proxy setting, which every HTTP client
    // made from then on takes.
    void OnEditProxy();

protected:
    // The frame with its map view; none when it cannot be made.
    virtual std::unique_ptr<CMainFrame> CreateFrame();
    virtual std::unique_ptr<CControlPanel> CreateControlPanel();
    // The HTTP client of one create-map run (made on the run's thread).
    virtual std::unique_ptr<HttpClient> CreateHttpClient();

private:
    bool ProcessCommandLine();
    void BindApplicationCommands();
    void PlaceControlPanel();
    // Reads the catalogue's files, at start-up and whenever the site chooser
    // opens. The object stays the same, so the references the view, the map
    // pages and the panel hold stay good; only what it holds is replaced
    // (nothing keeps a pointer into it across a reading: the view and a run
    // keep copies of their source).
    void LoadCatalogue();
    void OnFrameClosed();

    SettingsStore& settings_;
    Prompts& prompts_;
    QStringList arguments_;
    std::unique_ptr<QPrinter> printer_;
    std::unique_ptr<CQuiltaraDoc> document_;
    // Before everything that holds it by reference, so it goes after them.
    SourceCatalogue catalogue_;
    std::optional<MapServiceRoute> route_;
    std::unique_ptr<QtMapServiceInterceptor> interceptor_;
    std::unique_ptr<QtSourcePageHandler> sourcePages_;
    // The Proxy setting as last read; clients are made on other threads.
    std::mutex proxyMutex_;
    ProxyChoice proxy_;
    // Kept for the program's whole run, across create-map runs.
    RememberedServerNumber rememberedServer_;
    OverwriteChoice overwriteChoice_;
    std::unique_ptr<CMainFrame> frame_;
    std::unique_ptr<CControlPanel> panel_;
};

} // namespace quiltara
