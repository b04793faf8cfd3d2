#include "lone_option.h"

#include "startup.h"

#include <libgen.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace zorbel::daemon {

std::optional<int> answer_lone_option(int argc, char *argv[], std::span<const char *const> usage_lines)
{
    if (argc != 2)
        return std::nullopt;
    const std::string_view arg = argv[1];
    if (arg == "--help") {
        print_usage(argv[0], usage_lines, stdout);
    } else if (arg == "--version") {
        std::string name = argv[0];
        std::printf("%s %s\n", basename(name.data()), ZORBEL_VERSION);
    } else {
        return std::nullopt;
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

}  // namespace zorbel::daemon
