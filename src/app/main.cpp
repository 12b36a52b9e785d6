#include <QApplication>
#include <QStringList>

#include "app/CQuiltaraApp.h"
#include "platform/QtPrompts.h"
#include "platform/QtSettingsStore.h"

int main(int argc, char* argv[]) {
    // The embedded browser shares its OpenGL contexts with the widgets; Qt
    // needs to know before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quiltara"));
    QCoreApplication::setApplicationName(QStringLiteral("Quiltara"));

    // Options for Qt and the browser engine start with '-'; what is left
    // names a document.
    QStringList documents;
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (!arguments[i].startsWith(QLatin1Char('-'))) {
            documents.push_back(arguments[i]);
        }
    }

    quiltara::QtSettingsStore settings;
    quiltara::QtPrompts prompts;
    quiltara::CQuiltaraApp app(settings, prompts, documents);
    if (!app.InitInstance()) {
        return 1;
    }
    return QApplication::exec();
}
