#include "cli_run.h"

#include "temp_root.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace zorbel::test {

namespace {

// A file in /tmp removed on scope exit.
class TempFile {
public:
    TempFile()
    {
        char name[] = "/tmp/zorbel-cli-XXXXXX";
        fd_ = mkstemp(name);
        if (fd_ < 0)
            throw std::runtime_error("mkstemp failed");
        path_ = name;
    }
    ~TempFile()
    {
        close(fd_);
        unlink(path_.c_str());
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    int fd() const { return fd_; }
    const std::string &path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace

std::string installed(const std::string &relative)
{
    return std::string(ZORBEL_TEST_PREFIX) + "/" + relative;
}

SpawnOptions logging_to(const std::string &stderr_path, int stdout_fd)
{
    SpawnOptions opts;
    opts.stderr_path = stderr_path;
    opts.stdout_fd = stdout_fd;
    return opts;
}

RunResult run(const std::vector<std::string> &argv, std::chrono::milliseconds timeout)
{
    const TempFile out, err;
    Child child = Child::spawn(argv, logging_to(err.path(), out.fd()));
    RunResult r;
    r.status = child.wait_exit_code(timeout);
    r.out = read_file(out.path());
    r.err = read_file(err.path());
    return r;
}

RunResult zorbel(const std::vector<std::string> &args, std::chrono::milliseconds timeout)
{
    std::vector<std::string> argv{installed("bin/zorbel")};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, timeout);
}

}  // namespace zorbel::test
