// Records as rows of text under named columns: what every output format
// of the listing commands prints.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace zorbel::cli {

// The fields a network responder serves for one record, in its order.
inline constexpr std::array<std::string_view, 10> served_fields{
    "instance_urn",   "product_name",            "product_version", "product_urn", "product_parent_urn",
    "product_parent", "product_defined_inst_id", "timestamp",       "container",   "source"};

struct Table {
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;  // each as long as columns

    // The column's index; columns.size() when there is none of that name.
    std::size_t column(std::string_view name) const;
};

}  // namespace zorbel::cli
