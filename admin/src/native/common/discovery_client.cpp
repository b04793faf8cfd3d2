#include "discovery_client.h"

#include "cli_error.h"
#include "inet.h"
#include "unique_fd.h"

#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstdio>

namespace zorbel::cli {

namespace {

constexpr const char *limited_broadcast = "255.255.255.255";

bool is_decimal(std::string_view s)
{
    if (!s.empty() && (s.front() == '-' || s.front() == '+'))
        s.remove_prefix(1);
    return !s.empty() && s.size() <= 11 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

UniqueFd open_probe_socket()
{
    UniqueFd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd)
        throw Failure(system_error("socket"));
    const int on = 1;
    if (setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        throw Failure(system_error("setsockopt(SO_BROADCAST)"));
    return fd;
}

// Sends one probe to each address; the number that left.
int send_probes(int fd, const DiscoverRequest &req)
{
    std::vector<std::string> targets = req.addresses;
    if (targets.empty())
        targets.emplace_back(limited_broadcast);
    int sent = 0;
    for (const auto &host : targets) {
        const sockaddr_in to = resolve_ipv4(host, req.port);
        const std::string probe = fresh_probe_text();
        if (sendto(fd, probe.data(), probe.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to) < 0)
            std::fprintf(stderr, "zorbel: %s\n", system_error("sendto " + address_text(to)).c_str());
        else
            ++sent;
    }
    return sent;
}

}  // namespace

std::optional<DiscoveryReply> parse_discovery_reply(std::string_view datagram)
{
    if (datagram.empty() || datagram.back() != '\n')
        return std::nullopt;
    datagram.remove_suffix(1);
    const auto blank = datagram.rfind(' ');
    if (blank == std::string_view::npos)
        return std::nullopt;
    const std::string_view urn = datagram.substr(0, blank);
    const std::string_view port = datagram.substr(blank + 1);
    if (!std::all_of(urn.begin(), urn.end(), is_token_byte) || !is_decimal(port))
        return std::nullopt;
    return DiscoveryReply{std::string(urn), std::string(port)};
}

std::string fresh_probe_text()
{
    std::array<unsigned char, 16> bytes{};
    if (getrandom(bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
        throw Failure(system_error("getrandom"));
    std::string text = "zorbel-discover-";
    for (const unsigned char b : bytes) {
        static constexpr char hex[] = "0123456789abcdef";
        text += hex[b >> 4];
        text += hex[b & 0x0f];
    }
    return text;
}

int discover(const DiscoverRequest &req)
{
    const UniqueFd fd = open_probe_socket();
    if (send_probes(fd.get(), req) == 0)
        throw Failure("no probe could be sent");

    const Deadline deadline(req.timeout);
    int replies = 0;
    std::array<char, 65536> buf{};
    while (wait_for(fd.get(), POLLIN, deadline)) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n =
            recvfrom(fd.get(), buf.data(), buf.size(), 0, reinterpret_cast<sockaddr *>(&from), &len);
        if (n < 0)
            continue;  // an ICMP error from one target does not end the search
        const auto reply = parse_discovery_reply(std::string_view(buf.data(), static_cast<std::size_t>(n)));
        if (!reply)
            continue;
        std::printf("%s %s %s\n", address_text(from).c_str(), reply->urn.empty() ? "-" : reply->urn.c_str(),
                    reply->port.c_str());
        std::fflush(stdout);
        ++replies;
    }
    if (replies == 0)
        throw Failure("no reply");
    return exit_ok;
}

}  // namespace zorbel::cli
