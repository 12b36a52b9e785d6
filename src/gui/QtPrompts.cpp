#include "gui/QtPrompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include <algorithm>

namespace quiltara {

namespace {

const QString kCaption = QStringLiteral("Quiltara");

QMessageBox::StandardButtons ButtonsFor(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::Ok:
            return QMessageBox::Ok;
        case MessageButtons::YesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case MessageButtons::YesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

} // namespace

QWidget* QtPrompts::DialogParent() const {
    if (parent_) {
        return parent_.data();
    }
    return QApplication::activeWindow();
}

MessageAnswer QtPrompts::ShowMessage(const std::string& text, MessageButtons buttons) {
    const QMessageBox::Icon icon =
        buttons == MessageButtons::Ok ? QMessageBox::Information : QMessageBox::Question;
    QMessageBox box(icon, kCaption, QString::fromStdString(text), ButtonsFor(buttons),
                    DialogParent());
    box.setTextFormat(Qt::PlainText);
    if (buttons == MessageButtons::YesNoCancel) {
        box.setEscapeButton(QMessageBox::Cancel);
    } else if (buttons == MessageButtons::YesNo) {
        box.setEscapeButton(QMessageBox::No);
    }
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
        case QMessageBox::Ok:
            return MessageAnswer::Ok;
        case QMessageBox::Yes:
            return MessageAnswer::Yes;
        case QMessageBox::No:
            return MessageAnswer::No;
        case QMessageBox::Cancel:
            return MessageAnswer::Cancel;
        default:
            return DismissedAnswer(buttons);
    }
}

QStringList QtNameFilters(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& name = parts[i];
        if (name.isEmpty()) {
            break; // the "||" that ends the list
        }
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
            if (pattern == QStringLiteral("*.*")) {
                pattern = QStringLiteral("*");
            }
        }
        // Qt reads the patterns from the last parentheses of a filter, so a
        // name that already shows them in parentheses loses that part.
        QString shown = name;
        const qsizetype open = shown.lastIndexOf(QLatin1Char('('));
        if (open > 0 && shown.endsWith(QLatin1Char(')'))) {
            shown = shown.left(open).trimmed();
        }
        filters.push_back(shown + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                          QLatin1Char(')'));
    }
    return filters;
}

std::optional<std::string> QtPrompts::AskSavePath(const SaveDialogOptions& options) {
    const std::optional<SaveChoice> choice = AskSaveFile(options);
    if (!choice) {
        return std::nullopt;
    }
    return choice->path;
}

std::optional<SaveChoice> QtPrompts::AskSaveFile(const SaveDialogOptions& options) {
    QFileDialog dialog(DialogParent(), QStringLiteral("Save As"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Qt's own dialog everywhere, so the default extension and the overwrite
    // question behave the same on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !options.overwritePrompt);
    // hideReadOnly has no counterpart: Qt's save dialog has no read-only box.
    dialog.setDefaultSuffix(QString::fromStdString(options.defaultExtension));
    const QStringList filters = QtNameFilters(options.filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
    }
    // A name typed without extension gets the chosen type's ("*.tif": tif);
    // a type of any name ("*") leaves the default one.
    const QString defaultSuffix = dialog.defaultSuffix();
    const auto useSuffix = [&dialog, defaultSuffix](const QString& filter) {
        const qsizetype dot = filter.indexOf(QStringLiteral("(*."));
        const qsizetype end = filter.indexOf(QLatin1Char(')'), dot);
        const QString suffix = dot < 0 || end < 0 ? QString() : filter.mid(dot + 3, end - dot - 3);
        dialog.setDefaultSuffix(
            suffix.isEmpty() || suffix.contains(QLatin1Char(' ')) ? defaultSuffix : suffix);
    };
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, useSuffix);
    if (options.filterIndex > 0 && options.filterIndex < filters.size()) {
        dialog.selectNameFilter(filters[options.filterIndex]);
        useSuffix(filters[options.filterIndex]);
    }
    if (!options.initialFileName.empty()) {
        dialog.selectFile(QString::fromStdString(options.initialFileName));
    }
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.front().isEmpty()) {
        return std::nullopt;
    }
    const auto index = static_cast<int>(filters.indexOf(dialog.selectedNameFilter()));
    return SaveChoice{files.front().toStdString(), std::max(index, 0)};
}

} // namespace quiltara
