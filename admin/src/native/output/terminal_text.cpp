#include "output/terminal_text.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace zorbel::cli {

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

// The length of the valid UTF-8 sequence at the start of `s` and its code
// point; length 0 when it is no valid sequence (a stray continuation byte,
// a truncated, overlong or surrogate form, or beyond U+10FFFF).
std::pair<std::size_t, std::uint32_t> utf8_sequence(std::string_view s)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    std::uint32_t cp = 0;
    unsigned char low = 0x80, high = 0xbf;  // the range of the second byte
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
        cp = lead & 0x1f;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        cp = lead & 0x0f;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        cp = lead & 0x07;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return {0, 0};
    }
    if (s.size() < length || byte(1) < low || byte(1) > high)
        return {0, 0};
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xc0) != 0x80)
            return {0, 0};
        cp = cp << 6 | (byte(i) & 0x3f);
    }
    return {length, cp};
}

bool is_hidden_control(std::uint32_t cp)
{
    return (cp >= 0x80 && cp <= 0x9f) || cp == 0x061c || cp == 0x200e || cp == 0x200f ||
           (cp >= 0x202a && cp <= 0x202e) || (cp >= 0x2066 && cp <= 0x2069);
}

void append_hex(std::string &out, std::string_view prefix, std::uint32_t value, int digits)
{
    out += prefix;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out += hex_digits[(value >> shift) & 0xf];
}

}  // namespace

std::string display_escape(std::string_view text, Layout layout)
{
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto b = static_cast<unsigned char>(text.front());
        std::size_t used = 1;
        if (b == '\\') {
            out += "\\\\";
        } else if (layout == Layout::document && (b == '\t' || b == '\n')) {
            out += text.front();
        } else if (b < 0x20 || b == 0x7f) {
            append_hex(out, "\\x", b, 2);
        } else if (b < 0x80) {
            out += text.front();
        } else if (const auto [length, cp] = utf8_sequence(text); length == 0) {
            append_hex(out, "\\x", b, 2);
        } else {
            used = length;
            if (is_hidden_control(cp))
                append_hex(out, "\\u", cp, 4);
            else
                out += text.substr(0, length);
        }
        text.remove_prefix(used);
    }
    return out;
}

void write_for_reader(std::string_view text)
{
    if (isatty(STDOUT_FILENO)) {
        const std::string shown = display_escape(text, Layout::document);
        std::fwrite(shown.data(), 1, shown.size(), stdout);
    } else {
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
}

}  // namespace zorbel::cli
