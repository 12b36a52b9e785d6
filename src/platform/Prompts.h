#pragma once

#include <optional>
#include <string>

namespace quiltara {

enum class MessageButtons { Ok, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Yes, No, Cancel };

// What the save dialog is asked to show.
struct SaveDialogOptions {
    std::string defaultExtension; // without the dot, e.g. "png"
    std::string initialFileName;  // empty: no initial name
    bool overwritePrompt = true;  // ask before choosing an existing file
    bool hideReadOnly = true;
    std::string filter; // "name|pattern|name|pattern||"
    int filterIndex = 0; // the type shown first: its place in the filter, from 0
};

// A file chosen in the save dialog, with the file type picked there: its
// place in the dialog's filter, from 0.
struct SaveChoice {
    std::string path;
    int filterIndex = 0;
};

// The answer of a box closed without a button (window close, Escape, or a
// question that could not be shown): the button that stands for "leave it",
// Cancel when there is one, else No.
inline MessageAnswer DismissedAnswer(MessageButtons buttons) {
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

// Every modal question the system asks the user. The desktop application
// shows real message boxes and the real save dialog; tests and the headless
// map maker answer them in their own ways.
class Prompts {
public:
    virtual ~Prompts() = default;

    // Shows a message box with the caption "Quiltara" and returns the button chosen.
    virtual MessageAnswer ShowMessage(const std::string& text, MessageButtons buttons) = 0;

    // Shows the save dialog; the chosen full path, or nothing when cancelled.
    virtual std::optional<std::string> AskSavePath(const SaveDialogOptions& options) = 0;

    // The same, with the file type picked in the dialog. Where no type can be
    // picked, the first one is.
    virtual std::optional<SaveChoice> AskSaveFile(const SaveDialogOptions& options) {
        std::optional<std::string> path = AskSavePath(options);
        if (!path) {
            return std::nullopt;
        }
        return SaveChoice{*path, 0};
    }
};

} // namespace quiltara
