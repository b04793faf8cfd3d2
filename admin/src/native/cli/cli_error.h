// The three ways a zorbel command ends besides success, as exceptions that
// main() turns into a message and an exit status.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace zorbel::cli {

inline constexpr int exit_ok = 0;
inline constexpr int exit_failure = 1;
inline constexpr int exit_usage = 2;

// The command could not do its work: "zorbel: <what>", exit status 1.
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The command line is wrong: the message, then the usage text of
// `command` ("" for the top level), exit status 2.
class UsageError : public std::runtime_error {
public:
    UsageError(std::string_view command, const std::string &what)
        : std::runtime_error(what), command_(command)
    {
    }
    std::string_view command() const noexcept { return command_; }

private:
    std::string_view command_;
};

// --help: the usage text of `command` on standard output, exit status 0.
struct HelpRequest {
    std::string_view command;
};

// --version after a command: the version on standard output, exit status 0.
struct VersionRequest {};

}  // namespace zorbel::cli
