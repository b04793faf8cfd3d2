#include "registry_start.h"

#include "registry_problem.h"

#include <cstdio>

namespace zorbel::daemon {

void open_registry(const std::optional<std::string> &root, zo_env_t &env, bool report)
{
    env = zo_env_t{};
    if (const int rc = zo_initialize(root ? root->c_str() : nullptr, &env); rc < 0 && report)
        fprintf(stderr, "zo_initialize: %s\n", zorbel::diagnostics::registry_problem(env, rc).c_str());
}

}  // namespace zorbel::daemon
