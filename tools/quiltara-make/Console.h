#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

namespace quiltara::make {

// The output could not be written (a closed pipe, a full disk): ends the run
// like any other write error.
class ConsoleWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The map maker's output: whole lines, and on a terminal one status line that
// is rewritten in place and ended before anything else is printed. A write
// that fails throws ConsoleWriteError once; later writes to the broken output
// are dropped, so reporting the failure elsewhere cannot fail again here.
class Console {
public:
    Console(std::FILE* out, bool isTerminal) : out_(out), terminal_(isTerminal) {}

    bool IsTerminal() const { return terminal_; }

    // Prints text as a line of its own.
    void Line(const std::string& text);
    // Replaces the status line on a terminal; elsewhere prints text as a line.
    void Status(const std::string& text);
    // Prints text without ending the line (a question waiting for its answer).
    void Ask(const std::string& text);
    // Ends an open status line, so that what comes next (on this output or
    // on another one sharing the terminal) starts on a line of its own.
    void EndStatus();

private:
    // Flushes what was printed; throws when it, or the print, failed.
    void Flush(bool printed);

    std::FILE* out_;
    bool terminal_;
    bool statusOpen_ = false;
    bool broken_ = false;
};

} // namespace quiltara::make
