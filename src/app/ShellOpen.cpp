#include "app/ShellOpen.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace quiltara {

void ShellOpen(const std::string& address) {
    static_cast<void>(QDesktopServices::openUrl(QUrl(QString::fromStdString(address))));
}

void OpenDonationPage() {
    ShellOpen(kDonationUrl);
}

} // namespace quiltara
