// Takes a picture of the running program for the README: starts the real
// application with settings in a temporary file, optionally navigates the
// map view, waits for the page to settle, and saves what the X screen shows
// of the frame and the panel; or shows one dialog and saves that dialog alone.
// Run it under xvfb-run, with a window manager for the window captions.
//
//   quiltara_screenshot OUT.png [--map-service HOST:PORT] [--url URL | --site URL]
//       [--about | --number | --map-sources | --site-chooser | --proxy |
//        --add-tile-source URL]
//       [--wait MS] [--setting NAME=NUMBER]
//       [--select LEFT,TOP,RIGHT,BOTTOM --outline-zoom Z
//        [--run FOLDER (--run-wait MS | --run-end)]]
//
// --url sends the map view to URL directly; --site goes there the user's way,
// with "1. Goto Google maps..." and URL typed into the site chooser.
// --select makes that selection (view pixels) on the loaded map through the
// control panel, as a user would: "2. Select Area", a drag over the browser,
// the zoom Z chosen in the zoom list and "Draw Helper", which draws the
// outlines of the tiles the map needs.
// --add-tile-source shows "Add Tile Source" with URL read and its first
// usable layers given to the road map and satellite.
// --run then presses "4. Create Map Image", saves into FOLDER with the road
// map and satellite layers, and takes the control panel alone MS into the
// downloads (use a slow offline service: demo-map-server --delay-ms);
// with --run-end, once the run is over (the tiles kept), with its images listed.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineView>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/CAboutDlg.h"
#include "app/CMainFrame.h"
#include "app/CQuiltaraApp.h"
#include "gui/CAddTileSourceDlg.h"
#include "gui/CControlPanel.h"
#include "gui/CMapSourcesDlg.h"
#include "gui/CNumberInputDlg.h"
#include "gui/CProxyDlg.h"
#include "gui/CQuiltaraView.h"
#include "gui/CSiteChooserDlg.h"
#include "gui/QtPrompts.h"
#include "gui/QtSettingsStore.h"
#include "gui/QtSourcePageHandler.h"
#include "platform/BrowserSandbox.h"
#include "platform/CurlHttpClient.h"
#include "platform/ProxyChoice.h"
#include "sources/MapServiceRoute.h"

namespace {

void Wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void SendMouse(QWidget* input, QEvent::Type type, QPoint at, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(at), QPointF(input->mapToGlobal(at)), button, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(input, &event);
}

// "1. Goto Google maps..." with address typed into the site chooser.
void GotoSiteThroughPanel(quiltara::CQuiltaraApp& app, const QString& address) {
    auto* answer = new QTimer(&app);
    answer->setInterval(50);
    QObject::connect(answer, &QTimer::timeout, [answer, address] {
        QWidget* chooser = QApplication::activeModalWidget();
        if (chooser == nullptr) {
            return;
        }
        answer->stop();
        chooser->findChild<QLineEdit*>(QStringLiteral("1018"))->setText(address);
        chooser->findChild<QComboBox*>(QStringLiteral("1026"))->setCurrentIndex(-1);
        chooser->findChild<QPushButton*>(QStringLiteral("1"))->click();
    });
    answer->start();
    app.ControlPanel()
        ->findChild<QPushButton*>(QString::number(quiltara::CControlPanel::kIdGotoSite))
        ->click();
}

// The user's way to a selection with its tile outlines, from the panel.
void SelectThroughPanel(quiltara::CQuiltaraApp& app, const QStringList& corners, int zoom) {
    quiltara::CControlPanel* panel = app.ControlPanel();
    const auto button = [panel](int id) {
        return panel->findChild<QPushButton*>(QString::number(id));
    };
    // At the size the panel opens with: its texts show whole there.
    button(quiltara::CControlPanel::kIdSelectArea)->click();
    QWidget* input = app.MainFrame()->GetActiveView()->InputWidget();
    const QPoint from(corners[0].toInt(), corners[1].toInt());
    const QPoint to(corners[2].toInt(), corners[3].toInt());
    SendMouse(input, QEvent::MouseMove, from, Qt::NoButton, Qt::NoButton);
    Wait(200);
    SendMouse(input, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    for (int step = 1; step <= 8; ++step) {
        SendMouse(input, QEvent::MouseMove, from + (to - from) * step / 8, Qt::NoButton,
                  Qt::LeftButton);
        Wait(20);
    }
    SendMouse(input, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    Wait(300);
    auto* zoomList =
        panel->findChild<QComboBox*>(QString::number(quiltara::CControlPanel::kIdZoomList));
    zoomList->setCurrentIndex(zoom);
    panel->OnZoomChosen();
    button(quiltara::CControlPanel::kIdDrawHelper)->click();
    Wait(500);
}

// "4. Create Map Image" with the save dialog and the map sources answered.
void StartRunThroughPanel(quiltara::CQuiltaraApp& app, const QString& folder) {
    auto* answer = new QTimer(&app);
    answer->setInterval(50);
    QObject::connect(answer, &QTimer::timeout, [answer, folder] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* save = qobject_cast<QFileDialog*>(modal)) {
            // Typed and confirmed, as a user would.
            save->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                ->setText(folder + QStringLiteral("/map.png"));
            save->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save)->click();
        } else if (modal != nullptr && modal->findChild<QCheckBox*>(QStringLiteral("1029"))) {
            for (const char* id : {"1029", "1031"}) {
                modal->findChild<QCheckBox*>(QString::fromLatin1(id))->click();
            }
            modal->findChild<QPushButton*>(QStringLiteral("1"))->click();
            answer->stop();
        }
    });
    answer->start();
    app.ControlPanel()
        ->findChild<QPushButton*>(QString::number(quiltara::CControlPanel::kIdCreateMap))
        ->click();
}

