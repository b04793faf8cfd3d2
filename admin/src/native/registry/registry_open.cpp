#include "registry/registry_open.h"

#include "cli/cli_error.h"
#include "registry_problem.h"
#include "zorbel/support/registry_layout.h"

#include <sys/stat.h>

#include <cerrno>

namespace zorbel::cli {

namespace {

bool registry_absent(const std::string &root)
{
    struct stat st{};
    return lstat(layout::registry_file(root).c_str(), &st) != 0 && errno == ENOENT;
}

bool directory_exists(const std::string &path)
{
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

void check_new_registry_dtd(const std::string &root)
{
    if (!registry_absent(root))
        return;
    if (const auto problem = diagnostics::new_registry_dtd_problem(root))
        throw Failure(diagnostics::object_message(layout::registry_file(root), zo_error(ZO_ERR_XML_INVALID_REG),
                                                  diagnostics::dtd_advice(*problem)));
}

bool open_registry(const std::string &root, zo_env_t &env)
{
    const std::string r = root.empty() ? "/" : root;
    // Without the directory the library reports that, and creates nothing.
    if (directory_exists(layout::registry_dir(r)))
        check_new_registry_dtd(r);
    const bool absent_before = registry_absent(r);
    const int rc = zo_initialize(r.c_str(), &env);
    if (rc != ZO_ERR_NO_ERROR)
        throw Failure(diagnostics::registry_problem(env, rc));
    return absent_before;
}

}  // namespace zorbel::cli
