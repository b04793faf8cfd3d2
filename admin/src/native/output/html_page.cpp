#include "output/html_page.h"

#include "network/inet.h"
#include "output/changes_output.h"
#include "output/fleet_page_assets.h"
#include "zorbel/support/record_field_table.h"

#include <map>
#include <set>

namespace zorbel::cli {

namespace {

// Columns of the record table: heading and the served field shown.
struct Column {
    std::string_view heading;
    std::size_t field;
};
constexpr Column record_columns[] = {
    {"Product", served_index("product_name")},
    {"Version", served_index("product_version")},
    {"Instance URN", served_index("instance_urn")},
    {"Product URN", served_index("product_urn")},
    {"Parent", served_index("product_parent")},
    {"Parent URN", served_index("product_parent_urn")},
    {"Instance id", served_index("product_defined_inst_id")},
    {"Container", served_index("container")},
    {"Source", served_index("source")},
    {"Changed", served_index("timestamp")},
};

std::string page_head()
{
    std::string out =
        "<!DOCTYPE html>\n"
        "<html lang=\"en\">\n"
        "<head>\n"
        "<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width\">\n"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'sha256-";
    out += fleet_page_style_sha256;
    out += "'; script-src 'sha256-";
    out += fleet_page_script_sha256;
    out += "'\">\n<title>zorbel inventory</title>\n<style>";
    out += fleet_page_style;
    return out + "</style>\n</head>\n<body>\n";
}

void cell(std::string &out, std::string_view tag, std::string_view text, std::string_view attributes = "")
{
    out += "<";
    out += tag;
    out += attributes;
    out += ">" + html_escape(text) + "</";
    out += tag;
    out += ">";
}

void number_cell(std::string &out, std::size_t n)
{
    cell(out, "td", std::to_string(n), " class=\"number\"");
}

void address_cell(std::string &out, const sockaddr_in &address)
{
    cell(out, "td", address_text(address), " class=\"address\"");
}

void table_start(std::string &out, std::string_view id, std::initializer_list<std::string_view> headings)
{
    out += "<table id=\"";
    out += id;
    out += "\">\n<thead><tr>";
    for (const auto h : headings)
        cell(out, "th", h);
    out += "</tr></thead>\n<tbody>\n";
}

constexpr std::string_view table_end = "</tbody>\n</table>\n";

// For each product (by name) and version: its instances and the hosts
// that run it.
void products_section(std::string &out, const std::vector<HostInventory> &hosts)
{
    struct Count {
        std::size_t instances = 0;
        std::set<std::string> hosts;
    };
    std::map<std::pair<std::string, std::string>, Count> versions;
    for (const auto &h : hosts) {
        for (const auto &r : h.records) {
            auto &c = versions[{r[served_index("product_name")], r[served_index("product_version")]}];
            ++c.instances;
            c.hosts.insert(address_text(h.address));
        }
    }
    out += "<h2>Products</h2>\n";
    table_start(out, "products", {"Product", "Version", "Instances", "Hosts", "Host addresses"});
    for (const auto &[key, count] : versions) {
        out += "<tr>";
        cell(out, "td", key.first);
        cell(out, "td", key.second);
        number_cell(out, count.instances);
        number_cell(out, count.hosts.size());
        std::string list;
        for (const auto &address : count.hosts)
            list += (list.empty() ? "" : " ") + address;
        cell(out, "td", list);
        out += "</tr>\n";
    }
    out += table_end;
}

void hosts_section(std::string &out, const std::vector<HostInventory> &hosts)
{
    out += "<h2>Hosts</h2>\n";
    table_start(out, "hosts", {"Address", "Registry URN", "Records", "Error"});
    for (const auto &h : hosts) {
        out += "<tr>";
        address_cell(out, h.address);
        cell(out, "td", h.registry_urn);
        number_cell(out, h.records.size());
        cell(out, "td", h.error.value_or(""));
        out += "</tr>\n";
    }
    out += table_end;
}

void records_section(std::string &out, const std::vector<HostInventory> &hosts)
{
    out += "<h2>Records</h2>\n<table id=\"records\">\n<thead><tr><th>Host</th>";
    for (const auto &c : record_columns)
        cell(out, "th", c.heading);
    out += "<th>Registry URN</th></tr></thead>\n<tbody>\n";
    for (const auto &h : hosts) {
        for (const auto &r : h.records) {
            out += "<tr>";
            address_cell(out, h.address);
            for (const auto &c : record_columns)
                cell(out, "td", r[c.field]);
            cell(out, "td", h.registry_urn);
            out += "</tr>\n";
        }
    }
    out += table_end;
}

void changes_section(std::string &out, const std::vector<HostInventory> &hosts, const InventoryChanges &changes)
{
    const Table table = changes_table(changes, hosts);
    out += "<h2>Changes</h2>\n<p id=\"compared\">" + html_escape(count_of(table.rows.size(), "change", "changes")) +
           " since " + html_escape(changes.previous) + ".</p>\n";
    if (table.rows.empty())
        return;
    table_start(out, "changes", {"Host", "Registry URN", "Change", "Instance URN", "Product", "Details"});
    for (const auto &row : table.rows) {
        out += "<tr>";
        cell(out, "td", row[0], " class=\"address\"");
        for (std::size_t i = 1; i < row.size(); ++i)
            cell(out, "td", row[i]);
        out += "</tr>\n";
    }
    out += table_end;
}

}  // namespace

std::string html_page(const std::vector<HostInventory> &hosts, const InventoryChanges *changes)
{
    std::size_t records = 0, failed = 0;
    for (const auto &h : hosts) {
        failed += h.error ? 1 : 0;
        records += h.records.size();
    }

    std::string out = page_head();
    out += "<h1>Product inventory</h1>\n<p id=\"summary\">" + count_of(records, "record", "records") + " on " +
           count_of(hosts.size() - failed, "host", "hosts");
    if (failed > 0)
        out += "; " + count_of(failed, "host", "hosts") + " could not be read";
    out += ".</p>\n";
    if (changes)
        changes_section(out, hosts, *changes);
    products_section(out, hosts);
    hosts_section(out, hosts);
    records_section(out, hosts);
    out += "<script>";
    out += fleet_page_script;
    return out + "</script>\n</body>\n</html>\n";
}

}  // namespace zorbel::cli
