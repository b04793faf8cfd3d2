// The fleet's records in each output format of zorbel inventory.
#pragma once

#include "changes/inventory_changes.h"
#include "network/host_reader.h"
#include "output/output_format.h"

#include <string>
#include <vector>

namespace zorbel::cli {

// One row per record of every host read: its address, its registry URN
// and the served fields.
Table inventory_table(const std::vector<HostInventory> &hosts);

// `hosts` (sorted) in `format`: the table, CSV and JSON lines hold the
// records; the JSON document holds its format number and every host, with
// its error or null.  With `changes`, the JSON document gains a "changes"
// member, CSV and JSON lines the columns "change" and "previous" (and rows
// for records removed and hosts gone or unreadable), and the table a
// section of its own.
std::string inventory_text(const std::vector<HostInventory> &hosts, Format format,
                           const InventoryChanges *changes = nullptr);

}  // namespace zorbel::cli
