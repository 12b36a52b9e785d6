#include "gui/CQuiltaraView.h"

#include <QEventLoop>
#include <QMouseEvent>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QResizeEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <optional>

#include "gui/CSelectionOverlay.h"
#include "gui/QtPageDocument.h"
#include "gui/QtSourceHeaderInterceptor.h"
#include "sources/SourcePage.h"
#include "view/MapProbe.h"
#include "view/PanelValues.h"
#include "view/SelectionState.h"

namespace quiltara {

namespace {

constexpr int kPrintTimeoutMs = 120000;

// Which of the filter's kinds an event bound for the page is; none for the
// events that are no input (resize, focus, enter and leave, ...), which always
// go through.
std::optional<InputEvent> Classify(const QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseMove:
            return InputEvent::MouseMove;
        case QEvent::MouseButtonPress:
            return static_cast<const QMouseEvent*>(event)->button() == Qt::LeftButton
                       ? InputEvent::LeftButtonDown
                       : InputEvent::OtherInput;
        case QEvent::MouseButtonRelease:
            return static_cast<const QMouseEvent*>(event)->button() == Qt::LeftButton
                       ? InputEvent::LeftButtonUp
                       : InputEvent::OtherInput;
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::InputMethod:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TouchCancel:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
        case QEvent::NativeGesture:
            return InputEvent::OtherInput;
        case QEvent::Paint:
            return InputEvent::Paint;
        default:
            return std::nullopt;
    }
}

} // namespace

CQuiltaraView::CQuiltaraView(const SourceCatalogue& catalogue, QWidget* parent)
    : QWidget(parent),
      catalogue_(catalogue),
      browser_(new QWebEngineView(this)),
      sourceHeaders_(new QtSourceHeaderInterceptor(this)) {
    browser_->page()->setUrlRequestInterceptor(sourceHeaders_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(browser_);
    connect(browser_, &QWebEngineView::loadFinished, this, &CQuiltaraView::OnDocumentComplete);
    // The browser makes the widget that receives its input when it first needs
    // it and may replace it later; each new child is a chance that it did.
    browser_->installEventFilter(this);
    WatchInputWidget();
}

CQuiltaraView::~CQuiltaraView() = default;

void CQuiltaraView::Navigate(const std::string& url) {
    shownSource_.reset();
    if (IsSourcePageAddress(url)) {
        if (const std::optional<SourcePageRequest> request = ParseSourcePageAddress(url)) {
            if (const TileSource* source = catalogue_.Find(request->sourceId)) {
                shownSource_ = *source;
            }
        }
        sourceHeaders_->SetSource(ShownSource());
        browser_->load(QUrl(QString::fromStdString(url)));
        return;
    }
    sourceHeaders_->SetSource(nullptr);
    browser_->load(QUrl::fromUserInput(QString::fromStdString(url)));
}

PageDocument* CQuiltaraView::GetPageDocument() const {
    return pageDocument_.get();
}

void CQuiltaraView::OnDocumentComplete(bool ok) {
    // A failed load still leaves the browser's own error page; its document
    // is taken like any other, and probes simply find no tiles on it.
    static_cast<void>(ok);
    pageDocument_ = std::make_shared<QtPageDocument>(browser_->page());
    sightings_.PageLoaded(ShownSource() == nullptr);
    WatchInputWidget();
    emit DocumentComplete(browser_->url());
}

CSelectionOverlay* CQuiltaraView::CreateSelectionOverlay() {
    if (!overlay_) {
        overlay_ = new CSelectionOverlay(this);
        FitOverlay();
        // Above the browser, so that what it draws lands on the page.
        overlay_->raise();
    }
    return overlay_;
}

CTilePoint CQuiltaraView::GetTilePosition(int x, int y) {
    // The probe waits for the page several times; a page load finishing
    // meanwhile must not pull the document from under it.
    const std::shared_ptr<QtPageDocument> page = pageDocument_;
    const MapProbe probe(page.get(), panelValues_ != nullptr, width(), height(), ShownSource());
    return probe.GetTilePosition(x, y, prompts_);
}

CTileRect CQuiltaraView::GetTileRect(int x1, int y1, int x2, int y2) {
    const std::shared_ptr<QtPageDocument> page = pageDocument_;
    const MapProbe probe(page.get(), panelValues_ != nullptr, width(), height(), ShownSource());
    return probe.GetTileRect(x1, y1, x2, y2, prompts_);
}

void CQuiltaraView::WatchInputWidget() {
    QWidget* proxy = browser_->focusProxy();
    if (proxy == inputWidget_) {
        return;
    }
    if (inputWidget_) {
        inputWidget_->removeEventFilter(this);
    }
    inputWidget_ = proxy;
    if (proxy != nullptr) {
        proxy->installEventFilter(this);
    }
}

bool CQuiltaraView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == browser_) {
        if (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildRemoved) {
            // The browser sets its focus proxy after adding the child.
            QMetaObject::invokeMethod(this, &CQuiltaraView::WatchInputWidget, Qt::QueuedConnection);
        }
        return false;
    }
    if (watched == inputWidget_) {
        return FilterInput(event);
    }
    return QWidget::eventFilter(watched, event);
}

