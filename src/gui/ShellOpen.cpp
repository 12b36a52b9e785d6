#include "gui/ShellOpen.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QString>
#include <QUrl>

namespace quiltara {

void ShellOpen(const std::string& address) {
    static_cast<void>(QDesktopServices::openUrl(QUrl(QString::fromStdString(address))));
}

void ShellOpenFolder(const std::string& folder) {
    const QString path = QString::fromStdString(folder);
    static_cast<void>(
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath())));
}

void OpenDonationPage() {
    ShellOpen(kDonationUrl);
}

} // namespace quiltara
