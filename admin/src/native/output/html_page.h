// The fleet's records as one self-contained HTML page.
#pragma once

#include "network/host_reader.h"

#include <string>
#include <string_view>
#include <vector>

namespace zorbel::cli {

// Text as HTML element content or attribute value: & < > " ' as
// character references.
std::string html_escape(std::string_view text);

// A page with no scripts and no external resources: the count of
// instances and hosts per product, one table row per record, and the hosts
// that could not be read.
std::string html_page(const std::vector<HostInventory> &hosts);

}  // namespace zorbel::cli
