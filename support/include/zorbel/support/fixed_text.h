// Text in fixed-width character fields (the record fields, the registry
// URN and version): bounded copy in, terminated text out.
#pragma once

#include <cstring>
#include <span>
#include <string_view>

namespace zorbel {

// Copies src into dst, cut to dst.size() - 1 bytes and always terminated
// (when dst is not empty).  Returns true when the text was cut.
inline bool copy_cut(std::span<char> dst, std::string_view src) noexcept
{
    if (dst.empty())
        return !src.empty();
    const size_t n = src.size() < dst.size() ? src.size() : dst.size() - 1;
    if (n > 0)
        std::memcpy(dst.data(), src.data(), n);
    dst[n] = '\0';
    return n < src.size();
}

// The text of a fixed-width field: up to its first NUL, or the whole
// width when it holds none (the caller tests for that case separately).
inline std::string_view field_text(std::span<const char> field) noexcept
{
    const void *nul = std::memchr(field.data(), '\0', field.size());
    return {field.data(), nul ? static_cast<size_t>(static_cast<const char *>(nul) - field.data())
                              : field.size()};
}

// True when a fixed-width field holds no terminator within its width.
inline bool field_overflows(std::span<const char> field) noexcept
{
    return std::memchr(field.data(), '\0', field.size()) == nullptr;
}

}  // namespace zorbel
