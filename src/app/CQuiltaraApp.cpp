#include "app/CQuiltaraApp.h"

#include <algorithm>

#include <QApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QScreen>
#include <QWebEngineProfile>
#include <QWindow>

#include "app/AppIcon.h"
#include "app/CAboutDlg.h"
#include "app/CMainFrame.h"
#include "app/CQuiltaraDoc.h"
#include "app/CommandIds.h"
#include "app/StartCounter.h"
#include "gui/CAddTileSourceDlg.h"
#include "gui/CControlPanel.h"
#include "gui/CProxyDlg.h"
#include "gui/DialogUnits.h"
#include "gui/QtMapServiceInterceptor.h"
#include "gui/QtSourcePageHandler.h"
#include "gui/ShellOpen.h"
#include "platform/CurlHttpClient.h"
#include "platform/Prompts.h"
#include "sources/SourcePage.h"

namespace quiltara {

namespace {
// Room for the window manager's border between the frame and the panel.
constexpr int kPanelGap = 6;
} // namespace

CQuiltaraApp::CQuiltaraApp(SettingsStore& settings, Prompts& prompts, QStringList arguments)
    : settings_(settings),
      prompts_(prompts),
      arguments_(std::move(arguments)),
      printer_(std::make_unique<QPrinter>()),
      document_(std::make_unique<CQuiltaraDoc>()) {}

CQuiltaraApp::~CQuiltaraApp() {
    // The panel goes first: a run it still has uses the frame's view.
    panel_.reset();
    frame_.reset();
    if (interceptor_) {
        QWebEngineProfile::defaultProfile()->setUrlRequestInterceptor(nullptr);
    }
    if (sourcePages_) {
        QWebEngineProfile::defaultProfile()->removeUrlSchemeHandler(sourcePages_.get());
    }
}

bool CQuiltaraApp::InitInstance() {
    // Before any window, so that every window shows it, message boxes
    // without a parent included; the desktop entry of the same name lets
    // the desktop match the windows to the installed icon.
    QApplication::setWindowIcon(AppIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("quiltara"));

    // Counted before anything else can fail, so every start is counted.
    CountStart(settings_, prompts_, [] { OpenDonationPage(); });

    proxy_ = ProxySetting(settings_, kProxySettingOrigin);
    LoadCatalogue();
    if (route_) {
        // Installed before the frame's browser makes its first request.
        interceptor_ = std::make_unique<QtMapServiceInterceptor>(route_->RedirectOrigins());
        QWebEngineProfile::defaultProfile()->setUrlRequestInterceptor(interceptor_.get());
    }
    sourcePages_ = std::make_unique<QtSourcePageHandler>(settings_, catalogue_);
    sourcePages_->SetHttpClients([this] { return CreateHttpClient(); });
    QWebEngineProfile::defaultProfile()->installUrlSchemeHandler(kSourcePageScheme,
                                                                 sourcePages_.get());
    frame_ = CreateFrame();
    if (!frame_) {
        return false;
    }
    BindApplicationCommands();
    connect(frame_.get(), &CMainFrame::Closed, this, &CQuiltaraApp::OnFrameClosed);
    if (!ProcessCommandLine()) {
        frame_.reset();
        return false;
    }

    frame_->show();
    frame_->repaint();

    panel_ = CreateControlPanel();
    if (panel_) {
        PlaceControlPanel();
        panel_->show();
        frame_->SetCloseCheck([this] { return !panel_ || panel_->ConfirmQuit(); });
    }
    return true;
}

std::unique_ptr<CMainFrame> CQuiltaraApp::CreateFrame() {
    auto frame = std::make_unique<CMainFrame>(*document_, prompts_, *printer_, catalogue_);
    // The frame takes most of the screen but leaves room beside it for the
    // control panel (255 dialog units wide plus its window border).
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        const int panelWidth = DialogUnits(QApplication::font()).X(255) + 16;
        const QPoint margin(available.width() / 40, available.height() / 20);
        const int width =
            std::min(available.width() * 2 / 3, available.width() - panelWidth - 2 * margin.x());
        frame->resize(std::max(width, available.width() / 2), available.height() * 3 / 4);
        frame->move(available.topLeft() + margin);
    }
    return frame;
}

std::unique_ptr<CControlPanel> CQuiltaraApp::CreateControlPanel() {
    ControlPanelServices services{prompts_,
                                  settings_,
                                  rememberedServer_,
                                  overwriteChoice_,
                                  [this] { return CreateHttpClient(); },
                                  catalogue_,
                                  [this] { LoadCatalogue(); }};
    return std::make_unique<CControlPanel>(frame_.get(), std::move(services));
}

void CQuiltaraApp::LoadCatalogue() {
    catalogue_ = LoadSourceCatalogue(SourceFolders());
}

