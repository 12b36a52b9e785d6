#include "gui/ShellOpen.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QString>
#include <QUrl>

namespace quiltara {

void ShellOpen(const std::string& address) {
    static_cast<void>(QDesktopServices::openUrl(QUrl(QString::fromStdString(address))));
}

void ShellOpenFile(const std::string& path) {
    const QString local = QString::fromStdString(path);
    static_cast<void>(
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(local).absoluteFilePath())));
}

void ShellOpenFolder(const std::string& folder) {
    // The desktop opens a folder in its file manager.
    ShellOpenFile(folder);
}

void OpenDonationPage() {
    ShellOpen(kDonationUrl);
}

} // namespace quiltara
