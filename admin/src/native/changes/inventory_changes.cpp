#include "changes/inventory_changes.h"

#include "network/inet.h"
#include "zorbel/support/record_field_table.h"

#include <map>
#include <unordered_map>

namespace zorbel::cli {

namespace {

constexpr std::size_t urn_field = served_index("instance_urn");

// A host's key: its registry URN, or, where that is empty or shared by
// several hosts of the same run (a copied registry), the URN and the
// address.
template <typename Host, typename AddressOf>
std::vector<std::string> host_keys(const std::vector<Host> &hosts, AddressOf address_of)
{
    std::map<std::string_view, int> uses;
    for (const auto &h : hosts)
        ++uses[h.registry_urn];
    std::vector<std::string> keys;
    for (const auto &h : hosts)
        keys.push_back(!h.registry_urn.empty() && uses[h.registry_urn] == 1
                           ? h.registry_urn
                           : h.registry_urn + " " + address_of(h));
    return keys;
}

void compare_records(HostChanges &out, const std::vector<std::vector<std::string>> &before,
                     const std::vector<std::vector<std::string>> &now)
{
    std::unordered_map<std::string_view, const std::vector<std::string> *> earlier;
    for (const auto &r : before)
        earlier.emplace(r[urn_field], &r);
    for (std::size_t i = 0; i < now.size(); ++i) {
        const auto it = earlier.find(now[i][urn_field]);
        if (it == earlier.end()) {
            out.added.push_back(i);
            continue;
        }
        ChangedRecord changed{i, {}};
        for (std::size_t f = 0; f < served_fields.size(); ++f)
            if ((*it->second)[f] != now[i][f])
                changed.fields.push_back({std::string(served_fields[f]->name), (*it->second)[f], now[i][f]});
        if (!changed.fields.empty())
            out.changed.push_back(std::move(changed));
        earlier.erase(it);
    }
    for (const auto &r : before)  // in the earlier order
        if (earlier.contains(r[urn_field]))
            out.removed.push_back(r);
}

}  // namespace

bool HostChanges::any() const
{
    return change != HostChange::kept || previous_address != address || !added.empty() || !removed.empty() ||
           !changed.empty();
}

std::string_view change_name(HostChange change)
{
    switch (change) {
    case HostChange::appeared: return "appeared";
    case HostChange::disappeared: return "disappeared";
    case HostChange::unreadable: return "unreadable";
    case HostChange::recovered: return "recovered";
    case HostChange::kept: break;
    }
    return "kept";
}

InventoryChanges compare_inventories(std::string previous_name, const std::vector<HostSnapshot> &previous,
                                     const std::vector<HostInventory> &current)
{
    const auto before_keys = host_keys(previous, [](const HostSnapshot &h) { return h.address; });
    const auto now_keys = host_keys(current, [](const HostInventory &h) { return address_text(h.address); });
    std::unordered_map<std::string_view, const HostSnapshot *> earlier;
    for (std::size_t i = 0; i < previous.size(); ++i)
        earlier.emplace(before_keys[i], &previous[i]);

    InventoryChanges changes{std::move(previous_name), {}};
    for (std::size_t i = 0; i < current.size(); ++i) {
        const HostInventory &h = current[i];
        HostChanges c;
        c.address = address_text(h.address);
        c.registry_urn = h.registry_urn;
        c.error = h.error;
        const auto it = earlier.find(now_keys[i]);
        if (it != earlier.end()) {
            const HostSnapshot &before = *it->second;
            c.previous_address = before.address;
            c.previous_records = before.records.size();
            if (h.error)
                c.change = HostChange::unreadable;
            else if (before.error)
                c.change = HostChange::recovered;
            else
                compare_records(c, before.records, h.records);
            earlier.erase(it);
        } else if (h.error) {
            c.change = HostChange::unreadable;
        } else {
            c.change = HostChange::appeared;
            for (std::size_t r = 0; r < h.records.size(); ++r)
                c.added.push_back(r);
        }
        changes.hosts.push_back(std::move(c));
    }
    for (std::size_t i = 0; i < previous.size(); ++i) {
        if (!earlier.contains(before_keys[i]))
            continue;
        const HostSnapshot &before = previous[i];
        HostChanges c;
        c.change = HostChange::disappeared;
        c.address = c.previous_address = before.address;
        c.registry_urn = before.registry_urn;
        c.previous_records = before.records.size();
        changes.hosts.push_back(std::move(c));
    }
    return changes;
}

}  // namespace zorbel::cli
