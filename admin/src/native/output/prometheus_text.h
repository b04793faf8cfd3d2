// The registry in the text format that the node exporter's textfile
// collector reads.
#pragma once

#include "output/table.h"

#include <ctime>
#include <string>
#include <string_view>

namespace zorbel::cli {

// A label value: backslash, double quote and line feed as \\, \" and \n.
std::string prometheus_label_value(std::string_view text);

// For each record, "zorbel_product_instance_info{...} 1" labelled with its
// text fields and "zorbel_product_instance_timestamp_seconds{...} T"
// labelled with the fields an update leaves alone, so that its identity
// outlives updates; then "zorbel_registry_records N".  Null `records`
// stands for a registry that could not be read: no records then.  Always
// "zorbel_registry_up" (1 or 0) and, last, "zorbel_export_timestamp_seconds"
// with `now`.
std::string prometheus_text(const Table *records, std::time_t now);

}  // namespace zorbel::cli