std::unique_ptr<HttpClient> CQuiltaraApp::CreateHttpClient() {
    auto http = std::make_unique<CurlHttpClient>();
    if (route_) {
        http->SetConnectTo(route_->ConnectToEntries());
    }
    const std::lock_guard<std::mutex> lock(proxyMutex_);
    http->SetProxy(proxy_);
    return http;
}

bool CQuiltaraApp::ProcessCommandLine() {
    // A file named on the command line is opened as the document; without
    // one the document is new and empty.
    if (arguments_.isEmpty()) {
        document_->OnNewDocument();
        return true;
    }
    if (document_->OnOpenDocument(arguments_.front())) {
        return true;
    }
    prompts_.ShowMessage("Could not open " + arguments_.front().toStdString() + ".",
                         MessageButtons::Ok);
    return false;
}

void CQuiltaraApp::BindApplicationCommands() {
    connect(frame_->Command(kIdAppAbout), &QAction::triggered, this, &CQuiltaraApp::OnAppAbout);
    connect(frame_->Command(kIdFileNew), &QAction::triggered, this, &CQuiltaraApp::OnFileNew);
    connect(frame_->Command(kIdFileOpen), &QAction::triggered, this, &CQuiltaraApp::OnFileOpen);
    connect(frame_->Command(kIdFilePrintSetup), &QAction::triggered, this,
            &CQuiltaraApp::OnFilePrintSetup);
    connect(frame_->Command(kIdViewToolbar), &QAction::triggered, this,
            &CQuiltaraApp::OnViewToolbar);
    connect(frame_->Command(kIdFileAddTileSource), &QAction::triggered, this,
            &CQuiltaraApp::OnFileAddTileSource);
    connect(frame_->Command(kIdEditProxy), &QAction::triggered, this, &CQuiltaraApp::OnEditProxy);
}

void CQuiltaraApp::PlaceControlPanel() {
    // To the right of the frame, level with its top, kept on the screen. The
    // position is set before the panel's native window exists, so that it
    // counts as the position of the panel's outer frame, like the main frame's.
    const QRect frameRect = frame_->frameGeometry();
    QPoint at(frameRect.right() + 1 + kPanelGap, frameRect.top());
    if (const QScreen* screen = frame_->screen()) {
        const QRect available = screen->availableGeometry();
        // The panel's border is not known before it is shown; the frame's is.
        const int border = frameRect.width() - frame_->width();
        at.setX(std::min(at.x(), available.right() + 1 - panel_->width() - border));
    }
    panel_->move(at);

    // The panel has no parent, so it lives on when the frame is hidden, but it
    // stays above the frame like a window the frame owns.
    panel_->winId();
    if (frame_->windowHandle() != nullptr && panel_->windowHandle() != nullptr) {
        panel_->windowHandle()->setTransientParent(frame_->windowHandle());
    }
}

void CQuiltaraApp::OnFrameClosed() {
    // Closing the frame ends the program, control panel included.
    if (panel_) {
        panel_->close();
    }
}

void CQuiltaraApp::OnAppAbout() {
    CAboutDlg about(prompts_, frame_.get());
    about.DoModal();
}

void CQuiltaraApp::OnFileNew() {
    document_->OnNewDocument();
}

void CQuiltaraApp::OnFileOpen() {
    const QString path = QFileDialog::getOpenFileName(frame_.get(), QStringLiteral("Open"),
                                                      QString(), QStringLiteral("All Files (*)"));
    if (path.isEmpty()) {
        return;
    }
    if (!document_->OnOpenDocument(path)) {
        prompts_.ShowMessage("Could not open " + path.toStdString() + ".", MessageButtons::Ok);
    }
}

void CQuiltaraApp::OnViewToolbar() {
    if (panel_) {
        panel_->show();
        panel_->raise();
        panel_->activateWindow();
    }
}

void CQuiltaraApp::OnFileAddTileSource() {
    CAddTileSourceDlg dialog(
        prompts_, [this] { return CreateHttpClient(); }, frame_.get());
    if (!dialog.DoModal()) {
        return;
    }
    LoadCatalogue();
    if (panel_) {
        panel_->OfferSiteChooser(kTileSourceAddedHint);
    }
}

void CQuiltaraApp::OnEditProxy() {
    CProxyDlg dialog(settings_, prompts_, frame_.get());
    if (dialog.DoModal()) {
        const std::lock_guard<std::mutex> lock(proxyMutex_);
        proxy_ = ProxySetting(settings_, kProxySettingOrigin);
    }
}

void CQuiltaraApp::OnFilePrintSetup() {
    QPageSetupDialog setup(printer_.get(), frame_.get());
    setup.exec();
}

} // namespace quiltara
