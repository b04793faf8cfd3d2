#include "registry/init_command.h"

#include "cli/cli_error.h"
#include "registry/registry_open.h"
#include "zorbel/support/unique_fd.h"

#include "zorbel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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
    throw Failure(object + ": " + what + " (" + std::strerror(errno) + ")");
}

// The registry directory the library composes for `root`.
std::string registry_dir(const std::string &root)
{
    return root + (root == "/" ? "" : "/") + "var/sadm/zorbel/registry";
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

// Copies the DTD `from` to `to` through a temporary file renamed into
// place, so a reader never sees a part of it.
void copy_dtd(const std::string &from, const std::string &to)
{
    const UniqueFd in(open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st{};
    if (!in || fstat(in.get(), &st) != 0)
        system_failure(from, "Unable to read the DTD");
    if (!S_ISREG(st.st_mode))
        throw Failure(from + ": Unable to read the DTD (not a regular file)");
    std::string temp = to + ".XXXXXX";
    const UniqueFd out(mkstemp(temp.data()));
    if (!out)
        system_failure(to, "Unable to write the DTD");
    bool ok = fchmod(out.get(), 0644) == 0;
    char buf[8192];
    for (ssize_t n; ok && (n = read(in.get(), buf, sizeof buf)) != 0;) {
        ok = n > 0 && write(out.get(), buf, static_cast<std::size_t>(n)) == n;
    }
    ok = ok && fsync(out.get()) == 0 && rename(temp.c_str(), to.c_str()) == 0;
    if (!ok) {
        const int err = errno;
        unlink(temp.c_str());
        errno = err;
        system_failure(to, "Unable to write the DTD");
    }
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

}  // namespace

int run_init(const GlobalOptions &global, int argc, char *argv[])
{
    const auto req = parse_init(global, argc, argv);
    const std::string dir = registry_dir(req.root);
    if (make_directories(dir))
        std::printf("created directory %s\n", dir.c_str());
    if (req.root != "/") {
        const std::string target = dir + "/zorbel.dtd";
        if (req.dtd || !exists(target)) {
            const std::string source = req.dtd.value_or(installed_dtd());
            copy_dtd(source, target);
            std::printf("copied %s to %s\n", source.c_str(), target.c_str());
        }
    }
    zo_env_t env{};
    const bool created = open_registry(req.root, env);
    std::printf("%s registry %s (%s)\n", created ? "created" : "checked", env.registry, env.registry_urn);
    zo_close(&env);
    return exit_ok;
}

}  // namespace zorbel::cli
