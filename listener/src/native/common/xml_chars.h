// Text that an XML document can carry.
#pragma once

#include <string>
#include <string_view>

namespace zorbel::tavish {

// `in` with every byte that is not part of a UTF-8 encoded XML character
// (control bytes other than tab, line feed and carriage return; invalid or
// overlong UTF-8; surrogates; U+FFFE and U+FFFF) replaced by U+FFFD, one
// replacement per byte.  Text that is already fit is returned unchanged.
std::string xml_chars(std::string_view in);

// `in` (well-formed UTF-8 that may have been cut short) without an
// incomplete sequence at its end.
std::string_view whole_chars(std::string_view in);

}  // namespace zorbel::tavish
