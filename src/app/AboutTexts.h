#pragma once

#include <string>

namespace quiltara {

// The About dialog's read-only text: four paragraphs separated by blank lines
// written as "\r\n\r\n".
std::string AboutText();

// The how-to message: its opening line and the four numbered steps,
// separated by blank lines written as "\n\n".
std::string HowToText();

// The mail link's caption, ending with the maker's address.
std::string MailLinkCaption();

} // namespace quiltara
