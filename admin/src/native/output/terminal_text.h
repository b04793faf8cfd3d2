// Text from a registry or from the network on its way to a person's screen.
#pragma once

#include <string>
#include <string_view>

namespace zorbel::cli {

// For a terminal: every control byte other than tab and line feed (0x00-0x1f,
// 0x7f) and every C1 control character (U+0080-U+009F in UTF-8) becomes '?',
// so that no escape sequence from elsewhere reaches the terminal.  All other
// bytes pass unchanged.
std::string terminal_safe(std::string_view text);

// Writes `text` to standard output, through terminal_safe() when standard
// output is a terminal.
void write_for_reader(std::string_view text);

}  // namespace zorbel::cli
