#pragma once

#include "gui/GuiThreadCalls.h"
#include "platform/Prompts.h"

namespace quiltara {

// Prompts for a worker thread: every question is shown by the given prompts
// on the GUI thread while the worker waits for the answer. Once the calls are
// stopped, questions are not shown and get the answer of a box closed
// without a choice (Cancel, else No; the save dialog: cancelled).
class GuiThreadPrompts : public Prompts {
public:
    GuiThreadPrompts(Prompts& shown, GuiThreadCalls& calls) : shown_(shown), calls_(calls) {}

    MessageAnswer ShowMessage(const std::string& text, MessageButtons buttons) override;
    std::optional<std::string> AskSavePath(const SaveDialogOptions& options) override;
    std::optional<SaveChoice> AskSaveFile(const SaveDialogOptions& options) override;

private:
    Prompts& shown_;
    GuiThreadCalls& calls_;
};

} // namespace quiltara
