// The writers' lock on the registry file.
#pragma once

#include "unique_fd.h"
#include "zorbel.h"

#include <chrono>

namespace zorbel {

// An exclusive lock on the whole registry file, held from construction to
// destruction.  It is an open-file-description lock: it conflicts with the
// lockf() locks of other processes, and unlike those it stays held when
// this process closes some other descriptor of the file.  Construction
// waits for other writers; once the lock is granted it makes sure the
// descriptor still names the file at the registry path (a writer before
// it may have renamed a new registry into place) and locks that one
// instead if not.  It waits for the lock about ten seconds at most, then
// gives up with ZO_ERR_LOCKF_ERR.  While the lock is held, read the registry only through
// fd().
class RegistryLock {
public:
    explicit RegistryLock(const zo_env_t *env);
    RegistryLock(const RegistryLock &) = delete;
    RegistryLock &operator=(const RegistryLock &) = delete;
    // Unlocks; a failure is reported on standard error as "lockf: <reason>".
    ~RegistryLock();

    // ZO_ERR_NO_ERROR while held, ZO_ERR_FILE_ERR when the registry could
    // not be opened for reading and writing, ZO_ERR_LOCKF_ERR when it could
    // not be locked.
    int status() const { return status_; }
    // The locked descriptor, or -1 when the lock is not held.
    int fd() const { return fd_.get(); }

private:
    UniqueFd fd_;
    int status_ = ZO_ERR_FILE_ERR;
};

// Changes how long writers of this process wait for the lock; only tests
// shorten it.
void set_lock_wait_for_tests(std::chrono::milliseconds wait);

}  // namespace zorbel
