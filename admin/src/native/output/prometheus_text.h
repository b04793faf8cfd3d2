// The registry in the text format that the node exporter's textfile
// collector reads.
#pragma once

#include "output/table.h"

#include <string>
#include <string_view>

namespace zorbel::cli {

// A label value: backslash, double quote and line feed as \\, \" and \n.
std::string prometheus_label_value(std::string_view text);

// One "zorbel_product_instance_info{...} 1" series per record, labelled
// with the record's text fields, and "zorbel_registry_records N".
std::string prometheus_text(const Table &records);

}  // namespace zorbel::cli
