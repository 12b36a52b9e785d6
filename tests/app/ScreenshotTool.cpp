// Takes a picture of the running program for the README: starts the real
// application with settings in a temporary file, optionally navigates the
// map view, waits for the page to settle, and saves what the X screen shows
// of the frame and the panel; or shows one dialog and saves that dialog alone.
// Run it under xvfb-run, with a window manager for the window captions.
//
//   quiltara_screenshot OUT.png [--map-service HOST:PORT] [--url URL]
//       [--about | --number | --map-sources] [--wait MS]

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineView>

#include <cstdio>
#include <memory>
#include <optional>

#include "app/CAboutDlg.h"
#include "app/CMainFrame.h"
#include "app/CNumberInputDlg.h"
#include "app/CQuiltaraApp.h"
#include "assembly/CControlPanel.h"
#include "platform/QtPrompts.h"
#include "platform/QtSettingsStore.h"
#include "sources/CMapSourcesDlg.h"
#include "sources/MapServiceRoute.h"
#include "view/CQuiltaraView.h"

namespace {

void Wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr,
                     "usage: quiltara_screenshot OUT.png [--map-service HOST:PORT] [--url URL]\n"
                     "       [--about|--number|--map-sources] [--wait MS]\n");
        return 2;
    }
    const QString out = args[1];
    QString url;
    QString dialog;
    std::optional<quiltara::MapServiceRoute> route;
    int waitMs = 3000;
    for (qsizetype i = 2; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--url") && i + 1 < args.size()) {
            url = args[++i];
        } else if (args[i] == QStringLiteral("--map-service") && i + 1 < args.size()) {
            std::string error;
            route = quiltara::MapServiceRoute::Parse(args[++i].toStdString(), error);
            if (!route) {
                std::fprintf(stderr, "--map-service: %s\n", error.c_str());
                return 2;
            }
        } else if (args[i] == QStringLiteral("--wait") && i + 1 < args.size()) {
            waitMs = args[++i].toInt();
        } else if (args[i] == QStringLiteral("--about") || args[i] == QStringLiteral("--number") ||
                   args[i] == QStringLiteral("--map-sources")) {
            dialog = args[i];
        }
    }

    QTemporaryDir settingsDir;
    quiltara::QtSettingsStore settings(settingsDir.filePath(QStringLiteral("Quiltara.ini")));
    quiltara::QtPrompts prompts;
    quiltara::CQuiltaraApp app(settings, prompts);
    app.SetMapServiceRoute(route);
    if (!app.InitInstance()) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    if (!url.isEmpty()) {
        quiltara::CQuiltaraView* view = app.MainFrame()->GetActiveView();
        QEventLoop loaded;
        QObject::connect(view, &quiltara::CQuiltaraView::DocumentComplete, &loaded,
                         &QEventLoop::quit);
        QTimer::singleShot(30000, &loaded, &QEventLoop::quit);
        view->Navigate(url.toStdString());
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
        // As a user would have it: road map and satellite chosen, satellite
        // into a folder of its own.
        for (const char* id : {"1029", "1031", "1036"}) {
            shown->findChild<QCheckBox*>(QString::fromLatin1(id))->click();
        }
        shown->findChild<QLineEdit*>(QStringLiteral("1020"))->setText(QStringLiteral("satellite"));
    }
    if (shown) {
        shown->show();
    }
    Wait(waitMs);
    // A dialog is taken on its own: on a virtual X server the browser's
    // drawing can land over windows stacked above it in a grab of the screen.
    QPixmap picture;
    if (shown) {
        picture = shown->grab();
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
