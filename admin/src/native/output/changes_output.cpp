#include "output/changes_output.h"

#include "output/html_page.h"
#include "output/output_format.h"
#include "zorbel/support/record_field_table.h"

namespace zorbel::cli {

namespace {

constexpr std::size_t urn_field = served_index("instance_urn"), name_field = served_index("product_name");

std::string host_details(const HostChanges &c)
{
    switch (c.change) {
    case HostChange::appeared:
        return count_of(c.added.size(), "record", "records");
    case HostChange::disappeared:
        return count_of(c.previous_records, "record", "records") + " when last read";
    case HostChange::unreadable:
        return c.error.value_or("");
    case HostChange::recovered:
        return "not read the earlier time: its records are not compared";
    case HostChange::kept:
        break;
    }
    return "";
}

std::string field_details(const ChangedRecord &record)
{
    std::string out;
    for (const auto &f : record.fields)
        out += (out.empty() ? "" : "; ") + f.field + ": " + f.before + " -> " + f.after;
    return out;
}

nlohmann::ordered_json record_json(const std::vector<std::string> &values)
{
    auto object = nlohmann::ordered_json::object();
    for (std::size_t f = 0; f < served_fields.size(); ++f)
        object[std::string(served_fields[f]->name)] = values[f];
    return object;
}

}  // namespace

Table changes_table(const InventoryChanges &changes, const std::vector<HostInventory> &hosts)
{
    Table table;
    table.columns = {"address", "registry_urn", "change", "instance_urn", "product_name", "details"};
    for (std::size_t i = 0; i < changes.hosts.size(); ++i) {
        const HostChanges &c = changes.hosts[i];
        const auto row = [&](std::string_view change, std::string urn, std::string name, std::string details) {
            table.rows.push_back({c.address, c.registry_urn, std::string(change), std::move(urn), std::move(name),
                                  std::move(details)});
        };
        if (c.change != HostChange::kept)
            row(change_name(c.change), "", "", host_details(c));
        if (!c.previous_address.empty() && c.previous_address != c.address)
            row("moved", "", "", "was at " + c.previous_address);
        for (const std::size_t r : c.added)
            row("added", hosts[i].records[r][urn_field], hosts[i].records[r][name_field], "");
        for (const auto &r : c.removed)
            row("removed", r[urn_field], r[name_field], "");
        for (const auto &r : c.changed)
            row("changed", hosts[i].records[r.record][urn_field], hosts[i].records[r.record][name_field],
                field_details(r));
    }
    return table;
}

nlohmann::ordered_json previous_values(const ChangedRecord &record)
{
    auto object = nlohmann::ordered_json::object();
    for (const auto &f : record.fields)
        object[f.field] = f.before;
    return object;
}

nlohmann::ordered_json changes_json(const InventoryChanges &changes, const std::vector<HostInventory> &hosts)
{
    auto list = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < changes.hosts.size(); ++i) {
        const HostChanges &c = changes.hosts[i];
        if (!c.any())
            continue;
        auto added = nlohmann::ordered_json::array(), removed = added, changed = added;
        for (const std::size_t r : c.added)
            added.push_back(record_json(hosts[i].records[r]));
        for (const auto &r : c.removed)
            removed.push_back(record_json(r));
        for (const auto &r : c.changed) {
            auto fields = nlohmann::ordered_json::object();
            for (const auto &f : r.fields)
                fields[f.field] = {{"old", f.before}, {"new", f.after}};
            changed.push_back({{"instance_urn", hosts[i].records[r.record][urn_field]}, {"fields", std::move(fields)}});
        }
        const auto text_or_null = [](const std::string &s) {
            return s.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(s);
        };
        list.push_back({{"registry_urn", c.registry_urn},
                        {"address", c.address},
                        {"previous_address", text_or_null(c.previous_address)},
                        {"change", change_name(c.change)},
                        {"error", c.error ? nlohmann::ordered_json(*c.error) : nlohmann::ordered_json(nullptr)},
                        {"added", std::move(added)},
                        {"removed", std::move(removed)},
                        {"changed", std::move(changed)}});
    }
    return {{"previous", changes.previous}, {"hosts", std::move(list)}};
}

}  // namespace zorbel::cli
