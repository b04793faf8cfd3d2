// IPv4 loopback addresses and UDP sockets, for tests and load drivers.
// Header-only, so programs that do not link the test support can use it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace zorbel::test {

inline sockaddr_in loopback_address(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A UDP socket bound to 127.0.0.1:port (0: any free port); -1 when the
// port is taken or no socket can be made.
inline int bound_udp_socket(int port = 0)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = loopback_address(port);
    if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// The port a bound socket holds, 0 when it cannot be read.
inline int local_port(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

}  // namespace zorbel::test
