// Text for HTML element content and quoted attribute values: the five
// characters that could start markup or end a value become references.
// Both HTML pages (the responder's own and the fleet page) use it.
#pragma once

#include <string>
#include <string_view>

namespace zorbel {

inline std::string html_escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

}  // namespace zorbel
