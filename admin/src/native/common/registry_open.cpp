#include "registry_open.h"

#include "cli_error.h"
#include "registry_problem.h"

#include <sys/stat.h>
#include <unistd.h>

namespace zorbel::cli {

bool open_registry(const std::string &root, zo_env_t &env)
{
    const std::string r = root.empty() ? "/" : root;
    const std::string file = r + (r == "/" ? "" : "/") + "var/sadm/zorbel/registry/zorbel.xml";
    struct stat st{};
    const bool created = lstat(file.c_str(), &st) != 0;
    int rc = zo_initialize(r.c_str(), &env);
    if (rc == ZO_ERR_NO_ERROR && created) {
        zo_close(&env);
        rc = zo_initialize(r.c_str(), &env);
    }
    if (rc != ZO_ERR_NO_ERROR) {
        const std::string problem = diagnostics::registry_problem(env, rc);
        if (created)
            unlink(file.c_str());
        throw Failure(problem);
    }
    return created;
}

}  // namespace zorbel::cli
