// What /proc says about processes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zorbel::test {

// The line of /proc/PID/status that starts with "key:" (without its
// newline), "" when there is none.
std::string proc_status_line(pid_t pid, const std::string &key);

// The processes whose parent is `parent`.
std::vector<pid_t> children_of(pid_t parent);

// The processes whose command line (arguments joined by blanks) contains `needle`.
std::vector<pid_t> processes_with(const std::string &needle);

}  // namespace zorbel::test
