// UDP datagrams that remember which of this host's addresses they arrived
// on, so that an answer can leave from that same address: a prober that
// sent to one address of a host with several expects its answer from that
// address, not from whichever one the route back would pick.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstring>
#include <optional>
#include <span>
#include <string_view>

namespace zorbel {

// Asks the system to report, with each datagram received on `fd`, the
// address it arrived on.  False when the socket refuses; its datagrams
// then carry no arrival address.
inline bool report_arrival_address(int fd)
{
    const int on = 1;
    return setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) == 0;
}

struct Datagram {
    sockaddr_storage from{};           // the sender
    socklen_t from_len = 0;
    std::optional<in_addr> arrived_on;  // this host's address, when reported
};

// Receives one datagram into `buf`; the byte count, or -1 with errno as
// recvfrom sets it.
inline ssize_t receive_datagram(int fd, std::span<char> buf, Datagram &d)
{
    iovec iov{buf.data(), buf.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr h{};
    h.msg_name = &d.from;
    h.msg_namelen = sizeof d.from;
    h.msg_iov = &iov;
    h.msg_iovlen = 1;
    h.msg_control = control;
    h.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(fd, &h, 0);
    d.from_len = h.msg_namelen;
    d.arrived_on.reset();
    for (cmsghdr *c = n < 0 ? nullptr : CMSG_FIRSTHDR(&h); c != nullptr; c = CMSG_NXTHDR(&h, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            d.arrived_on = info.ipi_spec_dst;
        }
    }
    return n;
}

// Sends `bytes` back to the datagram's sender, from the address it arrived
// on when that was reported; the result of sendmsg.
inline ssize_t answer_datagram(int fd, const Datagram &d, std::string_view bytes)
{
    iovec iov{const_cast<char *>(bytes.data()), bytes.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))]{};
    msghdr h{};
    h.msg_name = const_cast<sockaddr_storage *>(&d.from);
    h.msg_namelen = d.from_len;
    h.msg_iov = &iov;
    h.msg_iovlen = 1;
    if (d.arrived_on) {
        h.msg_control = control;
        h.msg_controllen = sizeof control;
        cmsghdr *c = CMSG_FIRSTHDR(&h);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst = *d.arrived_on;
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    return sendmsg(fd, &h, 0);
}

}  // namespace zorbel
