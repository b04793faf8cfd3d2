// Running a program to its end and capturing what it prints.
#pragma once

#include "process.h"

#include <chrono>
#include <string>
#include <vector>

namespace zorbel::test {

struct RunResult {
    int status = -1;  // exit status; -1 when the program did not exit normally in time
    std::string out;
    std::string err;
};

// Runs argv to completion with standard input from /dev/null.
RunResult run(const std::vector<std::string> &argv, std::chrono::milliseconds timeout = 10s);

// Runs `command` with /bin/sh -c.
RunResult run_shell(const std::string &command, std::chrono::milliseconds timeout = 10s);

}  // namespace zorbel::test