// Waits for the run to end, keeping the tiles when asked.
void WaitForRunEnd(quiltara::CQuiltaraApp& app) {
    QTimer answer;
    answer.setInterval(50);
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            QAbstractButton* no = box->button(QMessageBox::No);
            (no != nullptr ? no : box->buttons().front())->click();
        }
    });
    answer.start();
    QEventLoop ended;
    QObject::connect(app.ControlPanel(), &quiltara::CControlPanel::CreateMapFinished, &ended,
                     &QEventLoop::quit);
    QTimer::singleShot(120000, &ended, &QEventLoop::quit);
    ended.exec();
    Wait(300);
}

} // namespace

int main(int argc, char* argv[]) {
    // Read by the browser engine when it starts, so set before anything of Qt.
    quiltara::SwitchOffBrowserSandboxForRoot();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    quiltara::QtSourcePageHandler::RegisterScheme();
    QApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr,
                     "usage: quiltara_screenshot OUT.png [--map-service HOST:PORT]\n"
                     "       [--url URL | --site URL]\n"
                     "       [--about|--number|--map-sources|--site-chooser|--proxy|\n"
                     "        --add-tile-source URL] [--wait MS]\n"
                     "       [--select LEFT,TOP,RIGHT,BOTTOM --outline-zoom Z\n"
                     "        [--run FOLDER (--run-wait MS | --run-end)]]\n");
        return 2;
    }
    const QString out = args[1];
    QString url;
    QString site;
    QString dialog;
    std::optional<quiltara::MapServiceRoute> route;
    int waitMs = 3000;
    QStringList select;
    QStringList intSettings;
    int outlineZoom = 0;
    QString runFolder;
    int runWaitMs = 3000;
    bool runEnd = false;
    for (qsizetype i = 2; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--url") && i + 1 < args.size()) {
            url = args[++i];
        } else if (args[i] == QStringLiteral("--site") && i + 1 < args.size()) {
            site = args[++i];
        } else if (args[i] == QStringLiteral("--map-service") && i + 1 < args.size()) {
            std::string error;
            route = quiltara::MapServiceRoute::Parse(args[++i].toStdString(), error);
            if (!route) {
                std::fprintf(stderr, "--map-service: %s\n", error.c_str());
                return 2;
            }
        } else if (args[i] == QStringLiteral("--wait") && i + 1 < args.size()) {
            waitMs = args[++i].toInt();
        } else if (args[i] == QStringLiteral("--select") && i + 1 < args.size()) {
            select = args[++i].split(QLatin1Char(','));
        } else if (args[i] == QStringLiteral("--run") && i + 1 < args.size()) {
            runFolder = args[++i];
        } else if (args[i] == QStringLiteral("--run-end")) {
            runEnd = true;
        } else if (args[i] == QStringLiteral("--run-wait") && i + 1 < args.size()) {
            runWaitMs = args[++i].toInt();
        } else if (args[i] == QStringLiteral("--outline-zoom") && i + 1 < args.size()) {
            outlineZoom = args[++i].toInt();
        } else if (args[i] == QStringLiteral("--setting") && i + 1 < args.size()) {
            intSettings << args[++i]; // NAME=NUMBER, stored before the program starts
        } else if (args[i] == QStringLiteral("--add-tile-source") && i + 1 < args.size()) {
            dialog = args[i];
            url = args[++i];
        } else if (args[i] == QStringLiteral("--about") || args[i] == QStringLiteral("--number") ||
                   args[i] == QStringLiteral("--map-sources") ||
                   args[i] == QStringLiteral("--site-chooser") ||
                   args[i] == QStringLiteral("--proxy")) {
            dialog = args[i];
        }
    }

    QTemporaryDir settingsDir;
    quiltara::QtSettingsStore settings(settingsDir.filePath(QStringLiteral("Quiltara.ini")));
    for (const QString& setting : intSettings) {
        settings.SetInt(setting.section(QLatin1Char('='), 0, 0).toStdString(),
                        setting.section(QLatin1Char('='), 1).toInt());
    }
    quiltara::QtPrompts prompts;
    quiltara::CQuiltaraApp app(settings, prompts);
    app.SetMapServiceRoute(route);
    if (!app.InitInstance()) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    if ((!url.isEmpty() || !site.isEmpty()) && dialog != QStringLiteral("--add-tile-source")) {
        quiltara::CQuiltaraView* view = app.MainFrame()->GetActiveView();
        QEventLoop loaded;
        QObject::connect(view, &quiltara::CQuiltaraView::DocumentComplete, &loaded,
                         &QEventLoop::quit);
        QTimer::singleShot(30000, &loaded, &QEventLoop::quit);
        if (site.isEmpty()) {
            view->Navigate(url.toStdString());
        } else {
            GotoSiteThroughPanel(app, site);
        }
        loaded.exec();
    }
    std::unique_ptr<QDialog> shown;
    if (dialog == QStringLiteral("--about")) {
        shown = std::make_unique<quiltara::CAboutDlg>(prompts, app.MainFrame());
    } else if (dialog == QStringLiteral("--number")) {
        shown = std::make_unique<quiltara::CNumberInputDlg>(
            "Please input the new maximum zoom level.  Be aware that, if the images do not exist "
            "within google, errors will be received when you download your images.",
            app.MainFrame());
    } else if (dialog == QStringLiteral("--map-sources")) {
        shown = std::make_unique<quiltara::CMapSourcesDlg>(settings, app.MainFrame());
        // As a user would have it: road map, satellite and hybrid chosen,
        // satellite into a folder of its own, the hybrid laid over it and
        // the attribution drawn.
        for (const char* id :
             {"1029", "1031", "1036", "1041", "satelliteHybrid", "stampAttribution"}) {
            shown->findChild<QCheckBox*>(QString::fromLatin1(id))->click();
        }
        shown->findChild<QLineEdit*>(QStringLiteral("1020"))->setText(QStringLiteral("satellite"));
    }
    if (dialog == QStringLiteral("--add-tile-source")) {
        auto add = std::make_unique<quiltara::CAddTileSourceDlg>(
            prompts, [] { return std::make_unique<quiltara::CurlHttpClient>(); }, app.MainFrame());
        add->findChild<QLineEdit*>(QStringLiteral("location"))->setText(url);
        QEventLoop read;
        QObject::connect(add.get(), &quiltara::CAddTileSourceDlg::ServiceRead, &read,
                         &QEventLoop::quit);
        add->OnRead();
        read.exec();
        auto* satellite = add->findChild<QComboBox*>(QStringLiteral("satellite"));
        satellite->setCurrentIndex(std::min(2, satellite->count() - 1));
        shown = std::move(add);
    }
    if (dialog == QStringLiteral("--proxy")) {
        settings.SetString(quiltara::kProxySetting, "http://proxy.example:3128");
        shown = std::make_unique<quiltara::CProxyDlg>(settings, prompts, app.MainFrame());
    }
    if (dialog == QStringLiteral("--site-chooser")) {
        shown = std::make_unique<quiltara::CSiteChooserDlg>(app.Catalogue(), app.MainFrame());
    }
    if (shown) {
        shown->show();
    }
    Wait(waitMs);
    if (select.size() == 4 && app.ControlPanel() != nullptr) {
        SelectThroughPanel(app, select, outlineZoom);
        if (!runFolder.isEmpty()) {
            StartRunThroughPanel(app, runFolder);
            if (runEnd) {
                WaitForRunEnd(app);
            } else {
                Wait(runWaitMs);
            }
        }
    }
    // A dialog is taken on its own: on a virtual X server the browser's
    // drawing can land over windows stacked above it in a grab of the screen.
    QPixmap picture;
    if (shown) {
        picture = shown->grab();
    } else if (!runFolder.isEmpty()) {
        picture = app.ControlPanel()->grab();
    } else {
        // The frame and the panel with a little of the screen around them.
        QScreen* screen = QGuiApplication::primaryScreen();
        QRect area = app.MainFrame()->frameGeometry();
        if (app.ControlPanel() != nullptr) {
            area = area.united(app.ControlPanel()->frameGeometry());
        }
        area = area.adjusted(-12, -12, 12, 12).intersected(screen->geometry());
        picture = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    }
    if (!picture.save(out)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(out));
        return 1;
    }
    return 0;
}
