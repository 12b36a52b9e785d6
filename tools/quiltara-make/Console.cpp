#include "Console.h"

namespace quiltara::make {

void Console::EndStatus() {
    if (statusOpen_) {
        std::fputc('\n', out_);
        statusOpen_ = false;
    }
}

void Console::Line(const std::string& text) {
    EndStatus();
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void Console::Status(const std::string& text) {
    if (!terminal_) {
        Line(text);
        return;
    }
    // Back to the line's start and clear it, so a shorter text leaves no tail.
    std::fprintf(out_, "\r\033[K%s", text.c_str());
    std::fflush(out_);
    statusOpen_ = true;
}

void Console::Ask(const std::string& text) {
    EndStatus();
    std::fprintf(out_, "%s", text.c_str());
    std::fflush(out_);
}

} // namespace quiltara::make
