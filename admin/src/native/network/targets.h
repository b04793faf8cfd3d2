// The targets of discover and inventory: IPv4 addresses, host names and
// CIDR blocks, expanded to the addresses that get a probe.
#pragma once

#include "network/local_networks.h"

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
    std::vector<AddressRange> sources; // where a reply may come from

    // Whether a reply from `from` answers one of these probes.
    bool accepts(const sockaddr_in &from) const;
};

// Expands `operands` for UDP port `port`.  A block "A.B.C.D/N" stands for
// its addresses, without the network and broadcast addresses when N is 30
// or less; N below 16 or a malformed block throws UsageError.  A name that
// does not resolve is listed in `errors` and left out.
// Replies are taken from an address probed, from any address of a block
// probed, and, for a broadcast probe (the limited broadcast address, or
// the broadcast address of one of `networks`), from any address of the
// networks it reaches: all of `networks` for the limited broadcast
// address, that network for its own broadcast address.
ProbeTargets expand_targets(std::string_view command, const std::vector<std::string> &operands, int port,
                            const std::vector<LocalNetwork> &networks = local_networks());

}  // namespace zorbel::cli
