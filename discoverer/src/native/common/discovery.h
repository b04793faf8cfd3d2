// The network side of brenloch: wait for probe datagrams on one IPv4 UDP
// socket and answer each new probe text with one line naming the registry
// URN and the advertised TCP port.
#pragma once

#include "zorbel/support/datagram.h"

#include <sys/socket.h>

#include <memory>

// One received datagram, allocated for each wait.
struct udp_msg {
    zorbel::Datagram datagram;  // the sender, and the address it reached us on
    char content[131072];   // at most 131071 bytes received, then a NUL
};

// Raised by each -v; above 0 adds one line per datagram naming its sender.
extern int brenloch_verbose;

// Binds `udp_port` (its low 16 bits) on the wildcard address, or in inetd
// mode uses `probe_fd` as it comes, and answers datagrams for ever.  Ends
// the process: status 1 on a fatal socket error, and in inetd mode
// status 0 after 120 seconds without a datagram.
[[noreturn]] void receive_discovery_messages(int udp_port, int tcp_port, bool inetd, int probe_fd);

// Answers one datagram on `sockfd` with "<registry URN> <tcp_port>\n",
// after a short random delay, unless its text (up to the first NUL) was
// among the last 32 answered.  Writes its trace lines to standard error.
void handle_discovery_message(int sockfd, std::unique_ptr<udp_msg> msg, int tcp_port);
