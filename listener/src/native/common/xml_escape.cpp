#include "xml_escape.h"

#include "zorbel/support/html_escape.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace zorbel::tavish {
namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";  // U+FFFD

bool allowed(std::uint32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// The length of the well-formed UTF-8 sequence of an allowed character at
// the start of `s`, or 0.
size_t fit_sequence(std::string_view s)
{
    const auto b0 = static_cast<unsigned char>(s[0]);
    size_t len = 0;
    std::uint32_t c = 0, min = 0;
    if (b0 < 0x80) {
        len = 1, c = b0;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, c = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, c = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, c = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < len)
        return 0;
    for (size_t i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (b & 0x3F);
    }
    return c >= min && allowed(c) ? len : 0;
}

}  // namespace

std::string xml_chars(std::string_view in)
{
    std::string out;
    out.reserve(in.size());
    while (!in.empty()) {
        const size_t len = fit_sequence(in);
        if (len == 0) {
            out += replacement;
            in.remove_prefix(1);
        } else {
            out += in.substr(0, len);
            in.remove_prefix(len);
        }
    }
    return out;
}

std::string_view whole_chars(std::string_view in)
{
    // Step back over continuation bytes to the last lead byte.
    size_t lead = in.size();
    while (lead > 0 && in.size() - lead < 4 && (static_cast<unsigned char>(in[lead - 1]) & 0xC0) == 0x80)
        --lead;
    if (lead == 0)
        return in;
    const std::string_view tail = in.substr(lead - 1);
    if (static_cast<unsigned char>(tail[0]) < 0x80 || fit_sequence(tail) == tail.size())
        return in;
    return in.substr(0, lead - 1);
}

namespace {

constexpr int element_text_len = 4096;

std::string up_to_nul(std::string_view in)
{
    return xml_chars(in.substr(0, std::min(in.find('\0'), in.size())));
}

std::string encoded(const std::string &text, size_t room)
{
    std::string out(room, '\0');
    encode_chars(text.c_str(), out.data(), static_cast<int>(out.size()));
    out.resize(std::strlen(out.c_str()));
    return out;
}

}  // namespace

std::string element_text(std::string_view value)
{
    return encoded(up_to_nul(value), element_text_len);
}

std::string encode_attribute(std::string_view in)
{
    const std::string text = up_to_nul(in);
    std::string out;
    for (const char c : encoded(text, text.size() * 5 + 1)) {
        if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

std::string html_text(std::string_view value)
{
    return html_escape(up_to_nul(value));
}

}  // namespace zorbel::tavish

void encode_chars(const char *in, char *output, int max_encode_len)
{
    if (max_encode_len <= 0)
        return;
    const std::string_view text(in);
    const auto bound = static_cast<size_t>(max_encode_len);
    size_t p = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        std::string_view item(&text[i], 1);
        if (text[i] == '<') {
            item = "&lt;";
        } else if (text[i] == '>') {
            item = "&gt;";
        } else if (text[i] == '&') {
            const std::string_view rest = text.substr(i);
            const bool entity = rest.starts_with("&lt;") || rest.starts_with("&gt;") || rest.starts_with("&amp;");
            if (!entity)
                item = "&amp;";
        }
        if (p + item.size() >= bound)
            break;
        std::memcpy(output + p, item.data(), item.size());
        p += item.size();
    }
    output[p] = '\0';
}
