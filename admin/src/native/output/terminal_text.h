// Text from a registry or from the network on its way to a person's screen.
#pragma once

#include <string>
#include <string_view>

namespace zorbel::cli {

// What the escaped text is: one cell or line, which must stay on its line,
// or a whole document, whose tabs and line feeds keep its layout.
enum class Layout { line, document };

// Text as a person may see it, whether on a terminal or in a file read
// with a pager later: the control bytes 0x00-0x1f and 0x7f become \xNN
// (in a document, tab and line feed stay), bytes that are not part of
// valid UTF-8 become \xNN too, the C1 controls U+0080-U+009F and the
// bidirectional controls (U+061C, U+200E, U+200F, U+202A-U+202E,
// U+2066-U+2069) become \uNNNN, and the backslash becomes \\, so that no
// escape sequence reaches a terminal, no text is shown reordered and
// every escape can be told from the text.  Two lower-case hexadecimal
// digits, four for \u.
std::string display_escape(std::string_view text, Layout layout = Layout::line);

// Writes `text` to standard output, through display_escape() as a document
// when standard output is a terminal, byte for byte otherwise.
void write_for_reader(std::string_view text);

}  // namespace zorbel::cli
