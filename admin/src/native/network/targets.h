// The targets of discover and inventory: IPv4 addresses, host names and
// CIDR blocks, expanded to the addresses that get a probe.
#pragma once

#include <netinet/in.h>

#include <string>
#include <string_view>
#include <vector>

namespace zorbel::cli {

// The largest block a command expands: a /16, 65534 hosts.
inline constexpr int widest_prefix = 16;

struct ProbeTargets {
    std::vector<sockaddr_in> unicast;  // with the port set, in command-line order
    bool broadcast = false;            // no operands: the limited broadcast address
    int port = 0;                      // the UDP port every probe goes to
    std::vector<std::string> errors;   // "NAME: reason" for names that do not resolve
};

// Expands `operands` for UDP port `port`.  A block "A.B.C.D/N" stands for
// its addresses, without the network and broadcast addresses when N is 30
// or less; N below 16 or a malformed block throws UsageError.  A name that
// does not resolve is listed in `errors` and left out.
ProbeTargets expand_targets(std::string_view command, const std::vector<std::string> &operands, int port);

}  // namespace zorbel::cli
