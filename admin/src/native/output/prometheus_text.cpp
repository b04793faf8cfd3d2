#include "output/prometheus_text.h"

namespace zorbel::cli {

std::string prometheus_label_value(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string prometheus_text(const Table &records)
{
    std::string out =
        "# HELP zorbel_product_instance_info A product instance recorded in the zorbel registry.\n"
        "# TYPE zorbel_product_instance_info gauge\n";
    for (const auto &row : records.rows) {
        std::string labels;
        for (std::size_t i = 0; i < records.columns.size(); ++i) {
            if (records.columns[i] == "installer_uid")
                continue;  // a number, not one of the record's texts
            labels += (labels.empty() ? "" : ",") + records.columns[i] + "=\"" + prometheus_label_value(row[i]) + '"';
        }
        out += "zorbel_product_instance_info{" + labels + "} 1\n";
    }
    return out +
           "# HELP zorbel_registry_records Records in the zorbel registry.\n"
           "# TYPE zorbel_registry_records gauge\n"
           "zorbel_registry_records " + std::to_string(records.rows.size()) + "\n";
}

}  // namespace zorbel::cli
