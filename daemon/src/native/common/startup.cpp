#include "startup.h"

#include <fcntl.h>
#include <libgen.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

namespace zorbel::daemon {

int parse_options(int argc, char *argv[], const char *letters,
                  const std::function<bool(int, const char *)> &handle)
{
    const std::string optstring = std::string(":") + letters;
    int errors = 0;
    int c;
    opterr = 0;
    while ((c = getopt(argc, argv, optstring.c_str())) != -1) {
        if (c == '?') {
            fprintf(stderr, "Unrecognized option: -%c\n", optopt);
            ++errors;
        } else if (c == ':') {
            fprintf(stderr, "Option -%c requires an operand\n", optopt);
            ++errors;
        } else if (!handle(c, optarg)) {
            return -1;
        }
    }
    return errors;
}

bool copy_operand(std::optional<std::string> &into, const char *operand, const char *what)
{
    try {
        into.emplace(operand);
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        perror(what);
        return false;
    }
    return true;
}

void redirect_stderr(const char *path, LogOpen how)
{
    const int fd = open_log_file(path, how);
    if (fd < 0) {
        fprintf(stderr, "Unable to open log file: %s\n", path);
        return;
    }
    fflush(stderr);
    if (fd != STDERR_FILENO) {
        dup2(fd, STDERR_FILENO);  // dup2 clears FD_CLOEXEC on the copy
        close(fd);
    } else {
        fcntl(fd, F_SETFD, 0);
    }
}

void print_usage(const char *argv0, std::span<const char *const> lines, FILE *to)
{
    std::string name = argv0 ? argv0 : "";
    std::vector<char> copy(name.begin(), name.end());
    copy.push_back('\0');
    fprintf(to, "Usage: %s [options]\n", basename(copy.data()));
    for (const char *line : lines)
        fputs(line, to);
}

int option_error_status(int errors)
{
    return errors > 255 ? 255 : errors;
}

int number_operand(const char *text)
{
    return static_cast<int>(strtol(text, nullptr, 10));
}

void make_daemon_process()
{
    signal(SIGTTOU, SIG_IGN);
    signal(SIGTTIN, SIG_IGN);
    signal(SIGTSTP, SIG_IGN);
    if (fork() != 0)
        exit(0);
    setsid();
    signal(SIGHUP, SIG_IGN);
}

}  // namespace zorbel::daemon
