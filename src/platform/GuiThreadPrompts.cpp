#include "platform/GuiThreadPrompts.h"

#include <memory>

namespace quiltara {
namespace {

MessageAnswer NoChoice(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::Ok:
            return MessageAnswer::Ok;
        case MessageButtons::YesNo:
            return MessageAnswer::No;
        case MessageButtons::YesNoCancel:
            return MessageAnswer::Cancel;
    }
    return MessageAnswer::Ok;
}

} // namespace

MessageAnswer GuiThreadPrompts::ShowMessage(const std::string& text, MessageButtons buttons) {
    auto answer = std::make_shared<MessageAnswer>(NoChoice(buttons));
    Prompts* shown = &shown_;
    if (!calls_.Run(
            [shown, answer, text, buttons] { *answer = shown->ShowMessage(text, buttons); })) {
        return NoChoice(buttons);
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

} // namespace quiltara
