#include "registry_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace zorbel {

namespace {

// Each retry means another writer replaced the registry meanwhile; this
// many in a row only happens when something keeps swapping the file.
constexpr int max_reopens = 10000;

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

bool same_file(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

RegistryLock::RegistryLock(const zo_env_t *env)
{
    for (int attempt = 0; attempt < max_reopens; ++attempt) {
        UniqueFd fd(open(env->registry, O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        struct stat opened {};
        if (!fd || fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
            status_ = ZO_ERR_FILE_ERR;
            return;
        }
        if (!set_lock(fd.get(), F_WRLCK, F_OFD_SETLKW)) {
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
