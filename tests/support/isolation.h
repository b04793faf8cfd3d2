// Steps a forked test child takes to run where it cannot harm the host:
// a private mount namespace, and an unprivileged user.  Each returns false
// (after a line on standard error) when the step fails.
#pragma once

#include <sys/types.h>

#include <string>

namespace zorbel::test {

// The unprivileged account tests switch to ("nobody").
constexpr uid_t nobody_uid = 65534;
constexpr gid_t nobody_gid = 65534;

// True when the process may create namespaces and change user (root).
bool have_root();

// Moves the calling process into a mount namespace of its own whose
// mounts never propagate back to the host's.
bool enter_private_mounts();

// Why enter_private_mounts cannot work here, for a test's skip message:
// not root, or "/" is no mount point (a plain chroot), so its mounts
// cannot be made private.  Empty when it works (tried once, in a child).
std::string private_mounts_unavailable();

// Mounts an empty tmpfs on `dir` (in the private namespace).
bool mount_tmpfs(const std::string &dir);

// Drops the calling process to uid/gid for good, supplementary groups too.
bool become_user(uid_t uid, gid_t gid);

}  // namespace zorbel::test
