#include "output/terminal_text.h"

#include <unistd.h>

#include <cstdio>

namespace zorbel::cli {

std::string terminal_safe(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        const bool c0 = (b < 0x20 && b != '\t' && b != '\n') || b == 0x7f;
        const bool c1 = b == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9f;
        if (c1)
            ++i;  // both bytes of the character
        out += c0 || c1 ? '?' : text[i];
    }
    return out;
}

void write_for_reader(std::string_view text)
{
    if (isatty(STDOUT_FILENO)) {
        const std::string safe = terminal_safe(text);
        std::fwrite(safe.data(), 1, safe.size(), stdout);
    } else {
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
}

}  // namespace zorbel::cli
