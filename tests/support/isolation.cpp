#include "isolation.h"

#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace zorbel::test {

bool have_root()
{
    return geteuid() == 0;
}

bool enter_private_mounts()
{
    if (unshare(CLONE_NEWNS) != 0) {
        perror("unshare(CLONE_NEWNS)");
        return false;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        perror("mount --make-rprivate /");
        return false;
    }
    return true;
}

std::string private_mounts_unavailable()
{
    static const std::string why = [] {
        if (!have_root())
            return std::string("needs root for a private mount namespace");
        const pid_t pid = fork();
        if (pid == 0)
            _exit(unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 ? 0 : 1);
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return std::string("no private mount namespace here (is / a mount point?)");
        return std::string();
    }();
    return why;
}

bool mount_tmpfs(const std::string &dir)
{
    if (mount("tmpfs", dir.c_str(), "tmpfs", 0, "mode=0755") != 0) {
        perror(("mount tmpfs " + dir).c_str());
        return false;
    }
    return true;
}

bool become_user(uid_t uid, gid_t gid)
{
    if (setgroups(1, &gid) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
        perror("become_user");
        return false;
    }
    return getuid() == uid && geteuid() == uid;
}

}  // namespace zorbel::test
