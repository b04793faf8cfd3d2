#include "registry_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <thread>

namespace zorbel {

namespace {

// Each retry means another writer replaced the registry meanwhile; this
// many in a row only happens when something keeps swapping the file.
constexpr int max_reopens = 10000;

// How long a writer waits for the lock before it gives up.  Any user who
// can read the registry can hold a read lock on it; without a bound that
// user could stop every writer, root included, for good.
constexpr std::chrono::milliseconds lock_wait_limit = std::chrono::seconds(10);

std::chrono::milliseconds lock_wait = lock_wait_limit;

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

}  // namespace

void set_lock_wait_for_tests(std::chrono::milliseconds wait)
{
    lock_wait = wait;
}

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

RegistryLock::~RegistryLock()
{
    if (fd_ && !set_lock(fd_.get(), F_UNLCK, F_OFD_SETLK))
        perror("lockf");
}

}  // namespace zorbel
