// The TCP service: the listening socket, handed to the concurrent event
// loop (event_loop.h), or in inetd mode the one connection on descriptor
// 0, served by the same connection lifecycle (connection.h).
#pragma once

#include "zorbel.h"

#include <sys/socket.h>

// Serves forever on `port` (its low 16 bits; 127.0.0.1 only with
// `local_loopback_only`), or in inetd mode serves descriptor 0 once and
// exits with status 0.  `local_subnet_only` sets the IP time-to-live to 1.
// A failure to set up the listening socket exits with status 1.
[[noreturn]] void receive_tcp_connections(int inetd, int local_subnet_only, int local_loopback_only, int port,
                                          zo_env_t *zo_env);

// Logs "Connection from IP address: %s" with the peer's text to the
// system log, under this program's ident.
void log_connection(const struct sockaddr *sa, socklen_t salen);

// The peer address as text ("192.0.2.7.51234": address, then "." and the
// port when it is not 0), in a buffer that the next call overwrites; null
// for a family other than IPv4 and IPv6.
char *sock_ntop(const struct sockaddr *sa, socklen_t salen);
