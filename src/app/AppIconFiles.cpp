// Writes the application icon as PNG files for the desktop's icon theme:
//   quiltara-icon-files FOLDER
// makes FOLDER/SIZExSIZE/apps/quiltara.png for the theme's usual sizes.
#include <QDir>
#include <QString>

#include <cstdio>

#include "app/AppIcon.h"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fputs("usage: quiltara-icon-files FOLDER\n", stderr);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString apps = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
        const QString file = apps + QStringLiteral("/quiltara.png");
        if (!QDir().mkpath(apps) || !quiltara::AppIconImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "quiltara-icon-files: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
