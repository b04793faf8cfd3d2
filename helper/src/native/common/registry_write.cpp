// The one path by which a changed registry reaches the disk.
//
// A writer commits a change in this order:
//   1. Lock: open the registry for reading and writing and take an
//      exclusive open-file-description lock on the whole file, waiting a
//      bounded time for other writers (and for readers holding a lock).
//   2. Identity check: the locked descriptor must still name the file at
//      the registry path; a writer before this one may have renamed a new
//      registry into place, in which case that file is opened and locked.
//   3. Read through the locked descriptor only: closing any other
//      descriptor of the file would drop a POSIX record lock.
//   4. Serialise the changed document.
//   5. Temporary file ".zorbel.xml.XXXXXX" in the registry directory, mode
//      0600 from the start and locked by its writer while it exists (after
//      sweeping the temporary files of writers that died, see below).
//   6. Write the whole content to it.
//   7. fsync it, so its bytes are on disk before any name points at them.
//   8. Give it the registry's mode, and its owner and group where allowed.
//   9. Rename it over the registry.
//  10. fsync the directory, so the rename itself is on disk.
//  11. Unlock, by closing the locked descriptor.
//
// What a crash at each step leaves behind:
//   1-4   the registry untouched.
//   5-8   the registry untouched and a temporary file, which the next
//         writer removes (step 5) once no live process holds its lock.
//   9-10  the old or the new registry, each complete: the new bytes were
//         on disk before the rename; after a power loss before step 10
//         either name may survive.
//   11    the new registry; the kernel drops a dead process's locks.
//
// Where the directory refuses the temporary file (a writer that may write
// the registry but not its directory), steps 5 to 10 become a rewrite in
// place through the locked descriptor; see rewrite_in_place.
#include "registry_write.h"

#include "registry_file.h"
#include "zorbel/support/byte_transfer.h"
#include "zorbel/support/stdio_ptr.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>

