// The privilege drop of -U and -G, in forked children of root: the
// identity each combination ends with, and that a failed step stops the
// drop with its message, the user change never running after a failed
// group change.
#include "privileges.h"

#include "isolation.h"
#include "proc_files.h"
#include "process.h"
#include "temp_root.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <ostream>
#include <string>

namespace {

using namespace zorbel::test;

// Makes system call `nr` fail with EPERM in the calling process, as it
// fails for a process without the capability.
bool refuse_system_call(int nr)
{
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<__u32>(nr), 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) == 0;
}

struct DropCase {
    const char *user;
    const char *group;
    int refused_call;  // system call made to fail, or -1
    bool dropped;
    std::string err;  // what the drop wrote on standard error
    // The Uid, Gid and Groups lines of /proc/PID/status afterwards; "" for
    // one the drop left as it was.
    std::string uid = "", gid = "", groups = "";
};

const std::string nobody = "Uid:\t65534\t65534\t65534\t65534", nogroup = "Gid:\t65534\t65534\t65534\t65534";

void PrintTo(const DropCase &c, std::ostream *os)
{
    *os << "-U " << (c.user ? c.user : "(none)") << " -G " << (c.group ? c.group : "(none)")
        << " refused call " << c.refused_call;
}

class DropPrivileges : public testing::TestWithParam<DropCase> {};

TEST_P(DropPrivileges, EndsWithTheGivenIdentityOrFailsSaying)
{
    if (!have_root())
        GTEST_SKIP() << "needs root";
    const DropCase &c = GetParam();
    const TempRoot scratch(bare_root);
    const std::string err = scratch.root() + "/err", result = scratch.root() + "/result";
    Child child = Child::fork_call([&] {
        const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int result_fd = open(result.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err_fd < 0 || result_fd < 0 || dup2(err_fd, STDERR_FILENO) < 0)
            return 90;
        if (c.refused_call >= 0 && !refuse_system_call(c.refused_call))
            return 91;
        const bool dropped = zorbel::daemon::drop_privileges(c.user, c.group);
        std::string report = dropped ? "dropped\n" : "refused\n";
        for (const char *key : {"Uid", "Gid", "Groups"})
            report += proc_status_line(getpid(), key) + "\n";
        if (getuid() != 0 && setuid(0) == 0)
            report += "root regained\n";
        return write(result_fd, report.data(), report.size()) == static_cast<ssize_t>(report.size()) ? 0 : 92;
    });
    ASSERT_EQ(child.wait_exit_code(), 0);
    std::string expected = c.dropped ? "dropped\n" : "refused\n";
    for (const auto &[key, line] : {std::pair{"Uid", c.uid}, {"Gid", c.gid}, {"Groups", c.groups}})
        expected += (line.empty() ? proc_status_line(getpid(), key) : line) + "\n";
    EXPECT_EQ(read_file(result), expected);
    EXPECT_EQ(read_file(err), c.err);
}

// -U without -G: the user's primary group and no supplementary group.  A
// refused change stops the drop: the user never changes after a failed
// group change.
INSTANTIATE_TEST_SUITE_P(
    Rows, DropPrivileges,
    testing::Values(
        DropCase{"nobody", "nogroup", -1, true, "", nobody, nogroup, "Groups:\t65534 "},
        DropCase{"nobody", nullptr, -1, true, "", nobody, nogroup, "Groups:\t "},
        DropCase{nullptr, "nogroup", -1, true, "", "", nogroup, "Groups:\t65534 "},
        DropCase{nullptr, nullptr, -1, true, ""},
        DropCase{"no-such-user-zq", nullptr, -1, false, "WARNING: no such user exists: no-such-user-zq\n"},
        DropCase{"nobody", "no-such-group-zq", -1, false, "WARNING: no such group exists: no-such-group-zq\n"},
        DropCase{"no-such-user-zq", "nogroup", -1, false, "WARNING: no such user exists: no-such-user-zq\n", "",
                 nogroup, "Groups:\t65534 "},
        DropCase{"nobody", "nogroup", SYS_setgroups, false, "setgroups: Operation not permitted\n"},
        DropCase{"nobody", "nogroup", SYS_setgid, false, "setgid: Operation not permitted\n", "", "",
                 "Groups:\t65534 "},
        DropCase{"nobody", nullptr, SYS_setgid, false, "setgid: Operation not permitted\n", "", "", "Groups:\t "},
        DropCase{"nobody", "nogroup", SYS_setuid, false, "setuid: Operation not permitted\n", "", nogroup,
                 "Groups:\t65534 "}));

}  // namespace
