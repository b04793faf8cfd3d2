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

struct InventoryRequest {
    int port = default_port;  // UDP port of the discovery probes
    std::chrono::milliseconds discovery_timeout{2000};
    std::chrono::milliseconds host_timeout{10000};
    int jobs = default_jobs;       // hosts read at once
    std::optional<Format> format;  // default: table on a terminal, JSON lines otherwise
    std::optional<std::string> html;
    std::optional<std::string> compare;  // an earlier JSON document to report the changes since
    std::vector<std::string> targets;
};

// Discovers, reads every host that answered (at most `jobs` at once),
// prints the records sorted by host address and instance URN, and returns
// the exit status: 0 when every host that answered was read.
int inventory(const InventoryRequest &req);

}  // namespace zorbel::cli
