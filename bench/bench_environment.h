// The line a benchmark prints beside its figures, the same as
// bench/environment.sh prints for the scripted ones: commit, build type,
// usable processors, load average and date.
#pragma once

#include <sched.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>

namespace zorbel::bench {

inline std::string bench_environment()
{
    std::string commit = "unknown";
    struct PipeCloser {
        void operator()(std::FILE *f) const noexcept { pclose(f); }
    };
    const std::unique_ptr<std::FILE, PipeCloser> git(
        popen("git -C '" ZORBEL_BENCH_SOURCE_DIR "' rev-parse --short HEAD 2>/dev/null", "r"));
    std::array<char, 64> line{};
    if (git && std::fgets(line.data(), line.size(), git.get()) != nullptr && line[0] != '\n') {
        commit = line.data();
        commit.erase(commit.find_last_not_of("\r\n") + 1);
    }
    cpu_set_t cpus;
    const int nproc = sched_getaffinity(0, sizeof cpus, &cpus) == 0 ? CPU_COUNT(&cpus) : 0;
    std::string l1, l5, l15;
    std::ifstream("/proc/loadavg") >> l1 >> l5 >> l15;
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", &utc);
    const std::string build_type = ZORBEL_BENCH_BUILD_TYPE;
    return "commit " + commit + ", build type " + (build_type.empty() ? "unknown" : build_type) +
           ", nproc " + std::to_string(nproc) + ", load average " + l1 + " " + l5 + " " + l15 + ", " + date;
}

}  // namespace zorbel::bench
