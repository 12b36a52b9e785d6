#include "gui/QtPageDocument.h"

#include <QEventLoop>
#include <QTimer>
#include <QWebEngineScript>

#include <memory>

namespace quiltara {

namespace {

// Answers each point with [tagName, src attribute] or null; with untilChange,
// stops after the first point whose element is not the first point's (the
// same element gives the same answer, so nothing the caller needs is cut).
// Kept as one function so that every question gives identical answers.
const char* const kProbeFunction =
    "(function (points, scale, untilChange) {"
    "  var answers = [];"
    "  var first;"
    "  for (var i = 0; i < points.length; i++) {"
    "    var e = document.elementFromPoint(points[i][0] / scale, points[i][1] / scale);"
    "    var src = e ? e.getAttribute('src') : null;"
    "    answers.push(e ? [String(e.tagName), src === null ? '' : String(src)] : null);"
    "    if (i === 0) { first = e; } else if (untilChange && e !== first) { break; }"
    "  }"
    "  return answers;"
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
    return Ask(points, false);
}

std::vector<std::optional<PageElement>> QtPageDocument::ElementsAtUntilChange(
    const std::vector<PagePoint>& points) {
    return Ask(points, true);
}

std::vector<std::optional<PageElement>> QtPageDocument::Ask(const std::vector<PagePoint>& points,
                                                            bool untilChange) {
    std::vector<std::optional<PageElement>> elements(points.size());
    if (points.empty() || !page_) {
        return elements;
    }
    const double scale = page_->zoomFactor() > 0 ? page_->zoomFactor() : 1.0;
    const QString script =
        QString::fromLatin1(kProbeFunction) + QLatin1Char('(') + PointList(points) +
        QLatin1Char(',') + QString::number(scale, 'g', 17) + QLatin1Char(',') +
        (untilChange ? QStringLiteral("true") : QStringLiteral("false")) + QLatin1Char(')');
    const QVariant result = RunAndWait(script);
    if (!result.isValid()) {
        // No answer: every point counts as having nothing under it.
        return elements;
    }
    const QVariantList answers = result.toList();
    if (untilChange && !answers.isEmpty() && static_cast<size_t>(answers.size()) < points.size()) {
        elements.resize(static_cast<size_t>(answers.size()));
    }
    for (size_t i = 0; i < elements.size() && i < static_cast<size_t>(answers.size()); ++i) {
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
