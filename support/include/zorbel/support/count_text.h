// A number with the noun that goes with it: "1 record", "2 records".
// Both HTML pages (the responder's own and the fleet page) count with it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zorbel {

inline std::string count_of(std::size_t n, std::string_view one, std::string_view many)
{
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

}  // namespace zorbel