bool CQuiltaraView::FilterInput(QEvent* event) {
    const std::optional<InputEvent> kind = Classify(event);
    if (!kind) {
        return false;
    }
    if (*kind == InputEvent::MouseMove || *kind == InputEvent::LeftButtonDown ||
        *kind == InputEvent::LeftButtonUp) {
        const auto* mouse = static_cast<const QMouseEvent*>(event);
        const QPoint point = mapFromGlobal(mouse->globalPosition().toPoint());
        if (*kind == InputEvent::MouseMove) {
            OnMouseMove(point);
        } else if (overlay_ && *kind == InputEvent::LeftButtonDown) {
            overlay_->BeginDrag(point);
        } else if (overlay_) {
            overlay_->EndDrag(point);
        }
    }
    // Paint always goes through. The overlay needs no nudge after it: it lies
    // above the browser, so Qt repaints it over every region the page repaints
    // (and invalidating it from here would make each repaint ask for the next).
    SelectionState* selection = overlay_ ? &overlay_->State() : nullptr;
    return DecideDelivery(*kind, inputPassThrough_, selection) == Delivery::Withheld;
}

void CQuiltaraView::OnMouseMove(QPoint point) {
    latestMove_ = point;
    if (!readoutWanted_) {
        readoutWanted_ = true;
        if (!readoutRunning_) {
            QMetaObject::invokeMethod(this, &CQuiltaraView::RunLocationReadouts,
                                      Qt::QueuedConnection);
        }
    }
    // The selection side decides at once, before this very move is delivered.
    inputPassThrough_ = true;
    if (overlay_) {
        overlay_->TrackDrag(point);
        if (overlay_->State().HoldsPageInput()) {
            inputPassThrough_ = false;
        }
    }
}

void CQuiltaraView::RunLocationReadouts() {
    if (readoutRunning_) {
        return;
    }
    readoutRunning_ = true;
    const QPointer<CQuiltaraView> alive(this);
    while (readoutWanted_) {
        readoutWanted_ = false;
        ReadLocationAt(latestMove_);
        if (!alive) {
            return;
        }
    }
    readoutRunning_ = false;
}

void CQuiltaraView::ReadLocationAt(QPoint point) {
    auto readoutApplies = [this] {
        return pageDocument_ && overlay_ && !overlay_->State().locked && panelValues_ != nullptr;
    };
    if (!readoutApplies()) {
        return;
    }
    const std::shared_ptr<QtPageDocument> page = pageDocument_;
    const QPointer<CQuiltaraView> alive(this);
    const std::optional<PageElement> element = page->ElementAt(point.x(), point.y());
    // The page was asked through the event loop: the map may have been locked
    // or the view closed meanwhile.
    if (!alive || !readoutApplies()) {
        return;
    }
    if (sightings_.Moved(TileSightings::Clock::now(),
                         TileOfElement(element, true, ShownSource()).column != -1)) {
        emit NoReadableTiles();
    }
    std::optional<PanelValues> next =
        ReadLocation(element, point.x(), point.y(), *panelValues_, ShownSource());
    if (next) {
        *panelValues_ = std::move(*next);
        emit LocationChanged();
    }
}

void CQuiltaraView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FitOverlay();
}

void CQuiltaraView::FitOverlay() {
    if (overlay_) {
        overlay_->setGeometry(0, 0, width(), height());
    }
}

void CQuiltaraView::OnFilePrint(QPrinter& printer) {
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() == QDialog::Accepted) {
        OnFilePrintDirect(printer);
    }
}

void CQuiltaraView::OnFilePrintPreview(QPrinter& printer) {
    QPrintPreviewDialog preview(&printer, this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* target) { OnFilePrintDirect(*target); });
    preview.exec();
}

void CQuiltaraView::OnFilePrintDirect(QPrinter& printer) {
    // The browser prints in the background; the preview and the caller expect
    // the pages to be there when this returns.
    // A browser that never reports back (it refused to start a second print)
    // must not hold the program forever.
    bool finished = false;
    QEventLoop loop;
    connect(browser_, &QWebEngineView::printFinished, &loop, [&finished, &loop] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(kPrintTimeoutMs, &loop, &QEventLoop::quit);
    browser_->print(&printer);
    if (!finished) {
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
}

} // namespace quiltara
