#include "network/discovery_client.h"

#include "cli/cli_error.h"
#include "network/inet.h"
#include "output/terminal_text.h"
#include "zorbel/support/unique_fd.h"

#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <set>
#include <span>

namespace zorbel::cli {

namespace {

bool is_decimal(std::string_view s)
{
    if (!s.empty() && (s.front() == '-' || s.front() == '+'))
        s.remove_prefix(1);
    return !s.empty() && s.size() <= 11 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Probes leave in batches of this many, and after each batch the replies
// that have come in so far are read for `probe_pace`: a /16 block then
// takes about a quarter of a second to probe, and the answers of its first
// hosts are taken in while the last ones are still being probed, instead of
// overflowing the socket's queue.
constexpr std::size_t probe_batch = 256;
constexpr auto probe_pace = std::chrono::milliseconds(1);

// The receive queue asked for: room for the replies of a whole /16 block
// that arrive between two reads.
constexpr int reply_queue_bytes = 8 << 20;

UniqueFd open_probe_socket()
{
    UniqueFd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd)
        throw Failure(system_error("socket"));
    const int on = 1;
    if (setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        throw Failure(system_error("setsockopt(SO_BROADCAST)"));
    // Beyond the system's limit only root may enlarge the queue; without
    // it the default queue serves, and the paced sending still keeps it
    // from filling in most networks, so a refusal is not an error.
    if (setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUFFORCE, &reply_queue_bytes, sizeof reply_queue_bytes) != 0)
        (void)setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &reply_queue_bytes, sizeof reply_queue_bytes);
    return fd;
}

// Sends one probe to `to`; false (after a line on standard error) when it
// could not leave.
bool send_probe(int fd, const sockaddr_in &to)
{
    const std::string probe = fresh_probe_text();
    if (sendto(fd, probe.data(), probe.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to) >= 0)
        return true;
    std::fprintf(stderr, "zorbel: %s\n", system_error("sendto " + address_text(to)).c_str());
    return false;
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

int probe_responders(const ProbeTargets &targets, std::chrono::milliseconds timeout,
                     const std::function<void(const sockaddr_in &from, const DiscoveryReply &)> &on_reply)
{
    const UniqueFd fd = open_probe_socket();
    // The unicast addresses still to answer, one entry per probe sent.
    std::multiset<in_addr_t> waiting;
    int replies = 0;
    std::array<char, 65536> buf{};
    // Reads and hands on replies until `until` passes or `more` is false.
    const auto take_replies = [&](const Deadline &until, auto more) {
        while (more() && wait_for(fd.get(), POLLIN, until)) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n =
                recvfrom(fd.get(), buf.data(), buf.size(), 0, reinterpret_cast<sockaddr *>(&from), &len);
            if (n < 0)
                continue;  // an ICMP error from one target does not end the search
            // A reply from where no probe went answers nothing of ours: a
            // peer could otherwise point the search at any host and port.
            if (!targets.accepts(from))
                continue;
            const auto reply = parse_discovery_reply(std::string_view(buf.data(), static_cast<std::size_t>(n)));
            if (!reply)
                continue;
            if (const auto it = waiting.find(from.sin_addr.s_addr); it != waiting.end())
                waiting.erase(it);
            on_reply(from, *reply);
            ++replies;
        }
    };

    const auto &unicast = targets.unicast;
    for (std::size_t at = 0; at < unicast.size(); at += probe_batch) {
        if (at > 0)
            take_replies(Deadline(probe_pace), [] { return true; });
        for (const auto &to : std::span(unicast).subspan(at, std::min(probe_batch, unicast.size() - at)))
            if (send_probe(fd.get(), to))
                waiting.insert(to.sin_addr.s_addr);
    }
    bool broadcast = false;
    if (targets.broadcast) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_BROADCAST);  // 255.255.255.255
        to.sin_port = htons(static_cast<uint16_t>(targets.port));
        broadcast = send_probe(fd.get(), to);
    }
    if (waiting.empty() && !broadcast && replies == 0)
        throw Failure("no probe could be sent");

    take_replies(Deadline(timeout), [&] { return broadcast || !waiting.empty(); });
    return replies;
}

int discover(const DiscoverRequest &req)
{
    const ProbeTargets targets = expand_targets("discover", req.addresses, req.port);
    for (const auto &error : targets.errors)
        std::fprintf(stderr, "zorbel: %s\n", error.c_str());
    const int replies = probe_responders(targets, req.timeout, [](const sockaddr_in &from, const DiscoveryReply &r) {
        // The URN may hold any byte above the blank: shown escaped.
        std::printf("%s %s %s\n", address_text(from).c_str(), r.urn.empty() ? "-" : display_escape(r.urn).c_str(),
                    r.port.c_str());
        std::fflush(stdout);
    });
    if (replies == 0)
        throw Failure("no reply");
    return exit_ok;
}

}  // namespace zorbel::cli
