// Command-line reading shared by every sub-command: getopt_long over a
// small option table, with --help, and the checks of numeric operands.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zorbel::cli {

// Settings given before the sub-command.
struct GlobalOptions {
    std::optional<std::string> root;  // -r, --root: the registry root directory
};

struct OptionSpec {
    const char *name;  // long name, without "--"
    int key;           // the short letter, or a value of 256 and above for long-only options
    bool takes_value;
};

// Options that several sub-commands share, with the same key everywhere.
inline constexpr OptionSpec root_option{"root", 'r', true};
inline constexpr OptionSpec version_option{"version", 'V', false};
inline constexpr OptionSpec format_option{"format", 300, true};

// Reads the options of `command` from argv (argv[0] is the command's own
// name).  -h/--help throws HelpRequest; an unknown option or a missing
// value throws UsageError.  Every other option is passed to `handle` with
// its value (null for flags), in command-line order.  Options may follow
// operands unless `stop_at_operand` is set, which ends the options at the
// first operand.  Returns the index in argv of the first operand.
int read_options(std::string_view command, int argc, char *argv[], std::span<const OptionSpec> specs,
                 const std::function<void(int key, const char *value)> &handle, bool stop_at_operand);

// read_options(), with options allowed among the operands; returns the operands.
std::vector<std::string> read_options(std::string_view command, int argc, char *argv[],
                                      std::span<const OptionSpec> specs,
                                      const std::function<void(int key, const char *value)> &handle);

// Throws UsageError unless there are between `least` and `most` operands.
void expect_operands(std::string_view command, const std::vector<std::string> &operands,
                     std::size_t least, std::size_t most);

// A port number, 1 to 65535; anything else throws UsageError.
int parse_port(std::string_view command, std::string_view text);

// A whole number from 1 to `most`; anything else throws UsageError.
int parse_count(std::string_view command, std::string_view text, int most);

// A time in seconds (a decimal fraction is allowed), above 0 and at most an
// hour; anything else throws UsageError.
std::chrono::milliseconds parse_seconds(std::string_view command, std::string_view text);

}  // namespace zorbel::cli
