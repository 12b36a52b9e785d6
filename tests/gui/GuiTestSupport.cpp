#include "GuiTestSupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <memory>

namespace quiltara::test {

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QTest::qWait(10);
    }
    return true;
}

void WhenModalOpens(std::function<void(QWidget*)> action, int timeoutMs,
                    std::function<bool(QWidget*)> matches) {
    // Polls from inside the dialog's own event loop.
    auto timer = new QTimer(qApp);
    auto deadline = std::make_shared<QDeadlineTimer>(timeoutMs);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout,
                     [timer, deadline, action = std::move(action), matches = std::move(matches)] {
                         QWidget* modal = QApplication::activeModalWidget();
                         if (modal != nullptr && (!matches || matches(modal))) {
                             timer->stop();
                             timer->deleteLater();
                             action(modal);
                         } else if (deadline->hasExpired()) {
                             timer->stop();
                             timer->deleteLater();
                         }
                     });
    timer->start();
}

OpenedUrls::OpenedUrls(std::vector<QString> schemes) : schemes_(std::move(schemes)) {
    for (const QString& scheme : schemes_) {
        QDesktopServices::setUrlHandler(scheme, this, "Open");
    }
}

OpenedUrls::~OpenedUrls() {
    for (const QString& scheme : schemes_) {
        QDesktopServices::unsetUrlHandler(scheme);
    }
}

} // namespace quiltara::test
