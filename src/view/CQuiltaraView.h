#pragma once

#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <memory>
#include <string>

class QPrinter;
class QWebEngineView;

namespace quiltara {

class QtPageDocument;
class PageDocument;

// The main frame's client area: the embedded browser that shows the map site.
// It navigates only when asked (no start page), takes the page document when
// a page has finished loading, keeps an overlay widget laid exactly over the
// browser, and prints the page through Qt's print support.
class CQuiltaraView : public QWidget {
    Q_OBJECT

public:
    explicit CQuiltaraView(QWidget* parent = nullptr);
    ~CQuiltaraView() override;

    // Navigates the browser to the URL as given (a bare host name is taken as http).
    void Navigate(const std::string& url);

    // The page that finished loading last, or none before the first page.
    PageDocument* GetPageDocument() const;

    QWebEngineView* Browser() const { return browser_; }

    // The widget laid over the browser (the selection overlay), or none. The
    // view takes it as its child, places it over its whole client area, keeps
    // it there on every resize and keeps it above the browser.
    void SetOverlayWidget(QWidget* overlay);
    QWidget* OverlayWidget() const { return overlay_.data(); }

    // While false, input meant for the page is held back (the map is locked).
    void SetInputPassThrough(bool passThrough) { inputPassThrough_ = passThrough; }
    bool InputPassThrough() const { return inputPassThrough_; }

    // "&Print...": the print dialog, then the page. "Print Pre&view": Qt's
    // preview of the page. The direct print goes to the printer as set up.
    void OnFilePrint(QPrinter& printer);
    void OnFilePrintPreview(QPrinter& printer);
    void OnFilePrintDirect(QPrinter& printer);

signals:
    // A page has finished loading and its document is held.
    void DocumentComplete(const QUrl& url);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnDocumentComplete(bool ok);
    void FitOverlay();

    QWebEngineView* browser_;
    std::unique_ptr<QtPageDocument> pageDocument_;
    QPointer<QWidget> overlay_;
    bool inputPassThrough_ = true;
};

} // namespace quiltara
