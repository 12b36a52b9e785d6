#include <QApplication>
#include <QStringList>

#include <cstdio>
#include <optional>
#include <string>

#include "app/CQuiltaraApp.h"
#include "gui/QtPrompts.h"
#include "gui/QtSettingsStore.h"
#include "gui/QtSourcePageHandler.h"
#include "platform/BrowserSandbox.h"
#include "sources/MapServiceRoute.h"

namespace {

constexpr const char* kMapServiceOption = "--map-service";

// The program's own option, "--map-service HOST:PORT" or
// "--map-service=HOST:PORT", taken out of the arguments. False (after saying
// why) when it is given without a usable address.
bool TakeMapServiceOption(QStringList& arguments, std::optional<quiltara::MapServiceRoute>& route) {
    const QString option = QString::fromLatin1(kMapServiceOption);
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString value;
        if (arguments[i] == option) {
            if (i + 1 >= arguments.size()) {
                std::fprintf(stderr, "quiltara: %s needs HOST:PORT\n", kMapServiceOption);
                return false;
            }
            value = arguments[i + 1];
            arguments.remove(i, 2);
        } else if (arguments[i].startsWith(option + QLatin1Char('='))) {
            value = arguments[i].mid(option.size() + 1);
            arguments.remove(i);
        } else {
            continue;
        }
        std::string error;
        route = quiltara::MapServiceRoute::Parse(value.toStdString(), error);
        if (!route) {
            std::fprintf(stderr, "quiltara: %s: %s\n", kMapServiceOption, error.c_str());
            return false;
        }
        --i;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    // Read by the browser engine when it starts, so set before anything of Qt.
    quiltara::SwitchOffBrowserSandboxForRoot();
    // The embedded browser shares its OpenGL contexts with the widgets; Qt
    // needs to know before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    quiltara::QtSourcePageHandler::RegisterScheme();
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quiltara"));
    QCoreApplication::setApplicationName(QStringLiteral("Quiltara"));

    QStringList arguments = QCoreApplication::arguments();
    std::optional<quiltara::MapServiceRoute> route;
    if (!TakeMapServiceOption(arguments, route)) {
        return 2;
    }
    // Options for Qt and the browser engine start with '-'; what is left
    // names a document.
    QStringList documents;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (!arguments[i].startsWith(QLatin1Char('-'))) {
            documents.push_back(arguments[i]);
        }
    }

    quiltara::QtSettingsStore settings;
    quiltara::QtPrompts prompts;
    quiltara::CQuiltaraApp app(settings, prompts, documents);
    app.SetMapServiceRoute(route);
    if (!app.InitInstance()) {
        return 1;
    }
    return QApplication::exec();
}
