#pragma once

#include <istream>
#include <string>

#include "Console.h"
#include "MakeOptions.h"
#include "platform/Prompts.h"

namespace quiltara::make {

// The run's questions answered from the command line. Every message is
// printed as it would be shown. The run asks two kinds of question: whether to
// overwrite existing tiles (Yes/No/Cancel) and whether to delete the tiles
// afterwards (Yes/No); each is answered by its policy, or on Ask by a line
// read from input.
class TerminalPrompts : public Prompts {
public:
    TerminalPrompts(Console& console, std::istream& input, ExistingPolicy existing,
                    DeletePolicy deleteTiles, std::string outputPath);

    MessageAnswer ShowMessage(const std::string& text, MessageButtons buttons) override;
    // The output file given on the command line.
    std::optional<std::string> AskSavePath(const SaveDialogOptions& options) override;

private:
    MessageAnswer AskUser(const std::string& text, MessageButtons buttons);

    Console& console_;
    std::istream& input_;
    ExistingPolicy existing_;
    DeletePolicy delete_;
    std::string outputPath_;
    bool inputEnded_ = false; // standard input is closed: no question is answered any more
};

} // namespace quiltara::make
