#pragma once

#include <string>
#include <string_view>

namespace quiltara {

// Reads a number from user text, a list entry or a static text the way the
// classic atoi does: leading blanks, an optional sign, then leading digits; no
// digits give 0. Values beyond the int range saturate instead of overflowing.
int ReadLeadingInt(std::string_view text);

// The text with its ASCII letters in lower case (host names, scheme names,
// reference system names compare so).
std::string LowerCase(std::string_view text);

// printf-style formatting into a std::string, for the system's fixed texts.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Text from a file, shown on a terminal or in a message: every control
// character (C0, DEL and, in UTF-8, C1) written as an escape ("\n", "\x1b",
// "\u009b"), so such text can neither start a line of its own nor drive the
// terminal.
std::string ShowControls(std::string_view text);

} // namespace quiltara
