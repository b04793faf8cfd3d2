// The changes since an earlier inventory in the output formats: rows for
// people (the table output and the page), a JSON member for programs.
#pragma once

#include "changes/inventory_changes.h"
#include "output/table.h"

#include <nlohmann/json.hpp>

namespace zorbel::cli {

// One row per change, hosts in their order, each host's own change first:
// address, registry_urn, change (appeared, disappeared, unreadable,
// recovered, moved, added, removed, changed), instance_urn, product_name
// and details (the changed fields with their old and new values, an error,
// a count of records).
Table changes_table(const InventoryChanges &changes, const std::vector<HostInventory> &hosts);

// The "changes" member of the JSON document: the file compared with and
// every host with something to report.
nlohmann::ordered_json changes_json(const InventoryChanges &changes, const std::vector<HostInventory> &hosts);

// The old values of the fields that changed, as a JSON object.
nlohmann::ordered_json previous_values(const ChangedRecord &record);

}  // namespace zorbel::cli
