// Runs the installed programs the way a shell script does, and captures
// what they print.
#pragma once

#include "process.h"

#include <chrono>
#include <string>
#include <vector>

namespace zorbel::test {

// The installed tree that the tests run from (cmake --install of this build).
std::string installed(const std::string &relative);

struct RunResult {
    int status = -1;  // exit status; -1 when the program did not exit in time
    std::string out;
    std::string err;
};

// Options for a program that runs on: standard error appended to
// `stderr_path`, standard output to `stdout_fd` (when >= 0).
SpawnOptions logging_to(const std::string &stderr_path, int stdout_fd = -1);

// Runs argv to completion with standard input from /dev/null.
RunResult run(const std::vector<std::string> &argv, std::chrono::milliseconds timeout = 10s);

// Runs the installed zorbel with `args`.
RunResult zorbel(const std::vector<std::string> &args, std::chrono::milliseconds timeout = 10s);

}  // namespace zorbel::test
