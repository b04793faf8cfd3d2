// Writing the registry: the writers' lock, saving a changed document over
// the registry, and putting a new registry file in place.
#pragma once

#include "zorbel/support/unique_fd.h"
#include "zorbel.h"

#include <libxml/tree.h>
#include <sys/stat.h>

#include <chrono>
#include <string_view>

namespace zorbel {

// An exclusive lock on the whole registry file, held from construction to
// destruction.  It is an open-file-description lock: it conflicts with the
// lockf() locks of other processes, and unlike those it stays held when
// this process closes some other descriptor of the file.  Construction
// waits for other writers; once the lock is granted it makes sure the
// descriptor still names the file at the registry path (a writer before
// it may have renamed a new registry into place) and locks that one
// instead if not.  It waits for the lock about ten seconds at most, then
// gives up with ZO_ERR_LOCKF_ERR.  While the lock is held, read the
// registry only through fd().
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

// Saves `doc` as the registry while the caller holds the writers' lock on
// `locked_fd`, a descriptor of the registry open for reading and writing.
// The new content goes to a temporary file that is renamed over the
// registry, so readers and crashes see the old file or the new one; only
// when the registry directory refuses new files is the registry rewritten
// in place through `locked_fd`.  On failure the previous content is kept
// and the result is ZO_ERR_XML_SAVE_REG.
int save_registry(const zo_env_t *env, int locked_fd, xmlDoc *doc);

enum class Install { create_new, replace };

// Writes `content` to a temporary file in the registry directory, flushes
// it to disk and puts it at env->registry: `create_new` links it there only
// when no registry exists yet (returns ZO_ERR_DUP_REC when one does),
// `replace` renames it over the registry, first giving it the mode (and,
// where allowed, owner and group) of `like`.  The temporary file never
// outlives the call.  ZO_ERR_NO_ERROR, ZO_ERR_DUP_REC (create_new lost the
// race) or ZO_ERR_XML_SAVE_REG; `errno_out` receives the failing errno.
int install_registry(const zo_env_t *env, std::string_view content, Install how,
                     const struct stat *like = nullptr, int *errno_out = nullptr);

}  // namespace zorbel
