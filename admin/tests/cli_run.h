// Runs the installed programs the way a shell script does, and captures
// what they print.
#pragma once

#include "process.h"
#include "run.h"

#include <chrono>
#include <string>
#include <vector>

namespace zorbel::test {

// The installed tree that the tests run from (cmake --install of this build).
std::string installed(const std::string &relative);

// Runs the installed zorbel with `args`.
RunResult zorbel(const std::vector<std::string> &args, std::chrono::milliseconds timeout = 10s);

}  // namespace zorbel::test
