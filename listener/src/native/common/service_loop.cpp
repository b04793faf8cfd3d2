#include "service_loop.h"

#include "connection.h"
#include "event_loop.h"
#include "globals.h"
#include "strl.h"
#include "zorbel/support/unique_fd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char *log_ident = "Zorbel network responder";
constexpr int log_priority = LOG_DAEMON | LOG_NOTICE;

// Connections wait here while one is served; a short queue overflows
// with a handful of concurrent clients, and an overflowed handshake is
// only retried a second later.
constexpr int listen_backlog = SOMAXCONN;

// The peer for a log line: a peer whose address could not be read is
// logged as "(null)", the text glibc's printf gives a null %s.
const char *peer_or_null_text(const char *peer)
{
    return peer != nullptr ? peer : "(null)";
}

// -s: a time-to-live of 1 keeps replies from crossing a router.
void limit_to_subnet(int fd)
{
    const int ttl = 1;
    if (setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0 && tavish_verbose >= 1)
        perror("setsockopt (IP_TTL)");
}

// One line per connection, each under this program's ident.
void log_line(const char *format, const char *peer)
{
    openlog(log_ident, LOG_PID | LOG_NDELAY, LOG_LOCAL1);
    syslog(log_priority, format, peer_or_null_text(peer));
}

[[noreturn]] void serve_inetd_connection(int local_subnet_only, int local_loopback_only, zo_env_t *zo_env)
{
    // Fixed storage: nothing to allocate, nothing to fail.
    sockaddr_storage cliaddr{};
    socklen_t len = sizeof cliaddr;
    getpeername(STDIN_FILENO, reinterpret_cast<sockaddr *>(&cliaddr), &len);
    if (local_subnet_only)
        limit_to_subnet(STDIN_FILENO);
    const char *peer = sock_ntop(reinterpret_cast<const sockaddr *>(&cliaddr), len);
    log_line("Connection from IP address: %s", peer);
    if (local_loopback_only && (peer == nullptr || std::strncmp(peer, "127.0.0.1", 9) != 0)) {
        log_line("Rejecting connection (not loopback) from IP address: %s", peer);
        closelog();
        close(STDIN_FILENO);
        exit(0);
    }
    closelog();
    // The same lifecycle as every standalone connection, on descriptor 0
    // as it was handed over.
    zorbel::tavish::Connection connection(zorbel::UniqueFd(STDIN_FILENO), zorbel::tavish::Clock::now());
    zorbel::tavish::serve_alone(connection, zo_env);
    exit(0);
}

[[noreturn]] void fatal_error(const char *what)
{
    if (tavish_verbose >= 1)
        perror(what);
    exit(1);
}

}  // namespace

char *sock_ntop(const struct sockaddr *sa, socklen_t /*salen*/)
{
    static char str[128];
    int port = 0;
    if (sa->sa_family == AF_INET) {
        const auto *in4 = reinterpret_cast<const sockaddr_in *>(sa);
        if (inet_ntop(AF_INET, &in4->sin_addr, str, sizeof str) == nullptr)
            return nullptr;
        port = ntohs(in4->sin_port);
    } else if (sa->sa_family == AF_INET6) {
        const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(sa);
        if (inet_ntop(AF_INET6, &in6->sin6_addr, str, sizeof str) == nullptr)
            return nullptr;
        port = ntohs(in6->sin6_port);
    } else {
        return nullptr;
    }
    if (port != 0) {
        char portstr[7];
        snprintf(portstr, sizeof portstr, ".%d", port);
        strlcat(str, portstr, sizeof str);
    }
    return str;
}

void receive_tcp_connections(int inetd, int local_subnet_only, int local_loopback_only, int port, zo_env_t *zo_env)
{
    if (inetd)
        serve_inetd_connection(local_subnet_only, local_loopback_only, zo_env);

    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0)
        fatal_error("socket");
    const int reuse = 1;
    if (setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0)
        fatal_error("setsockopt");
    if (local_subnet_only)
        limit_to_subnet(listener);

    sockaddr_in my_addr{};
    my_addr.sin_family = AF_INET;
    my_addr.sin_port = htons(static_cast<uint16_t>(port));  // the low 16 bits
    if (local_loopback_only)
        inet_pton(AF_INET, "127.0.0.1", &my_addr.sin_addr);
    else
        my_addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(listener, reinterpret_cast<sockaddr *>(&my_addr), sizeof my_addr) != 0)
        fatal_error("bind (tcp)");
    listen(listener, listen_backlog);

    zorbel::tavish::serve_concurrently(listener, zo_env);
}

void log_connection(const struct sockaddr *sa, socklen_t salen)
{
    log_line("Connection from IP address: %s", sock_ntop(sa, salen));
    closelog();
}
