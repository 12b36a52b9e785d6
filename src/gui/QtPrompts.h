#pragma once

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include "platform/Prompts.h"

namespace quiltara {

// Prompts shown as real Qt message boxes and the real save dialog, all with
// the caption "Quiltara".
class QtPrompts : public Prompts {
public:
    // parent: the window the boxes belong to; none means the active window.
    explicit QtPrompts(QWidget* parent = nullptr) : parent_(parent) {}

    void SetParent(QWidget* parent) { parent_ = parent; }

    MessageAnswer ShowMessage(const std::string& text, MessageButtons buttons) override;
    std::optional<std::string> AskSavePath(const SaveDialogOptions& options) override;
    std::optional<SaveChoice> AskSaveFile(const SaveDialogOptions& options) override;

private:
    QWidget* DialogParent() const;

    QPointer<QWidget> parent_;
};

// The save dialog's filter text ("name|pattern|name|pattern||", patterns
// separated by ';') as Qt name filters ("name (pattern pattern)"). "*.*"
// becomes "*" so that "All Files" also lists names without a dot.
QStringList QtNameFilters(const std::string& filter);

} // namespace quiltara
