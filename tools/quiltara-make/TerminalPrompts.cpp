#include "TerminalPrompts.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace quiltara::make {
namespace {

constexpr const char* kMessagePrefix = "[Quiltara] ";

const char* AnswerName(MessageAnswer answer) {
    switch (answer) {
        case MessageAnswer::Ok:
            return "OK";
        case MessageAnswer::Yes:
            return "Yes";
        case MessageAnswer::No:
            return "No";
        case MessageAnswer::Cancel:
            return "Cancel";
    }
    return "";
}

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto first = text.find_first_not_of(" \t\r");
    const auto last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

} // namespace

TerminalPrompts::TerminalPrompts(Console& console, std::istream& input, ExistingPolicy existing,
                                 DeletePolicy deleteTiles, std::string outputPath)
    : console_(console),
      input_(input),
      existing_(existing),
      delete_(deleteTiles),
      outputPath_(std::move(outputPath)) {}

MessageAnswer TerminalPrompts::ShowMessage(const std::string& text, MessageButtons buttons) {
    if (buttons == MessageButtons::Ok) {
        console_.Line(kMessagePrefix + text);
        return MessageAnswer::Ok;
    }
    std::optional<MessageAnswer> answer;
    const char* reason = "";
    if (buttons == MessageButtons::YesNoCancel) {
        if (existing_ == ExistingPolicy::Overwrite) {
            answer = MessageAnswer::Yes;
            reason = "--existing=overwrite";
        } else if (existing_ == ExistingPolicy::Keep) {
            answer = MessageAnswer::No;
            reason = "--existing=keep";
        }
    } else {
        if (delete_ == DeletePolicy::Delete) {
            answer = MessageAnswer::Yes;
            reason = "--delete-tiles";
        } else if (delete_ == DeletePolicy::Keep) {
            answer = MessageAnswer::No;
            reason = "--keep-tiles";
        }
    }
    if (!answer) {
        return AskUser(text, buttons);
    }
    const char* choices = buttons == MessageButtons::YesNo ? "[Yes/No]" : "[Yes/No/Cancel]";
    console_.Line(kMessagePrefix + text + " " + choices + " " + AnswerName(*answer) + " (" +
                  reason + ")");
    return *answer;
}

MessageAnswer TerminalPrompts::AskUser(const std::string& text, MessageButtons buttons) {
    const bool withCancel = buttons == MessageButtons::YesNoCancel;
    // Nobody to answer: the choice that changes nothing on disk. Said once;
    // the questions after it (one per existing tile) get it without a word.
    const MessageAnswer noAnswer = withCancel ? MessageAnswer::Cancel : MessageAnswer::No;
    const std::string question = kMessagePrefix + text + (withCancel ? " [y/n/c] " : " [y/n] ");
    if (inputEnded_) {
        if (!withCancel) {
            console_.Line(question + "(no answer: No)");
        }
        return noAnswer;
    }
    while (true) {
        console_.Ask(question);
        std::string line;
        if (!std::getline(input_, line)) {
            inputEnded_ = true;
            console_.Line(std::string("(no answer: ") + AnswerName(noAnswer) +
                          (withCancel ? ", for this and every later existing file)" : ")"));
            return noAnswer;
        }
        const std::string reply = Lowered(line);
        if (reply == "y" || reply == "yes") {
            return MessageAnswer::Yes;
        }
        if (reply == "n" || reply == "no") {
            return MessageAnswer::No;
        }
        if (withCancel && (reply == "c" || reply == "cancel")) {
            return MessageAnswer::Cancel;
        }
    }
}

std::optional<std::string> TerminalPrompts::AskSavePath(const SaveDialogOptions& /*options*/) {
    return outputPath_;
}

} // namespace quiltara::make
