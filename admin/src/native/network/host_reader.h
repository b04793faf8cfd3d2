// Reads every record of one host that answered discovery, over TCP from
// the port its reply names.
#pragma once

#include "network/discovery_client.h"
#include "network/run_budget.h"
#include "zorbel/support/record_field_table.h"

#include <netinet/in.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace zorbel::cli {

// The most one record answer may hold; a real one is a few kilobytes.
inline constexpr std::size_t max_record_answer_bytes = std::size_t{64} << 10;

// The names of the served fields, in the order of a record's values below.
inline std::vector<std::string> served_field_names()
{
    std::vector<std::string> names;
    for (const RecordField *f : served_fields)
        names.emplace_back(f->name);
    return names;
}

struct HostInventory {
    sockaddr_in address{};
    std::string registry_urn;
    std::string tcp_port;                           // as the discovery reply gave it
    std::vector<std::vector<std::string>> records;  // values in served_fields order, by instance URN
    std::optional<std::string> error;               // set when the host could not be read; records empty then
};

// Asks for the record list, read as it arrives, then for each record, one
// connection each, all within `timeout`.  Records that vanish between list
// and lookup are left out.  What the host keeps (the list's URNs, then its
// records) is taken out of `budget`.  Any failure (refused, timed out,
// garbled, oversized, the budget spent) leaves the host with an error and
// no records, and gives its share of the budget back.
HostInventory read_host(const sockaddr_in &from, const DiscoveryReply &reply, std::chrono::milliseconds timeout,
                        RunBudget &budget);

}  // namespace zorbel::cli
