// Bytes from the network shown in a diagnostic line, so that a peer can
// neither forge log lines nor send terminal escapes to an operator.
#pragma once

#include <string>
#include <string_view>

namespace zorbel {

// 0x00-0x1f and 0x7f as \xNN (two lower-case hexadecimal digits), the
// backslash as \\, every other byte as it is.
inline std::string escape_for_log(std::string_view bytes)
{
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x20 || b == 0x7f) {
            out += "\\x";
            out += hex[b >> 4];
            out += hex[b & 0xf];
        } else if (b == '\\') {
            out += "\\\\";
        } else {
            out += ch;
        }
    }
    return out;
}

}  // namespace zorbel
