#include "gate.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>

namespace zorbel::test {

Gate::Gate()
{
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    read_fd_ = fds[0];
    write_fd_ = fds[1];
}

Gate::~Gate()
{
    close(read_fd_);
    if (write_fd_ >= 0)
        close(write_fd_);
}

void Gate::open(int waiters)
{
    const std::string tokens(static_cast<size_t>(waiters), 'g');
    if (write_fd_ >= 0)
        (void)!write(write_fd_, tokens.data(), tokens.size());
    close(write_fd_);
    write_fd_ = -1;
}

bool Gate::wait(std::chrono::milliseconds timeout)
{
    // A waiter never opens: its own write end must not keep the pipe from
    // reporting that every opener is gone.
    if (write_fd_ >= 0)
        close(write_fd_);
    write_fd_ = -1;
    pollfd p{read_fd_, POLLIN, 0};
    int ready;
    while ((ready = poll(&p, 1, static_cast<int>(timeout.count()))) < 0 && errno == EINTR) {
    }
    char c;
    return ready > 0 && read(read_fd_, &c, 1) == 1;
}

}  // namespace zorbel::test
