// The usage texts of zorbel and of each of its sub-commands.
#pragma once

#include <string_view>

namespace zorbel::cli {

// The usage text of `command`, or of zorbel as a whole for "" and for
// names that are no command.
std::string_view usage_text(std::string_view command);

}  // namespace zorbel::cli