namespace zorbel {

namespace {

// How long a writer waits for the lock before it gives up.  Any user who
// can read the registry can hold a read lock on it; without a bound that
// user could stop every writer, root included, for good.
constexpr std::chrono::milliseconds lock_wait_limit = std::chrono::seconds(10);

std::chrono::milliseconds lock_wait = lock_wait_limit;

// Each retry means another writer replaced the registry meanwhile; this
// many in a row only happens when something keeps swapping the file.
constexpr int max_reopens = 10000;

constexpr std::string_view temp_prefix = ".zorbel.xml.";
constexpr std::string_view temp_pattern = ".zorbel.xml.XXXXXX";

// A temporary file whose status changed this long ago, and whose lock no
// process holds, belongs to a writer that died.  Its writer locks it the
// moment it exists, so the age only covers that moment.
constexpr time_t stale_after_seconds = 2;

bool set_lock(int fd, short type, int cmd)
{
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;  // from the start to the end of the file and beyond
    int rc;
    do {
        rc = fcntl(fd, cmd, &fl);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

// Tries for the write lock until it is granted or `deadline` passes,
// pausing a little longer after each refusal (1 ms doubling to 50 ms).
bool lock_before(int fd, std::chrono::steady_clock::time_point deadline)
{
    std::chrono::milliseconds pause(1);
    for (;;) {
        if (set_lock(fd, F_WRLCK, F_OFD_SETLK))
            return true;
        if (errno != EAGAIN && errno != EACCES)
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

bool same_file(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Writes `data` at the start of the file.
bool pwrite_all(int fd, std::string_view data, size_t &done)
{
    done = transfer_all(data.size(), [&](size_t at) {
        return pwrite(fd, data.data() + at, data.size() - at, static_cast<off_t>(at));
    });
    return done == data.size();
}

// The first `size` bytes of the file.
bool pread_all(int fd, std::string &out, size_t size)
{
    out.resize(size);
    return transfer_all(size, [&](size_t at) {
        return pread(fd, out.data() + at, size - at, static_cast<off_t>(at));
    }) == size;
}

// Step 5: a temporary file in the registry directory, locked by this
// process while it exists and removed unless it was put in place.
class TempFile {
public:
    explicit TempFile(const std::string &dir) : path_(dir + "/" + std::string(temp_pattern))
    {
        fd_.reset(mkostemp(path_.data(), O_CLOEXEC));  // mode 0600 from the start
        if (!fd_) {
            path_.clear();
            return;
        }
        // Marks the file as a live writer's for the sweep of other writers.
        // A file on which the lock fails is still written: the sweep then
        // waits for its age, which a save never comes near.
        (void)set_lock(fd_.get(), F_WRLCK, F_OFD_SETLK);
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    // A file that cannot be removed here is old and unlocked soon, and the
    // next writer's sweep removes it; the save's result does not depend on it.
    ~TempFile()
    {
        if (!path_.empty())
            (void)unlink(path_.c_str());
    }
    int fd() const { return fd_.get(); }
    const std::string &path() const { return path_; }
    void placed() { path_.clear(); }  // renamed away: nothing left to remove

private:
    std::string path_;
    UniqueFd fd_;
};

// True when the temporary file `name` in `dir` was left by a writer that
// died: old enough, and no process holds a lock on it.
bool is_stale_temporary(int dir, const char *name, time_t now)
{
    const UniqueFd fd(openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st {};
    if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (now - st.st_ctime < stale_after_seconds)
        return false;
    struct flock probe {};
    probe.l_type = F_RDLCK;
    probe.l_whence = SEEK_SET;
    return fcntl(fd.get(), F_OFD_GETLK, &probe) == 0 && probe.l_type == F_UNLCK;
}

// Removes the temporary files of writers that died between creating and
// renaming them.  Runs under the registry lock, so no other replacing
// writer is between those steps; a first-use writer is told apart by its
// lock.  Failures are ignored: a file that cannot be removed now is tried
// again by the next writer, and the save does not depend on it.
void sweep_stale_temporaries(const std::string &dir_path)
{
    const DirPtr dir(opendir(dir_path.c_str()));
    if (!dir)
        return;
    const time_t now = time(nullptr);
    while (const dirent *entry = readdir(dir.get())) {
        const std::string_view name(entry->d_name);
        if (name.size() == temp_pattern.size() && name.starts_with(temp_prefix) &&
            is_stale_temporary(dirfd(dir.get()), entry->d_name, now))
            (void)unlinkat(dirfd(dir.get()), entry->d_name, 0);
    }
}

// Step 10.  The rename has already taken effect for every reader, so a
// failure here is not turned into a failed save (the caller would then
// believe the change was not made while every reader sees it); at worst a
// power loss right after it brings back the previous registry, whole.
void sync_directory(const char *dir)
{
    const UniqueFd d(open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (d)
        (void)fsync(d.get());
}

// The fallback for a registry directory that refuses new files while the
// registry itself is writable.  Readers may see the file half-written.
//
// The new document is padded with trailing blanks to the old length
// before it is written, synced, and only then cut to its own length: a
// crash after the write and before the cut leaves the new document
// followed by white space, which still parses, where the unpadded document
// followed by the old file's tail would not.  A failure puts the previous
// bytes back as far as they were overwritten.
int rewrite_in_place(int fd, std::string_view content)
{
    struct stat st {};
    std::string previous;
    if (fstat(fd, &st) != 0 || !pread_all(fd, previous, static_cast<size_t>(st.st_size)))
        return ZO_ERR_XML_SAVE_REG;

    std::string padded(content);
    if (padded.size() < previous.size())
        padded.resize(previous.size(), ' ');
    size_t written = 0;
    if (pwrite_all(fd, padded, written) && fsync(fd) == 0 &&
        ftruncate(fd, static_cast<off_t>(content.size())) == 0 && fsync(fd) == 0)
        return ZO_ERR_NO_ERROR;

    // The save has failed already and says so; when putting the old bytes
    // back fails too, nothing more can be done here, and the file holds
    // what the failing writes left.
    size_t restored = 0;
    if (pwrite_all(fd, std::string_view(previous).substr(0, std::min(written, previous.size())), restored) &&
        ftruncate(fd, static_cast<off_t>(previous.size())) == 0)
        (void)fsync(fd);
    return ZO_ERR_XML_SAVE_REG;
}

}  // namespace

void set_lock_wait_for_tests(std::chrono::milliseconds wait)
{
    lock_wait = wait;
}

// Steps 1 and 2.
RegistryLock::RegistryLock(const zo_env_t *env)
{
    const auto deadline = std::chrono::steady_clock::now() + lock_wait;
    for (int attempt = 0; attempt < max_reopens; ++attempt) {
        UniqueFd fd(open(env->registry, O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        struct stat opened {};
        if (!fd || fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
            status_ = ZO_ERR_FILE_ERR;
            return;
        }
        if (!lock_before(fd.get(), deadline)) {
            status_ = ZO_ERR_LOCKF_ERR;
            return;
        }
        struct stat current {};
        if (stat(env->registry, &current) == 0 && same_file(opened, current)) {
            fd_ = std::move(fd);
            status_ = ZO_ERR_NO_ERROR;
            return;
        }
        // Closing the descriptor releases the lock on the replaced file.
    }
    status_ = ZO_ERR_LOCKF_ERR;
}

// Step 11.
RegistryLock::~RegistryLock()
{
    if (fd_ && !set_lock(fd_.get(), F_UNLCK, F_OFD_SETLK))
        perror("lockf");
}

int install_registry(const zo_env_t *env, std::string_view content, Install how, const struct stat *like,
                     int *errno_out)
{
    auto fail = [errno_out](int code) {
        if (errno_out != nullptr)
            *errno_out = errno;
        return code;
    };
    if (content.empty()) {
        errno = EINVAL;
        return fail(ZO_ERR_XML_SAVE_REG);
    }
    if (how == Install::replace)
        sweep_stale_temporaries(env->registry_path);
    TempFile tmp(env->registry_path);
    if (tmp.fd() < 0)
        return fail(ZO_ERR_XML_SAVE_REG);
    size_t written = 0;
    if (!pwrite_all(tmp.fd(), content, written) || fsync(tmp.fd()) != 0)
        return fail(ZO_ERR_XML_SAVE_REG);

    if (how == Install::create_new) {
        // A new registry is readable and writable by its owner only, whatever
        // the umask took away from the temporary file's mode.  A failure is
        // ignored: the file then keeps that owner-only mode less the umask.
        (void)fchmod(tmp.fd(), S_IRUSR | S_IWUSR);
        // link() refuses an existing name, so of two processes creating the
        // registry at once exactly one succeeds.
        if (link(tmp.path().c_str(), env->registry) != 0)
            return fail(errno == EEXIST ? ZO_ERR_DUP_REC : ZO_ERR_XML_SAVE_REG);
    } else {
        if (like != nullptr) {
            if (fchmod(tmp.fd(), like->st_mode & 07777) != 0)
                return fail(ZO_ERR_XML_SAVE_REG);
            // Only a privileged writer may hand the file back to its owner;
            // anyone else keeps the owner the registry already has anyway.
            if (fchown(tmp.fd(), like->st_uid, like->st_gid) != 0 && geteuid() == 0)
                return fail(ZO_ERR_XML_SAVE_REG);
        }
        if (rename(tmp.path().c_str(), env->registry) != 0)
            return fail(ZO_ERR_XML_SAVE_REG);
        tmp.placed();
    }
    sync_directory(env->registry_path);
    return ZO_ERR_NO_ERROR;
}

int save_registry(const zo_env_t *env, int locked_fd, xmlDoc *doc)
{
    const std::string content = serialize_registry(doc);
    struct stat registry {};
    if (content.empty() || fstat(locked_fd, &registry) != 0)
        return ZO_ERR_XML_SAVE_REG;
    int error = 0;
    const int rc = install_registry(env, content, Install::replace, &registry, &error);
    // EACCES and EPERM come from a directory that refuses the temporary
    // file (or its rename); any other failure would hit the registry too.
    if (rc == ZO_ERR_XML_SAVE_REG && (error == EACCES || error == EPERM))
        return rewrite_in_place(locked_fd, content);
    return rc;
}

}  // namespace zorbel
