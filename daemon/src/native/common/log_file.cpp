#include "log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorbel::daemon {

int open_log_file(const char *path, LogOpen how)
{
    // O_NONBLOCK: a FIFO or a device must not hold start-up before fstat
    // has refused it.
    int flags = O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    if (how == LogOpen::exclusive)
        flags |= O_EXCL;
    const int fd = open(path, flags, 0666);
    if (fd < 0)
        return -1;
    struct stat st{};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && fcntl(fd, F_SETFL, O_APPEND) == 0)
        return fd;
    close(fd);
    return -1;
}

}  // namespace zorbel::daemon
