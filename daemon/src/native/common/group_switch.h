// Changing the group of a daemon that is about to drop root.
#pragma once

#include <pwd.h>
#include <sys/types.h>

#include <span>

namespace zorbel::daemon {

// Makes `gid` the real and effective group and `supplementary` the whole
// supplementary list (empty clears it).  Writes the failing call's system
// error and returns false when the change does not happen in full.
bool switch_group(gid_t gid, std::span<const gid_t> supplementary);

// The password entry of `user_name` for -U; writes "WARNING: no such user
// exists: %s" and returns null when there is none.  The entry lives in the
// C library's static storage until the next lookup.
const struct passwd *find_user(const char *user_name);

// For -U without -G: the user's primary group from the password database,
// with no supplementary groups, so that no group of the invoking identity
// (root's group 0 above all) survives the change of user.  Writes "WARNING:
// no such user exists: %s" or the system error and returns false when it
// cannot.
bool set_primary_group(const char *user_name);

}  // namespace zorbel::daemon
