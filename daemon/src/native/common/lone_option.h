// The two requests a daemon answers without starting: a lone --help and a
// lone --version.  Any other command line goes to the option letters, which
// read "--help" as -h -e -l p and so would write a file named "p".
#pragma once

#include <optional>
#include <span>

namespace zorbel::daemon {

// When argv is exactly the program and "--help", writes the usage text
// (print_usage with `usage_lines`) on standard output; when it is exactly the
// program and "--version", writes "NAME VERSION".  Returns the exit status
// (0, or 1 when standard output cannot be written), else nullopt.
std::optional<int> answer_lone_option(int argc, char *argv[], std::span<const char *const> usage_lines);

}  // namespace zorbel::daemon
