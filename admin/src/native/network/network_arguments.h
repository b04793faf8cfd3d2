// The command lines of the network sub-commands: discover and query.
#pragma once

#include "cli/arguments.h"
#include "network/discovery_client.h"
#include "network/http_query.h"
#include "network/inventory.h"

namespace zorbel::cli {

// discover [--port N] [--timeout SECONDS] [ADDRESS ...]
DiscoverRequest parse_discover(const GlobalOptions &global, int argc, char *argv[]);

// inventory [--port N] [--timeout SECONDS] [--jobs N] [--max-hosts N] [--format F] [--html FILE]
//           [--compare FILE] [TARGET ...]
InventoryRequest parse_inventory(const GlobalOptions &global, int argc, char *argv[]);

// query [--timeout SECONDS] HOST[:PORT] [version|agent|list|xsl|URN]
QueryRequest parse_query(const GlobalOptions &global, int argc, char *argv[]);

}  // namespace zorbel::cli
