#include "output/inventory_output.h"

#include "changes/inventory_snapshot.h"
#include "network/inet.h"
#include "output/changes_output.h"

#include <array>
#include <unordered_map>

namespace zorbel::cli {

namespace {

constexpr std::array<std::string_view, 5> first_columns{"address", "product_name", "product_version",
                                                        "product_parent", "instance_urn"};

std::string json_document(const std::vector<HostInventory> &hosts, const InventoryChanges *changes)
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
    // Room for every member first: growing an ordered object copies its
    // members (they cannot be moved), and "hosts" holds every record.
    auto doc = nlohmann::ordered_json::object();
    doc.get_ref<nlohmann::ordered_json::object_t &>().reserve(3);
    doc["format"] = inventory_format;
    doc["hosts"] = std::move(list);
    if (changes)
        doc["changes"] = changes_json(*changes, hosts);
    return json_text(doc) + "\n";
}

std::vector<std::string> record_row(const HostInventory &h, const std::vector<std::string> &record)
{
    std::vector<std::string> row{address_text(h.address), h.registry_urn};
    row.insert(row.end(), record.begin(), record.end());
    return row;
}

// The rows of inventory_table() with two more columns: "change" (added,
// changed, removed, or the host's own change for a row without a record)
// and "previous" (the old values of the fields that changed, as JSON).
// The records each host had and no longer has follow its own.
Table table_with_changes(const std::vector<HostInventory> &hosts, const InventoryChanges &changes)
{
    Table table = inventory_table({});
    table.columns.insert(table.columns.end(), {"change", "previous"});
    const std::size_t width = table.columns.size();
    for (std::size_t i = 0; i < changes.hosts.size(); ++i) {
        const HostChanges &c = changes.hosts[i];
        const auto host_row = [&] {
            std::vector<std::string> row(width);
            row[0] = c.address;
            row[1] = c.registry_urn;
            row[width - 2] = "host " + std::string(change_name(c.change));
            table.rows.push_back(std::move(row));
        };
        if (i >= hosts.size()) {  // disappeared
            host_row();
            continue;
        }
        if (c.change == HostChange::unreadable)
            host_row();
        std::unordered_map<std::size_t, std::pair<std::string, std::string>> marks;
        for (const std::size_t r : c.added)
            marks[r] = {"added", ""};
        for (const auto &r : c.changed)
            marks[r.record] = {"changed", json_text(previous_values(r))};
        const auto &records = hosts[i].records;
        for (std::size_t r = 0; r < records.size(); ++r) {
            auto row = record_row(hosts[i], records[r]);
            const auto mark = marks.find(r);
            if (c.change == HostChange::recovered)
                row.insert(row.end(), {"host recovered", ""});
            else if (mark != marks.end())
                row.insert(row.end(), {mark->second.first, mark->second.second});
            else
                row.insert(row.end(), {"", ""});
            table.rows.push_back(std::move(row));
        }
        for (const auto &r : c.removed) {
            std::vector<std::string> row{c.address, c.registry_urn};
            row.insert(row.end(), r.begin(), r.end());
            row.insert(row.end(), {"removed", ""});
            table.rows.push_back(std::move(row));
        }
    }
    return table;
}

// JSON lines with the "previous" column as an object (null when empty).
std::string jsonl_with_changes(const Table &table)
{
    const std::size_t previous = table.column("previous");
    std::string out;
    for (const auto &row : table.rows) {
        auto object = json_row(table, row);
        object["previous"] = row[previous].empty() ? nlohmann::ordered_json(nullptr)
                                                   : nlohmann::ordered_json::parse(row[previous]);
        out += json_text(object) + '\n';
    }
    return out;
}

std::string changes_section(const std::vector<HostInventory> &hosts, const InventoryChanges &changes)
{
    const Table table = changes_table(changes, hosts);
    if (table.rows.empty())
        return "\nNo changes since " + changes.previous + ".\n";
    return "\nChanges since " + changes.previous + ":\n" + aligned_text(table, {});
}

}  // namespace

Table inventory_table(const std::vector<HostInventory> &hosts)
{
    Table table;
    table.columns = {"address", "registry_urn"};
    for (std::string &name : served_field_names())
        table.columns.push_back(std::move(name));
    for (const auto &h : hosts)
        for (const auto &r : h.records)
            table.rows.push_back(record_row(h, r));
    return table;
}

std::string inventory_text(const std::vector<HostInventory> &hosts, Format format, const InventoryChanges *changes)
{
    switch (format) {
    case Format::json:
        return json_document(hosts, changes);
    case Format::jsonl:
        return changes ? jsonl_with_changes(table_with_changes(hosts, *changes)) : jsonl_text(inventory_table(hosts));
    case Format::csv:
        return csv_text(changes ? table_with_changes(hosts, *changes) : inventory_table(hosts));
    case Format::table:
        break;
    }
    const std::string records = aligned_text(inventory_table(hosts), first_columns);
    return changes ? records + changes_section(hosts, *changes) : records;
}

}  // namespace zorbel::cli
