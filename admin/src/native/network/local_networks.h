// The IPv4 networks of this host's interfaces: where a broadcast probe
// reaches, and so where its replies may come from.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace zorbel::cli {

// IPv4 addresses from `first` to `last`, both included, in host order.
struct AddressRange {
    std::uint32_t first = 0, last = 0;

    bool contains(in_addr address) const
    {
        const std::uint32_t a = ntohl(address.s_addr);
        return a >= first && a <= last;
    }
};

struct LocalNetwork {
    AddressRange range;                      // the interface's network, from its address and netmask
    std::optional<std::uint32_t> broadcast;  // its broadcast address (host order), when it has one
};

// The networks of the interfaces that are up; empty when they cannot be read.
std::vector<LocalNetwork> local_networks();

}  // namespace zorbel::cli
