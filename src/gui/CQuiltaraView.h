#pragma once

#include <QPoint>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>

#include "gui/CSelectionOverlay.h"
#include "sources/SourceCatalogue.h"
#include "tiles/TileGrid.h"
#include "view/TileSightings.h"

class QPrinter;
class QWebEngineView;

namespace quiltara {

class PageDocument;
class Prompts;
class QtPageDocument;
class QtSourceHeaderInterceptor;
struct PanelValues;

// The main frame's client area: the embedded browser that shows the map site.
// It navigates only when asked (no start page), takes the page document when
// a page has finished loading, keeps the selection overlay laid exactly over
// the browser, and prints the page through Qt's print support.
//
// Its input filter sits on the widget through which the browser receives
// input: every mouse move runs the location readout, the left button drives
// the selection, and while a drag is under way or the map is locked the
// page's input is held back (paint always goes through).
class CQuiltaraView : public QWidget {
    Q_OBJECT

public:
    // catalogue: where the addresses of the program's own map pages find
    // their source; the caller keeps it alive as long as the view.
    explicit CQuiltaraView(const SourceCatalogue& catalogue, QWidget* parent = nullptr);
    ~CQuiltaraView() override;

    // Navigates the browser to the URL as given (a bare host name is taken as
    // http). The program's own map page of a catalogue source puts that
    // source on show; any other address takes it off.
    void Navigate(const std::string& url);
    // The catalogue source whose map page was last asked for, if any: a copy,
    // which a later reading of the catalogue leaves alone.
    const TileSource* ShownSource() const { return shownSource_ ? &*shownSource_ : nullptr; }

    // The page that finished loading last, or none before the first page.
    PageDocument* GetPageDocument() const;

    QWebEngineView* Browser() const { return browser_; }
    // The widget where the browser receives input, as the filter watches it.
    QWidget* InputWidget() const { return inputWidget_.data(); }

    // The selection overlay, or none before it is first asked for.
    CSelectionOverlay* SelectionOverlay() const { return overlay_.data(); }
    // The selection overlay, made (hidden, over the whole view) if there is none.
    CSelectionOverlay* CreateSelectionOverlay();

    // While false, input meant for the page is held back (the map is locked).
    void SetInputPassThrough(bool passThrough) { inputPassThrough_ = passThrough; }
    bool InputPassThrough() const { return inputPassThrough_; }

    // The control panel's values, which the location readout writes; none
    // means there is no control panel: probes then find no tile and the
    // readout does nothing.
    void SetPanelValues(PanelValues* values) { panelValues_ = values; }
    // Where the probe shows its "make the window wider / higher" messages.
    void SetPrompts(Prompts* prompts) { prompts_ = prompts; }

    // The selection's corners (top-left first) in fractional tile units at the
    // page's zoom; -1 values for a corner whose position cannot be found.
    CTileRect GetTileRect(int x1, int y1, int x2, int y2);
    CTilePoint GetTilePosition(int x, int y);

    // "&Print...": the print dialog, then the page. "Print Pre&view": Qt's
    // preview of the page. The direct print goes to the printer as set up.
    void OnFilePrint(QPrinter& printer);
    void OnFilePrintPreview(QPrinter& printer);
    void OnFilePrintDirect(QPrinter& printer);

signals:
    // A page has finished loading and its document is held.
    void DocumentComplete(const QUrl& url);
    // The location readout has changed the panel's values.
    void LocationChanged();
    // The mouse has moved over a page of the map service for a while and
    // found no tile image the probe can read (once per page).
    void NoReadableTiles();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnDocumentComplete(bool ok);
    void FitOverlay();
    void WatchInputWidget();
    bool FilterInput(QEvent* event);
    void OnMouseMove(QPoint point);
    void RunLocationReadouts();
    void ReadLocationAt(QPoint point);

    const SourceCatalogue& catalogue_;
    QWebEngineView* browser_;
    // The shown source's header lines on the page's own tile requests.
    QtSourceHeaderInterceptor* sourceHeaders_;
    // Shared with a probe under way, which a page load must not cut short.
    std::shared_ptr<QtPageDocument> pageDocument_;
    QPointer<CSelectionOverlay> overlay_;
    QPointer<QWidget> inputWidget_;
    bool inputPassThrough_ = true;
    PanelValues* panelValues_ = nullptr;
    Prompts* prompts_ = nullptr;
    std::optional<TileSource> shownSource_;
    TileSightings sightings_;
    // Mouse moves only leave their point here; the readout runs later for the
    // latest one, so moves that arrive while the page is asked do not pile up.
    QPoint latestMove_;
    bool readoutWanted_ = false;
    bool readoutRunning_ = false;
};

} // namespace quiltara
