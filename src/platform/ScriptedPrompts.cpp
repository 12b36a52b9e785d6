#include "platform/ScriptedPrompts.h"

namespace quiltara {

MessageAnswer ScriptedPrompts::ShowMessage(const std::string& text, MessageButtons buttons) {
    messages_.push_back({text, buttons});
    if (answers_.empty()) {
        if (buttons == MessageButtons::Ok) {
            return MessageAnswer::Ok;
        }
        throw UnscriptedQuestion("no answer queued for: " + text);
    }
    const MessageAnswer answer = answers_.front();
    answers_.pop_front();
    return answer;
}

std::optional<std::string> ScriptedPrompts::AskSavePath(const SaveDialogOptions& options) {
    saveRequests_.push_back(options);
    if (savePaths_.empty()) {
        throw UnscriptedQuestion("no save path queued");
    }
    std::optional<std::string> path = savePaths_.front().first;
    lastFilterIndex_ = savePaths_.front().second;
    savePaths_.pop_front();
    return path;
}

std::optional<SaveChoice> ScriptedPrompts::AskSaveFile(const SaveDialogOptions& options) {
    // Through the path question, so a test's own version of it still runs.
    std::optional<std::string> path = AskSavePath(options);
    if (!path) {
        return std::nullopt;
    }
    return SaveChoice{*path, lastFilterIndex_};
}

std::vector<std::string> ScriptedPrompts::Texts() const {
    std::vector<std::string> texts;
    texts.reserve(messages_.size());
    for (const Shown& shown : messages_) {
        texts.push_back(shown.text);
    }
    return texts;
}

} // namespace quiltara
