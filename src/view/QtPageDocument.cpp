#include "view/QtPageDocument.h"

#include <QEventLoop>
#include <QTimer>
#include <QWebEngineScript>

#include <memory>

namespace quiltara {

namespace {

// Answers each point with [tagName, src attribute] or null. Kept as one
// function so the single and the batch question give identical answers.
const char* const kProbeFunction =
    "(function (points, scale) {"
    "  return points.map(function (p) {"
    "    var e = document.elementFromPoint(p[0] / scale, p[1] / scale);"
    "    if (!e) { return null; }"
    "    var src = e.getAttribute('src');"
    "    return [String(e.tagName), src === null ? '' : String(src)];"
    "  });"
    "})";

std::optional<PageElement> ToElement(const QVariant& answer) {
    const QVariantList pair = answer.toList();
    if (pair.size() != 2) {
        return std::nullopt;
    }
    return PageElement{pair[0].toString().toStdString(), pair[1].toString().toStdString()};
}

QString PointList(const std::vector<PagePoint>& points) {
    QString list = QStringLiteral("[");
    for (size_t i = 0; i < points.size(); ++i) {
        if (i > 0) {
            list += QLatin1Char(',');
        }
        list += QStringLiteral("[%1,%2]").arg(points[i].x).arg(points[i].y);
    }
    return list + QLatin1Char(']');
}

} // namespace

std::optional<PageElement> QtPageDocument::ElementAt(int x, int y) {
    return ElementsAt({PagePoint{x, y}}).front();
}

std::vector<std::optional<PageElement>> QtPageDocument::ElementsAt(
    const std::vector<PagePoint>& points) {
    std::vector<std::optional<PageElement>> elements(points.size());
    if (points.empty() || !page_) {
        return elements;
    }
    const double scale = page_->zoomFactor() > 0 ? page_->zoomFactor() : 1.0;
    const QString script = QString::fromLatin1(kProbeFunction) + QLatin1Char('(') +
                           PointList(points) + QLatin1Char(',') + QString::number(scale, 'g', 17) +
                           QLatin1Char(')');
    const QVariantList answers = RunAndWait(script).toList();
    for (size_t i = 0; i < points.size() && i < static_cast<size_t>(answers.size()); ++i) {
        elements[i] = ToElement(answers[static_cast<qsizetype>(i)]);
    }
    return elements;
}

QVariant QtPageDocument::RunAndWait(const QString& script) {
    if (!page_) {
        return {};
    }
    // The answer arrives through the event loop. User input is held back
    // while waiting, so a mouse move cannot start another probe inside this one.
    struct Answer {
        QVariant value;
        bool arrived = false;
    };
    auto answer = std::make_shared<Answer>();
    QEventLoop loop;
    QPointer<QEventLoop> waiting(&loop);
    page_->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                         [answer, waiting](const QVariant& value) {
                             answer->value = value;
                             answer->arrived = true;
                             if (waiting) {
                                 waiting->quit();
                             }
                         });
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(page_.data(), &QObject::destroyed, &loop, &QEventLoop::quit);
    timeout.start(kAnswerTimeoutMs);
    if (!answer->arrived) {
        // A page load finishing during the wait replaces the view's page
        // document, this one included: nothing below touches a member.
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return answer->arrived ? answer->value : QVariant();
}

} // namespace quiltara
