#pragma once

#include <string>
#include <string_view>

namespace quiltara {

// Reads a number from user text, a list entry or a static text the way the
// classic atoi does: leading blanks, an optional sign, then leading digits; no
// digits give 0. Values beyond the int range saturate instead of overflowing.
int ReadLeadingInt(std::string_view text);

// printf-style formatting into a std::string, for the system's fixed texts.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace quiltara
