// zorbel inventory: every record of every responder that answers
// discovery, read over TCP, in one listing.
#pragma once

#include "network/discovery_client.h"
#include "output/output_format.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace zorbel::cli {

inline constexpr int default_jobs = 32;
// What one run keeps of its peers' answers at most (the URN lists while
// they are read, and the records), and how many hosts it reads at once at
// most whatever --jobs says: together with the bounds on each answer they
// bound the memory of a run, whatever the peers send.
inline constexpr std::size_t kept_answers_budget = std::size_t{192} << 20;
inline constexpr int max_hosts_at_once = 48;
// The hosts one run reads at most, unless --max-hosts says otherwise: as
// many as the addresses of the largest block a target may name.
inline constexpr int default_max_hosts = 1 << (32 - widest_prefix);

struct InventoryRequest {
    int port = default_port;  // UDP port of the discovery probes
    std::chrono::milliseconds discovery_timeout{2000};
    std::chrono::milliseconds host_timeout{10000};
    int jobs = default_jobs;       // hosts read at once
    int max_hosts = default_max_hosts;  // hosts read in all; those beyond are reported
    std::optional<Format> format;  // default: table on a terminal, JSON lines otherwise
    std::optional<std::string> html;
    std::optional<std::string> compare;  // an earlier JSON document to report the changes since
    std::vector<std::string> targets;
};

// Discovers, reads every host that answered (at most `jobs` at once, the
// first `max_hosts` to answer), prints the records sorted by host address
// and instance URN, reports the hosts left out on standard error, and
// returns the exit status: 0 when every host that answered was read.
int inventory(const InventoryRequest &req);

}  // namespace zorbel::cli
