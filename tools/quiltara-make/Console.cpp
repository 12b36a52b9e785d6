#include "Console.h"

#include <cerrno>
#include <cstring>

namespace quiltara::make {

void Console::Flush(bool printed) {
    if (std::fflush(out_) == 0 && printed) {
        return;
    }
    const int error = errno;
    broken_ = true;
    throw ConsoleWriteError(std::string("cannot write the output: ") + std::strerror(error));
}

void Console::EndStatus() {
    if (statusOpen_ && !broken_) {
        statusOpen_ = false;
        Flush(std::fputc('\n', out_) != EOF);
    }
}

void Console::Line(const std::string& text) {
    EndStatus();
    if (!broken_) {
        Flush(std::fprintf(out_, "%s\n", text.c_str()) >= 0);
    }
}

void Console::Status(const std::string& text) {
    if (!terminal_) {
        Line(text);
        return;
    }
    if (broken_) {
        return;
    }
    // Back to the line's start and clear it, so a shorter text leaves no tail.
    statusOpen_ = true;
    Flush(std::fprintf(out_, "\r\033[K%s", text.c_str()) >= 0);
}

void Console::Ask(const std::string& text) {
    EndStatus();
    if (!broken_) {
        Flush(std::fprintf(out_, "%s", text.c_str()) >= 0);
    }
}

} // namespace quiltara::make
