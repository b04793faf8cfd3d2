// The fleet's records in each output format of zorbel inventory.
#pragma once

#include "network/host_reader.h"
#include "output/output_format.h"

#include <string>
#include <vector>

namespace zorbel::cli {

// One row per record of every host read: its address, its registry URN
// and the served fields.
Table inventory_table(const std::vector<HostInventory> &hosts);

// `hosts` (sorted) in `format`: the table, CSV and JSON lines hold the
// records; the JSON document holds every host, with its error or null.
std::string inventory_text(const std::vector<HostInventory> &hosts, Format format);

}  // namespace zorbel::cli
