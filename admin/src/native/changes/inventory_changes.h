// What changed between an earlier inventory and this one: hosts matched by
// their registry URN (their address may change), records by instance URN.
#pragma once

#include "changes/inventory_snapshot.h"
#include "network/host_reader.h"

#include <optional>
#include <string>
#include <vector>

namespace zorbel::cli {

enum class HostChange {
    kept,         // read both times: its records compared
    appeared,     // not in the earlier inventory: every record added
    disappeared,  // in the earlier inventory only: nothing said of its records
    unreadable,   // could not be read this time: nothing said of its records
    recovered,    // read now, not the earlier time: nothing to compare with
};

struct FieldChange {
    std::string field, before, after;
};

struct ChangedRecord {
    std::size_t record;  // index into the host's records of this run
    std::vector<FieldChange> fields;
};

struct HostChanges {
    HostChange change = HostChange::kept;
    std::string address;           // this run's, or the last known of a host that disappeared
    std::string previous_address;  // the earlier run's; "" for a host that appeared
    std::string registry_urn;
    std::optional<std::string> error;  // why it could not be read this time
    std::size_t previous_records = 0;
    std::vector<std::size_t> added;                   // indexes into this run's records
    std::vector<std::vector<std::string>> removed;    // the earlier values
    std::vector<ChangedRecord> changed;

    // Whether there is anything to report of the host.
    bool any() const;
};

struct InventoryChanges {
    std::string previous;  // the file compared with, as given
    // One entry per host of this run, in its order, then one per host
    // that disappeared.
    std::vector<HostChanges> hosts;
};

// Compares `current` (sorted, as read) with `previous`.
InventoryChanges compare_inventories(std::string previous_name, const std::vector<HostSnapshot> &previous,
                                     const std::vector<HostInventory> &current);

// "appeared", "disappeared", ...
std::string_view change_name(HostChange change);

}  // namespace zorbel::cli
