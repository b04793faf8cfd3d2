#include "discovery.h"

#include "random_sleep.h"
#include "scache.h"
#include "zorbel/support/log_escape.h"
#include "zorbel/support/unique_fd.h"
#include "zorbel.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

int brenloch_verbose = 0;

namespace {

using zorbel::escape_for_log;

constexpr int idle_timeout_ms = 120 * 1000;

[[noreturn]] void fatal_error(const char *what)
{
    perror(what);
    exit(1);
}

zorbel::UniqueFd bind_discovery_socket(int udp_port)
{
    zorbel::UniqueFd fd(socket(AF_INET, SOCK_DGRAM, 0));
    if (!fd)
        fatal_error("socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<std::uint16_t>(udp_port));  // the low 16 bits
    if (bind(fd.get(), reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
        fatal_error("bind (udp)");
    return fd;
}

void require_ipv4(int sockfd)
{
    sockaddr_storage own{};
    socklen_t len = sizeof own;
    if (getsockname(sockfd, reinterpret_cast<sockaddr *>(&own), &len) != 0)
        fatal_error("getsockname");
    if (own.ss_family != AF_INET) {
        fprintf(stderr, "Unknown address family: %d\n", own.ss_family);
        exit(1);
    }
}

// Asks the system to say, with each datagram, which of this host's
// addresses it arrived on, so that the reply can leave from that address:
// a prober that sent to one address of a host with several expects its
// answer from that address, not from whichever one the route back picks.
// Without it (a refusal is not expected, but harmless) replies leave as
// the routing chooses.
void ask_for_arrival_address(int sockfd)
{
    const int on = 1;
    (void)setsockopt(sockfd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
}

// Receives one datagram into `msg`, its sender and arrival address
// included; the byte count, or -1 as recvfrom gives it.
ssize_t receive_datagram(int sockfd, udp_msg &msg)
{
    iovec iov{msg.content, sizeof msg.content - 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr h{};
    h.msg_name = &msg.addr;
    h.msg_namelen = sizeof msg.addr;
    h.msg_iov = &iov;
    h.msg_iovlen = 1;
    h.msg_control = control;
    h.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(sockfd, &h, 0);
    msg.addrlen = h.msg_namelen;
    msg.local_known = false;
    for (cmsghdr *c = n < 0 ? nullptr : CMSG_FIRSTHDR(&h); c != nullptr; c = CMSG_NXTHDR(&h, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            msg.local = info.ipi_spec_dst;
            msg.local_known = true;
        }
    }
    return n;
}

// Sends `reply` to the datagram's sender, from the address the datagram
// arrived on when that is known.
ssize_t send_reply(int sockfd, const udp_msg &msg, std::string_view reply)
{
    iovec iov{const_cast<char *>(reply.data()), reply.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))]{};
    msghdr h{};
    h.msg_name = const_cast<sockaddr_storage *>(&msg.addr);
    h.msg_namelen = msg.addrlen;
    h.msg_iov = &iov;
    h.msg_iovlen = 1;
    if (msg.local_known) {
        h.msg_control = control;
        h.msg_controllen = sizeof control;
        cmsghdr *c = CMSG_FIRSTHDR(&h);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst = msg.local;
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    return sendmsg(sockfd, &h, 0);
}

enum class Wait { readable, timed_out, interrupted };

// poll rather than select: the same wait, without a limit on the
// descriptor's number.  The failure keeps the message operators know.
Wait wait_readable(int sockfd)
{
    pollfd p{sockfd, POLLIN, 0};
    const int n = poll(&p, 1, idle_timeout_ms);
    if (n < 0) {
        if (errno == EINTR)
            return Wait::interrupted;
        fatal_error("select");
    }
    return n == 0 ? Wait::timed_out : Wait::readable;
}

// The probe text: the datagram up to its first NUL.
std::string_view probe_text(const udp_msg &msg) { return msg.content; }

void trace_sender(const udp_msg &msg, ssize_t bytes)
{
    char hostname[65];
    if (getnameinfo(reinterpret_cast<const sockaddr *>(&msg.addr), sizeof(sockaddr_in), hostname,
                    sizeof hostname, nullptr, 0, 0) != 0)
        snprintf(hostname, sizeof hostname, "unknown");
    // A reverse lookup returns whatever the peer's name server says.
    fprintf(stderr, " got %4d bytes from %s: %s\n", static_cast<int>(bytes),
            escape_for_log(hostname).c_str(), escape_for_log(probe_text(msg)).c_str());
}

}  // namespace

void receive_discovery_messages(int udp_port, int tcp_port, int inetd, int probe_fd)
{
    zorbel::UniqueFd own_socket;  // never closed: the loop ends only with the process
    if (!inetd)
        own_socket = bind_discovery_socket(udp_port);
    const int sockfd = inetd ? probe_fd : own_socket.get();
    require_ipv4(sockfd);
    ask_for_arrival_address(sockfd);

    for (;;) {
        std::unique_ptr<udp_msg> msg(new (std::nothrow) udp_msg);
        if (!msg) {
            errno = ENOMEM;
            perror("malloc(msg)");
            continue;
        }
        switch (wait_readable(sockfd)) {
        case Wait::interrupted:
            continue;
        case Wait::timed_out:
            if (inetd)
                exit(0);
            continue;
        case Wait::readable:
            break;
        }
        const ssize_t n = receive_datagram(sockfd, *msg);
        if (n < 0)
            fatal_error("recvfrom");
        msg->content[n] = '\0';
        if (brenloch_verbose > 0)
            trace_sender(*msg, n);
        handle_discovery_message(sockfd, std::move(msg), tcp_port);
    }
}

void handle_discovery_message(int sockfd, std::unique_ptr<udp_msg> msg, int tcp_port)
{
    fprintf(stderr, "Registry: %s\n", zo_get_registry_urn());
    const char *text = msg->content;
    const std::string shown = escape_for_log(text);
    if (scache_contains(text)) {
        fprintf(stderr, "NOTICE: ignoring due to scache hit: %s\n", shown.c_str());
        return;
    }
    // Recorded before the reply leaves: a probe whose reply could not be
    // sent is not answered again while it is remembered.
    scache_add(text);
    random_sleep();
    fprintf(stderr, "got msg: %s\n", shown.c_str());

    const std::string reply = std::string(zo_get_registry_urn()) + ' ' + std::to_string(tcp_port) + '\n';
    fprintf(stderr, "udp response: %s\n", reply.c_str());
    if (send_reply(sockfd, *msg, reply) < 0)
        perror("sendto");
}
