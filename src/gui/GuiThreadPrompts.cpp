#include "gui/GuiThreadPrompts.h"

#include <memory>

namespace quiltara {

MessageAnswer GuiThreadPrompts::ShowMessage(const std::string& text, MessageButtons buttons) {
    auto answer = std::make_shared<MessageAnswer>(DismissedAnswer(buttons));
    Prompts* shown = &shown_;
    if (!calls_.Run(
            [shown, answer, text, buttons] { *answer = shown->ShowMessage(text, buttons); })) {
        return DismissedAnswer(buttons);
    }
    return *answer;
}

std::optional<std::string> GuiThreadPrompts::AskSavePath(const SaveDialogOptions& options) {
    auto path = std::make_shared<std::optional<std::string>>();
    Prompts* shown = &shown_;
    if (!calls_.Run([shown, path, options] { *path = shown->AskSavePath(options); })) {
        return std::nullopt;
    }
    return *path;
}

std::optional<SaveChoice> GuiThreadPrompts::AskSaveFile(const SaveDialogOptions& options) {
    auto choice = std::make_shared<std::optional<SaveChoice>>();
    Prompts* shown = &shown_;
    if (!calls_.Run([shown, choice, options] { *choice = shown->AskSaveFile(options); })) {
        return std::nullopt;
    }
    return *choice;
}

} // namespace quiltara
