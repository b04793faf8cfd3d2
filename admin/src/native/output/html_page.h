// The fleet's records as one self-contained HTML page.
#pragma once

#include "changes/inventory_changes.h"
#include "network/host_reader.h"
#include "zorbel/support/count_text.h"
#include "zorbel/support/html_escape.h"

#include <string>
#include <string_view>
#include <vector>

namespace zorbel::cli {

using zorbel::html_escape;

using zorbel::count_of;

// One self-contained page without external resources: the number of
// instances and hosts of each product version, a row per host (with its
// error when it could not be read) and a row per record.  Its only script
// (filter and sort) and style are allowed by their hashes; every table
// reads the same without the script.  With `changes`, a table of the
// changes since the earlier inventory comes first.
std::string html_page(const std::vector<HostInventory> &hosts, const InventoryChanges *changes = nullptr);

}  // namespace zorbel::cli
