#include "registry/local_records.h"

#include "zorbel/support/record_field_table.h"
#include "zorbel/support/record_walk.h"
#include "zorbel/support/xml_ptr.h"

#include <algorithm>

namespace zorbel::cli {

Table registry_table(xmlDoc *doc, const std::optional<std::string> &product_urn)
{
    Table table;
    table.columns.assign(record_element_names.begin(), record_element_names.end());
    const std::size_t product_column = table.column("product_urn");
    for_each_record(doc, [&](xmlNode *record) {
        std::vector<std::string> row(record_element_names.size());
        for_each_element(record, [&](xmlNode *field, std::string_view name) {
            const auto at = std::find(record_element_names.begin(), record_element_names.end(), name);
            if (at == record_element_names.end())
                return;
            if (const auto text = xml::node_text(doc, field))
                row[static_cast<std::size_t>(at - record_element_names.begin())] = xml::view(text.get());
        });
        if (!product_urn || row[product_column] == *product_urn)
            table.rows.push_back(std::move(row));
    });
    return table;
}

}  // namespace zorbel::cli
