#include "network/local_networks.h"

#include <ifaddrs.h>
#include <net/if.h>

#include <memory>

namespace zorbel::cli {

namespace {

struct IfaddrsDeleter {
    void operator()(ifaddrs *list) const noexcept { freeifaddrs(list); }
};

std::uint32_t host_order(const sockaddr *address)
{
    return ntohl(reinterpret_cast<const sockaddr_in *>(address)->sin_addr.s_addr);
}

}  // namespace

std::vector<LocalNetwork> local_networks()
{
    ifaddrs *raw = nullptr;
    if (getifaddrs(&raw) != 0)
        return {};
    const std::unique_ptr<ifaddrs, IfaddrsDeleter> list(raw);
    std::vector<LocalNetwork> networks;
    for (const ifaddrs *i = list.get(); i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !i->ifa_netmask || !(i->ifa_flags & IFF_UP))
            continue;
        const std::uint32_t address = host_order(i->ifa_addr), mask = host_order(i->ifa_netmask);
        LocalNetwork n{{address & mask, address | ~mask}, std::nullopt};
        if ((i->ifa_flags & IFF_BROADCAST) && i->ifa_broadaddr && i->ifa_broadaddr->sa_family == AF_INET)
            n.broadcast = host_order(i->ifa_broadaddr);
        networks.push_back(n);
    }
    return networks;
}

}  // namespace zorbel::cli
