#include "registry/registry_open.h"

#include "cli/cli_error.h"
#include "registry_problem.h"

#include <sys/stat.h>

namespace zorbel::cli {

bool open_registry(const std::string &root, zo_env_t &env)
{
    const std::string r = root.empty() ? "/" : root;
    const std::string file = r + (r == "/" ? "" : "/") + "var/sadm/zorbel/registry/zorbel.xml";
    struct stat st{};
    // Only for the report: the library validates a new registry before it
    // links it into place, so a failed first use has nothing to remove (and
    // removing here could take away a registry another process just made).
    const bool absent_before = lstat(file.c_str(), &st) != 0;
    const int rc = zo_initialize(r.c_str(), &env);
    if (rc != ZO_ERR_NO_ERROR)
        throw Failure(diagnostics::registry_problem(env, rc));
    return absent_before;
}

}  // namespace zorbel::cli
