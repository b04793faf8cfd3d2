// Giving up root for -U and -G: the group first, then the user, each
// change checked, so a daemon either runs with exactly the identity it was
// given or does not run.
#pragma once

#include <pwd.h>
#include <sys/types.h>

#include <span>

namespace zorbel::daemon {

// The whole drop, in its one order: with -G that group (the real,
// effective and only supplementary group); with -U alone the user's
// primary group and no supplementary groups, so that no group of the
// invoking identity (root's group 0 above all) survives; then with -U the
// user.  Null names skip their step.  Returns false after a message on
// standard error when any step fails.
bool drop_privileges(const char *user_name, const char *group_name);

// Looks the group up and makes it the real, effective and only
// supplementary group.  Writes "WARNING: no such group exists: %s" or the
// failing call's system error, and returns false, when it cannot.
bool set_gid(const char *group_name);

// For -U without -G: the user's primary group, with no supplementary
// groups.  Writes "WARNING: no such user exists: %s" or the system error
// and returns false when it cannot.
bool set_primary_group(const char *user_name);

// Looks the user up and makes it the real and effective user, then checks
// that the old identity cannot be regained.  Writes "WARNING: no such user
// exists: %s" or the failing call's system error, and returns false, when
// it cannot.
bool set_uid(const char *user_name);

// Makes `gid` the real and effective group and `supplementary` the whole
// supplementary list (empty clears it).  Writes the failing call's system
// error and returns false when the change does not happen in full.
bool switch_group(gid_t gid, std::span<const gid_t> supplementary);

// The password entry of `user_name` for -U; writes "WARNING: no such user
// exists: %s" and returns null when there is none.  The entry lives in the
// C library's static storage until the next lookup.
const struct passwd *find_user(const char *user_name);

}  // namespace zorbel::daemon
