#include "registry/init_command.h"

#include "cli/cli_error.h"
#include "registry/dtd_candidate.h"
#include "registry/registry_open.h"
#include "registry_problem.h"
#include "zorbel/support/registry_layout.h"
#include "zorbel/support/regular_file.h"

#include "zorbel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace zorbel::cli {

namespace {

constexpr int dtd_key = 256;

struct InitRequest {
    std::string root = "/";
    std::optional<std::string> dtd;
};

[[noreturn]] void system_failure(const std::string &object, const char *what)
{
    throw Failure(diagnostics::object_message(object, what, std::strerror(errno)));
}

// The DTD this installation carries: beside the program's own prefix (the
// installed tree may have been moved), else where it was configured to go.
std::string installed_dtd()
{
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string dir(self, static_cast<std::size_t>(n));
        dir.erase(dir.rfind('/') + 1);
        const std::string beside = dir + ZORBEL_DTD_FROM_BINDIR;
        if (access(beside.c_str(), R_OK) == 0)
            return beside;
    }
    return ZORBEL_DTD_FILE;
}

// Makes every missing directory of `path` with mode 0755 (whatever the
// umask); true when the last one was made.
bool make_directories(const std::string &path)
{
    struct stat st{};
    if (stat(path.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) {
            errno = ENOTDIR;
            system_failure(path, "Unable to create directory");
        }
        return false;
    }
    const auto slash = path.find_last_of('/', path.find_last_not_of('/'));
    if (slash != std::string::npos && slash > 0)
        make_directories(path.substr(0, slash));
    if ((mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) || chmod(path.c_str(), 0755) != 0)
        system_failure(path, "Unable to create directory");
    return true;
}

bool exists(const std::string &path)
{
    struct stat st{};
    return lstat(path.c_str(), &st) == 0;
}

InitRequest parse_init(const GlobalOptions &global, int argc, char *argv[])
{
    InitRequest req;
    if (global.root && !global.root->empty())
        req.root = *global.root;
    const OptionSpec specs[] = {root_option, {"dtd", dtd_key, true}};
    const auto operands = read_options("init", argc, argv, specs, [&](int key, const char *value) {
        if (key == dtd_key)
            req.dtd = value;
        else if (*value != '\0')
            req.root = value;
    });
    expect_operands("init", operands, 0, 0);
    if (req.dtd && req.root == "/")
        throw UsageError("init", "--dtd applies to a root other than / (the root / uses the installed DTD)");
    return req;
}

// The text of the registry below `root`, read without blocking on
// anything but a regular file; nullopt when there is none.
std::optional<std::string> existing_registry(const std::string &root)
{
    const std::string file = layout::registry_file(root);
    if (!exists(file))
        return std::nullopt;
    const RegularFile registry = open_regular_file(file, std::numeric_limits<off_t>::max());
    if (registry.error != 0) {
        errno = registry.error;
        system_failure(file, "Unable to read the registry");
    }
    return read_all(registry);
}

// The DTD to put beside the registry of a root other than /: FILE, or the
// installed one when none lies there yet.  It must accept the registry (an
// existing one, or the one about to be created) before anything is made.
// (The registry names the DTD at `target`, where the candidate would go.)
std::optional<DtdCandidate> dtd_to_install(const InitRequest &req, const std::string &target)
{
    if (req.root == "/" || (!req.dtd && exists(target)))
        return std::nullopt;
    DtdCandidate candidate = req.dtd ? read_dtd_candidate(*req.dtd, DtdSource::named)
                                     : read_dtd_candidate(installed_dtd(), DtdSource::installed);
    const std::optional<std::string> registry = existing_registry(req.root);
    if (!registry_matches(candidate, registry.value_or(new_registry_text(req.root))))
        throw Failure(diagnostics::object_message(layout::registry_file(req.root), zo_error(ZO_ERR_XML_INVALID_REG),
                                                  "does not match its DTD " + target));
    return candidate;
}

}  // namespace

int run_init(const GlobalOptions &global, int argc, char *argv[])
{
    const auto req = parse_init(global, argc, argv);
    const std::string dir = layout::registry_dir(req.root);
    const std::string target = dir + "/" + std::string(layout::dtd_name);
    const std::optional<DtdCandidate> dtd = dtd_to_install(req, target);
    if (!dtd)
        check_new_registry_dtd(req.root);
    if (make_directories(dir))
        std::printf("created directory %s\n", dir.c_str());
    if (dtd) {
        install_dtd(*dtd, target);
        std::printf("copied %s to %s\n", dtd->source.c_str(), target.c_str());
    }
    zo_env_t env{};
    const bool created = open_registry(req.root, env);
    std::printf("%s registry %s (%s)\n", created ? "created" : "checked", env.registry, env.registry_urn);
    zo_close(&env);
    return exit_ok;
}

}  // namespace zorbel::cli
