#include "network/targets.h"

#include "cli/cli_error.h"
#include "network/inet.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <unordered_set>

namespace zorbel::cli {

namespace {

sockaddr_in ipv4(std::uint32_t host_order, int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(host_order);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    return a;
}

void add_block(std::string_view command, const std::string &operand, std::size_t slash, int port,
               ProbeTargets &out)
{
    const std::string base_text = operand.substr(0, slash);
    const std::string_view bits_text = std::string_view(operand).substr(slash + 1);
    in_addr base{};
    int bits = -1;
    const auto [end, ec] = std::from_chars(bits_text.data(), bits_text.data() + bits_text.size(), bits);
    if (inet_pton(AF_INET, base_text.c_str(), &base) != 1 || ec != std::errc() ||
        end != bits_text.data() + bits_text.size() || bits_text.empty() || bits < 0 || bits > 32)
        throw UsageError(command, "invalid address block '" + operand + "'");
    if (bits < widest_prefix)
        throw UsageError(command, "address block '" + operand + "' is larger than /" +
                                      std::to_string(widest_prefix));
    const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
    const std::uint32_t first = ntohl(base.s_addr) & mask;
    const std::uint32_t last = first | ~mask;
    // A block of 4 or more addresses keeps its network and broadcast
    // addresses out: no host answers on them, and the broadcast would reach
    // every host a second time.
    const std::uint32_t skip = bits <= 30 ? 1 : 0;
    for (std::uint64_t a = first + skip; a + skip <= last; ++a)
        out.unicast.push_back(ipv4(static_cast<std::uint32_t>(a), port));
    out.sources.push_back({first, last});
}

// The networks that a broadcast among the probes reaches.
void add_broadcast_sources(const std::vector<LocalNetwork> &networks, ProbeTargets &out)
{
    std::unordered_set<std::uint32_t> probed;
    for (const auto &to : out.unicast)
        probed.insert(ntohl(to.sin_addr.s_addr));
    const bool limited = out.broadcast || probed.contains(INADDR_BROADCAST);
    for (const auto &n : networks)
        if (limited || (n.broadcast && probed.contains(*n.broadcast)))
            out.sources.push_back(n.range);
}

}  // namespace

bool ProbeTargets::accepts(const sockaddr_in &from) const
{
    return std::any_of(sources.begin(), sources.end(), [&](const AddressRange &r) { return r.contains(from.sin_addr); });
}

ProbeTargets expand_targets(std::string_view command, const std::vector<std::string> &operands, int port,
                            const std::vector<LocalNetwork> &networks)
{
    ProbeTargets out;
    out.broadcast = operands.empty();
    out.port = port;
    for (const auto &operand : operands) {
        if (const auto slash = operand.find('/'); slash != std::string::npos) {
            add_block(command, operand, slash, port, out);
            continue;
        }
        try {
            out.unicast.push_back(resolve_ipv4(operand, port));
            const std::uint32_t a = ntohl(out.unicast.back().sin_addr.s_addr);
            out.sources.push_back({a, a});
        } catch (const Failure &e) {
            out.errors.emplace_back(e.what());
        }
    }
    add_broadcast_sources(networks, out);
    return out;
}

}  // namespace zorbel::cli
