#include "output/inventory_output.h"

#include "network/inet.h"

#include <array>

namespace zorbel::cli {

namespace {

constexpr std::array<std::string_view, 5> first_columns{"address", "product_name", "product_version",
                                                        "product_parent", "instance_urn"};

std::string json_document(const std::vector<HostInventory> &hosts)
{
    Table fields;
    fields.columns = served_field_names();
    auto list = nlohmann::ordered_json::array();
    for (const auto &h : hosts) {
        auto records = nlohmann::ordered_json::array();
        for (const auto &r : h.records)
            records.push_back(json_row(fields, r));
        list.push_back({{"address", address_text(h.address)},
                        {"registry_urn", h.registry_urn},
                        {"tcp_port", json_value("tcp_port", h.tcp_port)},
                        {"records", std::move(records)},
                        {"error", h.error ? nlohmann::ordered_json(*h.error) : nlohmann::ordered_json(nullptr)}});
    }
    return json_text({{"hosts", std::move(list)}}) + "\n";
}

}  // namespace

Table inventory_table(const std::vector<HostInventory> &hosts)
{
    Table table;
    table.columns = {"address", "registry_urn"};
    for (std::string &name : served_field_names())
        table.columns.push_back(std::move(name));
    for (const auto &h : hosts) {
        for (const auto &r : h.records) {
            std::vector<std::string> row{address_text(h.address), h.registry_urn};
            row.insert(row.end(), r.begin(), r.end());
            table.rows.push_back(std::move(row));
        }
    }
    return table;
}

std::string inventory_text(const std::vector<HostInventory> &hosts, Format format)
{
    switch (format) {
    case Format::json:
        return json_document(hosts);
    case Format::jsonl:
        return jsonl_text(inventory_table(hosts));
    case Format::csv:
        return csv_text(inventory_table(hosts));
    case Format::table:
        break;
    }
    return aligned_text(inventory_table(hosts), first_columns);
}

}  // namespace zorbel::cli
