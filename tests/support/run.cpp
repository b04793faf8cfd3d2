#include "run.h"

#include "temp_root.h"

#include <fcntl.h>
#include <unistd.h>

namespace zorbel::test {

RunResult run(const std::vector<std::string> &argv, std::chrono::milliseconds timeout)
{
    const TempRoot scratch(bare_root);
    const std::string out = scratch.root() + "/out", err = scratch.root() + "/err";
    const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    Child child = Child::spawn(argv, logging_to(err, out_fd));
    close(out_fd);
    RunResult r;
    r.status = child.wait_exit_code(timeout);
    r.out = read_file(out);
    r.err = read_file(err);
    return r;
}

RunResult run_shell(const std::string &command, std::chrono::milliseconds timeout)
{
    return run({"/bin/sh", "-c", command}, timeout);
}

}  // namespace zorbel::test
