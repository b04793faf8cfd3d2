// Text placed into an XML or HTML answer: bytes XML cannot carry replaced,
// markup escaped for where the text stands.  Every escape of the responder
// is here.
#pragma once

#include <string>
#include <string_view>

// Escapes `in` for XML element content into `output` (max_encode_len
// bytes, always terminated): "<" and ">" become entities, "&" becomes
// "&amp;" unless it starts "&lt;", "&gt;" or "&amp;".  Text that does not
// fit is cut before the first item that would not fit.
void encode_chars(const char *in, char *output, int max_encode_len);

namespace zorbel::tavish {

// `in` with every byte that is not part of a UTF-8 encoded XML character
// (control bytes other than tab, line feed and carriage return; invalid or
// overlong UTF-8; surrogates; U+FFFE and U+FFFF) replaced by U+FFFD, one
// replacement per byte.  Text that is already fit is returned unchanged.
std::string xml_chars(std::string_view in);

// `in` (well-formed UTF-8 that may have been cut short) without an
// incomplete sequence at its end.
std::string_view whole_chars(std::string_view in);

// `value` (up to its first NUL) for element content: bytes XML cannot
// carry replaced, then encode_chars into a 4096-byte buffer.
std::string element_text(std::string_view value);

// Escapes `in` for a double-quoted attribute value: element_text without
// its bound, then '"' as "&quot;".
std::string encode_attribute(std::string_view in);

// `value` (up to its first NUL) for HTML text or a quoted attribute value:
// bytes XML cannot carry replaced as by xml_chars (HTML allows none of them
// either), then every "&", "<", ">", '"' and "'" as a character reference.
// Unlike encode_chars, an "&" that already starts an entity is escaped too:
// the page shows the stored text exactly.
std::string html_text(std::string_view value);

}  // namespace zorbel::tavish
