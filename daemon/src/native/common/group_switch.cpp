#include "group_switch.h"

#include <grp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace zorbel::daemon {

bool switch_group(gid_t gid, std::span<const gid_t> supplementary)
{
    if (setgroups(supplementary.size(), supplementary.data()) != 0) {
        perror("setgroups");
        return false;
    }
    if (setgid(gid) != 0) {
        perror("setgid");
        return false;
    }
    if (getgid() != gid || getegid() != gid) {
        errno = EPERM;
        perror("setgid");
        return false;
    }
    return true;
}

const struct passwd *find_user(const char *user_name)
{
    errno = 0;
    const struct passwd *pw = getpwnam(user_name);
    if (pw == nullptr)
        fprintf(stderr, "WARNING: no such user exists: %s\n", user_name);
    return pw;
}

bool set_primary_group(const char *user_name)
{
    const struct passwd *pw = find_user(user_name);
    return pw != nullptr && switch_group(pw->pw_gid, {});
}

}  // namespace zorbel::daemon
