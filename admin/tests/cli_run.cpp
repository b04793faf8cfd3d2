#include "cli_run.h"

namespace zorbel::test {

std::string installed(const std::string &relative)
{
    return std::string(ZORBEL_TEST_PREFIX) + "/" + relative;
}

RunResult zorbel(const std::vector<std::string> &args, std::chrono::milliseconds timeout)
{
    std::vector<std::string> argv{installed("bin/zorbel")};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, timeout);
}

}  // namespace zorbel::test
