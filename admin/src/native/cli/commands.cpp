#include "cli/commands.h"

#include "cli/arguments.h"
#include "cli/cli_error.h"
#include "registry/init_command.h"
#include "network/network_arguments.h"
#include "registry/registry_commands.h"

#include <array>
#include <cstdio>
#include <string>
#include <string_view>

namespace zorbel::cli {

namespace {

struct Command {
    std::string_view name;
    int (*run)(const GlobalOptions &, int argc, char *argv[]);
};

constexpr std::array<Command, 11> commands{{
    {"init", run_init},
    {"add", run_add},
    {"update", run_update},
    {"delete", run_delete},
    {"get", run_get},
    {"list", run_list},
    {"export", run_export},
    {"urn", run_urn},
    {"discover",
     [](const GlobalOptions &g, int argc, char *argv[]) { return discover(parse_discover(g, argc, argv)); }},
    {"query", [](const GlobalOptions &g, int argc, char *argv[]) { return query(parse_query(g, argc, argv)); }},
    {"inventory",
     [](const GlobalOptions &g, int argc, char *argv[]) { return inventory(parse_inventory(g, argc, argv)); }},
}};


}  // namespace

int run_command_line(int argc, char *argv[])
{
    GlobalOptions global;
    bool version = false;
    const OptionSpec specs[] = {root_option, version_option};
    const int first = read_options(
        "", argc, argv, specs,
        [&](int key, const char *value) {
            if (key == version_option.key)
                version = true;
            else
                global.root = value;
        },
        true);
    if (version) {
        std::puts("zorbel " ZORBEL_VERSION);
        return exit_ok;
    }
    if (first >= argc)
        throw UsageError("", "missing command");
    const std::string_view name = argv[first];
    for (const auto &c : commands) {
        if (c.name != name)
            continue;
        try {
            return c.run(global, argc - first, argv + first);
        } catch (const VersionRequest &) {
            std::puts("zorbel " ZORBEL_VERSION);
            return exit_ok;
        }
    }
    for (int i = first + 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--help")
            throw HelpRequest{""};
    throw UsageError("", "unknown command '" + std::string(name) + "'");
}

}  // namespace zorbel::cli
