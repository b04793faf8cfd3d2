#include "run.h"

#include "temp_root.h"

#include <stdlib.h>
#include <unistd.h>

#include <stdexcept>

namespace zorbel::test {

namespace {

// A file in the temporary directory, removed on scope exit.
class TempFile {
public:
    TempFile()
    {
        char name[] = "/tmp/zorbel-run-XXXXXX";
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

RunResult run_shell(const std::string &command, std::chrono::milliseconds timeout)
{
    return run({"/bin/sh", "-c", command}, timeout);
}

}  // namespace zorbel::test
