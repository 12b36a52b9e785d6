#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <vector>

namespace quiltara::test {

// Runs the event loop until the condition holds or the time is up; whether it holds.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000);

// Calls action with the next modal dialog that opens (within timeoutMs), so a
// test can answer a dialog that a call under test runs with exec(). The
// action must close the dialog. With `matches`, only a dialog it accepts counts.
void WhenModalOpens(std::function<void(QWidget*)> action, int timeoutMs = 10000,
                    std::function<bool(QWidget*)> matches = {});

// The widget of that object name below root, or none.
template <typename Widget>
Widget* FindById(QWidget* root, int id) {
    return root->findChild<Widget*>(QString::number(id));
}

// Records every address that the program asks the desktop to open, for the
// given schemes, instead of opening it. Undone when the object goes away.
class OpenedUrls : public QObject {
    Q_OBJECT

public:
    explicit OpenedUrls(std::vector<QString> schemes);
    ~OpenedUrls() override;

    const std::vector<QUrl>& Urls() const { return urls_; }

public slots:
    void Open(const QUrl& url) { urls_.push_back(url); }

private:
    std::vector<QString> schemes_;
    std::vector<QUrl> urls_;
};

} // namespace quiltara::test
