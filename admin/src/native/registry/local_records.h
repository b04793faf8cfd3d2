// The records of the local registry as a Table of their thirteen fields.
#pragma once

#include "output/table.h"

#include <libxml/tree.h>

#include <array>
#include <optional>
#include <string>

namespace zorbel::cli {

// One row per record element of a registry document (as the library's
// copy holds them), in registry order: every field's text with entities
// substituted, "" for a field that is missing or empty.  With
// `product_urn`, only the records of that product.
Table registry_table(xmlDoc *doc, const std::optional<std::string> &product_urn);

// The columns a person reads first in the aligned form.
inline constexpr std::array<std::string_view, 6> local_first_columns{
    "product_name", "product_version", "product_vendor", "platform_arch", "instance_urn", "product_urn"};

}  // namespace zorbel::cli
