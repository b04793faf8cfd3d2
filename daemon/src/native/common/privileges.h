// Giving up root for -U and -G: the group first, then the user, each
// change checked, so a daemon either runs with exactly the identity it was
// given or does not run.
#pragma once

namespace zorbel::daemon {

// The whole drop, in its one order: with -G that group (the real,
// effective and only supplementary group); with -U alone the user's
// primary group and no supplementary groups, so that no group of the
// invoking identity (root's group 0 above all) survives; then with -U the
// user.  Null names skip their step.  Returns false after a message on
// standard error when any step fails: "WARNING: no such group exists: %s",
// "WARNING: no such user exists: %s", or the failing call's system error.
bool drop_privileges(const char *user_name, const char *group_name);

}  // namespace zorbel::daemon
