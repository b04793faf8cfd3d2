#include "proc_files.h"

#include "temp_root.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace zorbel::test {

namespace {

// The processes for which `keep` holds.
std::vector<pid_t> processes_where(const std::function<bool(const std::filesystem::path &dir)> &keep)
{
    std::vector<pid_t> pids;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") == std::string::npos && keep(entry.path()))
            pids.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return pids;
}

}  // namespace

std::string proc_status_line(pid_t pid, const std::string &key)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(key + ":"))
            return line;
    return {};
}

std::vector<pid_t> children_of(pid_t parent)
{
    return processes_where([parent](const std::filesystem::path &dir) {
        const std::string stat = read_file(dir / "stat");
        // "pid (comm) state ppid ...": the name may hold blanks, so read after the last ')'.
        const auto close = stat.rfind(')');
        if (close == std::string::npos)
            return false;
        std::istringstream rest(stat.substr(close + 1));
        std::string state;
        pid_t ppid = 0;
        return rest >> state >> ppid && ppid == parent;
    });
}

std::vector<pid_t> processes_with(const std::string &needle)
{
    return processes_where([&needle](const std::filesystem::path &dir) {
        std::string cmdline = read_file(dir / "cmdline");
        std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
        return cmdline.find(needle) != std::string::npos;
    });
}

}  // namespace zorbel::test
