#pragma once

#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Prompts.h"

namespace quiltara {

// Prompts that answer from a queue and record every text, so each message of
// the system can be checked word for word. A box with only OK needs no queued
// answer; any other question with an empty queue throws, so an unexpected
// question cannot pass unnoticed.
class ScriptedPrompts : public Prompts {
public:
    struct Shown {
        std::string text;
        MessageButtons buttons;
    };

    void QueueAnswer(MessageAnswer answer) { answers_.push_back(answer); }
    // The dialog's answer: a file (none: cancelled) and the type picked with it.
    void QueueSavePath(std::optional<std::string> path, int filterIndex = 0) {
        savePaths_.push_back({std::move(path), filterIndex});
    }

    MessageAnswer ShowMessage(const std::string& text, MessageButtons buttons) override;
    std::optional<std::string> AskSavePath(const SaveDialogOptions& options) override;
    std::optional<SaveChoice> AskSaveFile(const SaveDialogOptions& options) override;

    const std::vector<Shown>& Messages() const { return messages_; }
    std::vector<std::string> Texts() const;
    const std::vector<SaveDialogOptions>& SaveRequests() const { return saveRequests_; }
    size_t PendingAnswers() const { return answers_.size(); }

private:
    std::deque<MessageAnswer> answers_;
    std::deque<std::pair<std::optional<std::string>, int>> savePaths_;
    int lastFilterIndex_ = 0;
    std::vector<Shown> messages_;
    std::vector<SaveDialogOptions> saveRequests_;
};

class UnscriptedQuestion : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

} // namespace quiltara
