#include "view/CQuiltaraView.h"

#include <QEventLoop>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QResizeEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineView>

#include "view/QtPageDocument.h"

namespace quiltara {

namespace {
constexpr int kPrintTimeoutMs = 120000;
} // namespace

CQuiltaraView::CQuiltaraView(QWidget* parent)
    : QWidget(parent), browser_(new QWebEngineView(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(browser_);
    connect(browser_, &QWebEngineView::loadFinished, this, &CQuiltaraView::OnDocumentComplete);
}

CQuiltaraView::~CQuiltaraView() = default;

void CQuiltaraView::Navigate(const std::string& url) {
    browser_->load(QUrl::fromUserInput(QString::fromStdString(url)));
}

PageDocument* CQuiltaraView::GetPageDocument() const {
    return pageDocument_.get();
}

void CQuiltaraView::OnDocumentComplete(bool ok) {
    // A failed load still leaves the browser's own error page; its document
    // is taken like any other, and probes simply find no tiles on it.
    static_cast<void>(ok);
    pageDocument_ = std::make_unique<QtPageDocument>(browser_->page());
    emit DocumentComplete(browser_->url());
}

void CQuiltaraView::SetOverlayWidget(QWidget* overlay) {
    overlay_ = overlay;
    if (!overlay) {
        return;
    }
    if (overlay->parentWidget() != this) {
        overlay->setParent(this);
    }
    FitOverlay();
    overlay->raise();
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
