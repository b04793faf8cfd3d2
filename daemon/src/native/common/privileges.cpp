#include "privileges.h"

#include <grp.h>
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <span>

namespace zorbel::daemon {

namespace {

// Runs one identity change and checks that both the real and the
// effective id now read `id`: a set-id call that reports success but
// leaves either behind counts as a failure, reported under `call`.
template <class Id, class Set, class Real, class Effective>
bool take_id(const char *call, Id id, Set set, Real real, Effective effective)
{
    if (set(id) != 0) {
        perror(call);
        return false;
    }
    if (real() != id || effective() != id) {
        errno = EPERM;
        perror(call);
        return false;
    }
    return true;
}

// Makes `gid` the real and effective group and `supplementary` the whole
// supplementary list (empty clears it).  Writes the failing call's system
// error and returns false when the change does not happen in full.
bool switch_group(gid_t gid, std::span<const gid_t> supplementary)
{
    if (setgroups(supplementary.size(), supplementary.data()) != 0) {
        perror("setgroups");
        return false;
    }
    return take_id("setgid", gid, setgid, getgid, getegid);
}

// The password entry of `user_name` for -U; writes "WARNING: no such user
// exists: %s" and returns null when there is none.  The entry lives in the
// C library's static storage until the next lookup.
const struct passwd *find_user(const char *user_name)
{
    errno = 0;
    const struct passwd *pw = getpwnam(user_name);
    if (pw == nullptr)
        fprintf(stderr, "WARNING: no such user exists: %s\n", user_name);
    return pw;
}

// Looks the group up and makes it the real, effective and only
// supplementary group.
bool set_gid(const char *group_name)
{
    errno = 0;
    const struct group *gr = getgrnam(group_name);
    if (gr == nullptr) {
        fprintf(stderr, "WARNING: no such group exists: %s\n", group_name);
        return false;
    }
    const gid_t gid = gr->gr_gid;
    return switch_group(gid, std::span(&gid, 1));
}

// For -U without -G: the user's primary group, with no supplementary
// groups.
bool set_primary_group(const char *user_name)
{
    const struct passwd *pw = find_user(user_name);
    return pw != nullptr && switch_group(pw->pw_gid, {});
}

// Looks the user up and makes it the real and effective user, then checks
// that the old identity cannot be regained.
bool set_uid(const char *user_name)
{
    const struct passwd *pw = find_user(user_name);
    if (pw == nullptr)
        return false;
    const uid_t uid = pw->pw_uid;
    const uid_t old_uid = getuid();
    if (!take_id("setuid", uid, setuid, getuid, geteuid))
        return false;
    // A process that gave up root must not be able to take it back.
    if (uid != 0 && old_uid == 0 && setuid(0) != -1) {
        errno = EPERM;
        perror("setuid");
        return false;
    }
    return true;
}

}  // namespace

bool drop_privileges(const char *user_name, const char *group_name)
{
    if (group_name != nullptr ? !set_gid(group_name) : user_name != nullptr && !set_primary_group(user_name))
        return false;
    return user_name == nullptr || set_uid(user_name);
}

}  // namespace zorbel::daemon
