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
#include <new>
#include <span>
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
    if (getnameinfo(reinterpret_cast<const sockaddr *>(&msg.datagram.from), sizeof(sockaddr_in), hostname,
                    sizeof hostname, nullptr, 0, 0) != 0)
        snprintf(hostname, sizeof hostname, "unknown");
    // A reverse lookup returns whatever the peer's name server says.
    fprintf(stderr, " got %4d bytes from %s: %s\n", static_cast<int>(bytes),
            escape_for_log(hostname).c_str(), escape_for_log(probe_text(msg)).c_str());
}

}  // namespace

void receive_discovery_messages(int udp_port, int tcp_port, bool inetd, int probe_fd)
{
    zorbel::UniqueFd own_socket;  // never closed: the loop ends only with the process
    if (!inetd)
        own_socket = bind_discovery_socket(udp_port);
    const int sockfd = inetd ? probe_fd : own_socket.get();
    require_ipv4(sockfd);
    // Replies then leave from the address each probe was sent to.  A socket
    // that refuses (none is expected to) answers from the address the
    // routing picks.
    (void)zorbel::report_arrival_address(sockfd);

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
        // One byte is kept back for the NUL after the text.
        const std::span<char> room = std::span(msg->content).first(sizeof msg->content - 1);
        const ssize_t n = zorbel::receive_datagram(sockfd, room, msg->datagram);
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
    if (zorbel::answer_datagram(sockfd, msg->datagram, reply) < 0)
        perror("sendto");
}
