// zorbel discover: probes discovery responders over UDP and lists who answers.
#pragma once

#include "network/targets.h"
#include "zorbel/support/protocol.h"

#include <netinet/in.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorbel::cli {

inline constexpr int default_port = protocol::default_port;

struct DiscoverRequest {
    int port = default_port;
    std::chrono::milliseconds timeout{2000};
    std::vector<std::string> addresses;  // addresses, names, blocks; empty: the limited broadcast address
};

// One reply: the registry URN (may be empty when the responder has no
// registry) and the TCP port it advertises.
struct DiscoveryReply {
    std::string urn;
    std::string port;
};

// A reply is "<urn> <port>\n": a URN without blanks or control bytes, one
// blank, a signed decimal number and a line feed.  Anything else is not a
// reply (nullopt).
std::optional<DiscoveryReply> parse_discovery_reply(std::string_view datagram);

// A probe text that no responder has seen: a fixed prefix and 128 random bits.
std::string fresh_probe_text();

// Sends one fresh probe to each target and passes every reply from an
// address the targets accept (ProbeTargets::accepts) to `on_reply`, until the time-out or, when no broadcast was sent, until
// every unicast target has answered.  Returns the number of replies;
// throws Failure when not one probe could be sent.
int probe_responders(const ProbeTargets &targets, std::chrono::milliseconds timeout,
                     const std::function<void(const sockaddr_in &from, const DiscoveryReply &)> &on_reply);

// Reports names that do not resolve on standard error, probes the other
// targets, prints "ADDRESS URN PORT" for every reply ("-" stands for an
// empty URN) and returns the exit status: 0 when something answered.
int discover(const DiscoverRequest &req);

}  // namespace zorbel::cli
