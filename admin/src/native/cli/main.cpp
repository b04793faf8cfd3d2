// zorbel: the administration command of the product registry.
#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/usage.h"

#include <cstdio>
#include <string>

int main(int argc, char *argv[])
{
    using namespace zorbel::cli;
    int status = exit_ok;
    try {
        status = run_command_line(argc, argv);
    } catch (const HelpRequest &h) {
        std::fputs(usage_text(h.command).data(), stdout);
    } catch (const UsageError &e) {
        const std::string who = e.command().empty() ? "zorbel" : "zorbel " + std::string(e.command());
        std::fprintf(stderr, "%s: %s\n%s", who.c_str(), e.what(), usage_text(e.command()).data());
        return exit_usage;
    } catch (const Failure &e) {
        std::fflush(stdout);
        std::fprintf(stderr, "zorbel: %s\n", e.what());
        status = exit_failure;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::perror("zorbel: standard output");
        return exit_failure;
    }
    return status;
}
