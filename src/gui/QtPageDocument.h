#pragma once

#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWebEnginePage>

#include "platform/PageDocument.h"

namespace quiltara {

// The loaded page of a QWebEnginePage as a PageDocument. Each question runs
// document.elementFromPoint in the page and waits for the answer, so the
// caller sees a plain synchronous call. Points are the view's client pixels;
// they are turned into the page's CSS pixels through the page's zoom factor.
class QtPageDocument : public PageDocument {
public:
    explicit QtPageDocument(QWebEnginePage* page) : page_(page) {}

    std::optional<PageElement> ElementAt(int x, int y) override;
    std::vector<std::optional<PageElement>> ElementsAt(
        const std::vector<PagePoint>& points) override;
    std::vector<std::optional<PageElement>> ElementsAtUntilChange(
        const std::vector<PagePoint>& points) override;

    // How long one question may wait for the page before it counts as
    // answered with nothing (a hung or closing page must not hang the caller).
    static constexpr int kAnswerTimeoutMs = 5000;

private:
    std::vector<std::optional<PageElement>> Ask(const std::vector<PagePoint>& points,
                                                bool untilChange);
    // Runs the script in the page's isolated world and waits for its result;
    // an invalid QVariant when the page is gone or does not answer in time.
    QVariant RunAndWait(const QString& script);

    QPointer<QWebEnginePage> page_;
};

} // namespace quiltara
