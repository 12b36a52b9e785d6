// Takes a picture of the running program for the README: starts the real
// application with settings in a temporary file, optionally navigates the
// map view, waits for the page to settle, and saves what the X screen shows
// of the frame and the panel; or shows one dialog and saves that dialog alone.
// Run it under xvfb-run, with a window manager for the window captions.
//
//   quiltara_screenshot OUT.png [--url URL] [--about | --number] [--wait MS]
//                       [--select LEFT,TOP,RIGHT,BOTTOM --outline-zoom Z]
//
// --select locks that selection (view pixels) on the loaded map as a drag
// would, and with --outline-zoom draws the outlines of the tiles it needs at
// zoom Z, as "Draw Helper" does; the picture then shows the frame alone.

#include <QApplication>
#include <QEventLoop>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineView>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/CAboutDlg.h"
#include "app/CMainFrame.h"
#include "app/CNumberInputDlg.h"
#include "app/CQuiltaraApp.h"
#include "platform/QtPrompts.h"
#include "platform/QtSettingsStore.h"
#include "tiles/TileGrid.h"
#include "view/CQuiltaraView.h"
#include "view/CSelectionOverlay.h"
#include "view/MapProbe.h"
#include "view/PanelValues.h"

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
        std::fprintf(
            stderr,
            "usage: quiltara_screenshot OUT.png [--url URL] [--about|--number] [--wait MS]\n"
            "       [--select LEFT,TOP,RIGHT,BOTTOM --outline-zoom Z]\n");
        return 2;
    }
    const QString out = args[1];
    QString url;
    QString dialog;
    int waitMs = 3000;
    QStringList select;
    int outlineZoom = 0;
    for (qsizetype i = 2; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--url") && i + 1 < args.size()) {
            url = args[++i];
        } else if (args[i] == QStringLiteral("--wait") && i + 1 < args.size()) {
            waitMs = args[++i].toInt();
        } else if (args[i] == QStringLiteral("--select") && i + 1 < args.size()) {
            select = args[++i].split(QLatin1Char(','));
        } else if (args[i] == QStringLiteral("--outline-zoom") && i + 1 < args.size()) {
            outlineZoom = args[++i].toInt();
        } else if (args[i] == QStringLiteral("--about") || args[i] == QStringLiteral("--number")) {
            dialog = args[i];
        }
    }

    QTemporaryDir settingsDir;
    quiltara::QtSettingsStore settings(settingsDir.filePath(QStringLiteral("Quiltara.ini")));
    quiltara::QtPrompts prompts;
    quiltara::CQuiltaraApp app(settings, prompts);
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
    }
    if (shown) {
        shown->show();
    }
    Wait(waitMs);
    quiltara::PanelValues panelValues;
    std::vector<quiltara::CTileCell> outlines;
    if (select.size() == 4) {
        quiltara::CQuiltaraView* view = app.MainFrame()->GetActiveView();
        view->SetPanelValues(&panelValues);
        quiltara::SelectionState& state = app.MainFrame()->GetSelectionOverlay()->State();
        state = quiltara::SelectionState{};
        state.inactive = false;
        state.locked = true;
        state.left = select[0].toInt();
        state.top = select[1].toInt();
        state.right = select[2].toInt();
        state.bottom = select[3].toInt();
        view->SetInputPassThrough(false);
        app.MainFrame()->ShowSelectionOverlay(true);
        const quiltara::CTileRect rect =
            view->GetTileRect(state.left, state.top, state.right, state.bottom);
        int pageZoom = -1;
        if (const auto corner = view->GetPageDocument()->ElementAt(state.left, state.top)) {
            quiltara::GetUrlParamInt(corner->src, "zoom", pageZoom);
        }
        const quiltara::RangeUpdate range = quiltara::ComputeRange(
            rect, pageZoom, {outlineZoom, std::to_string(outlineZoom)}, state.left, state.top);
        std::fprintf(stderr, "selection %.3f,%.3f to %.3f,%.3f at zoom %d: %zu tiles at zoom %d\n",
                     rect.left, rect.top, rect.right, rect.bottom, pageZoom, range.tiles.size(),
                     outlineZoom);
        outlines = range.tiles;
        app.MainFrame()->GetSelectionOverlay()->DrawTileOutlines(outlines);
        Wait(500);
    }
    // A dialog is taken on its own: on a virtual X server the browser's
    // drawing can land over windows stacked above it in a grab of the screen.
    QPixmap picture;
    if (shown) {
        picture = shown->grab();
    } else {
        // The frame and the panel with a little of the screen around them.
        QScreen* screen = QGuiApplication::primaryScreen();
        QRect area = app.MainFrame()->frameGeometry();
        if (app.ControlPanel() != nullptr && select.isEmpty()) {
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
