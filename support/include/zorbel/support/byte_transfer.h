// Moving every byte of a buffer through calls that may move only some:
// read, write, send, recv, pread, pwrite.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>

namespace zorbel {

// The default for blocking descriptors: a call that would block (a send
// time limit ran out) ends the transfer.
inline bool give_up_when_blocked() noexcept { return false; }

// Calls `step(done)`, which moves bytes from offset `done` on and returns
// how many (or -1 with errno set), until `size` bytes have moved.  A call
// interrupted by a signal is repeated.  A call that would block
// (EAGAIN/EWOULDBLOCK) is repeated after `when_blocked()` returns true (it
// typically polls the descriptor) and ends the transfer when it returns
// false.  A call that moves nothing (end of stream) or fails ends it too.
// Returns the number of bytes moved: `size` on success, less on failure,
// with errno as the failing call left it (0 at end of stream).
template <class Step, class WhenBlocked = bool (*)() noexcept>
size_t transfer_all(size_t size, Step step, WhenBlocked when_blocked = give_up_when_blocked)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = step(done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n == 0) {
            errno = 0;
            break;
        }
        if (errno == EINTR)
            continue;
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && when_blocked())
            continue;
        break;
    }
    return done;
}

}  // namespace zorbel
