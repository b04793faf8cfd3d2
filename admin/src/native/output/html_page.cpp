#include "output/html_page.h"

#include "network/inet.h"

#include <map>
#include <set>

namespace zorbel::cli {

namespace {

constexpr std::string_view page_head =
    "<!DOCTYPE html>\n"
    "<html lang=\"en\">\n"
    "<head>\n"
    "<meta charset=\"utf-8\">\n"
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">\n"
    "<title>zorbel inventory</title>\n"
    "<style>\n"
    "body { font-family: sans-serif; margin: 1em; }\n"
    "table { border-collapse: collapse; margin-bottom: 1.5em; }\n"
    "th, td { border: 1px solid #999; padding: 0.2em 0.5em; text-align: left; vertical-align: top; }\n"
    "th { background: #eee; }\n"
    "td { white-space: pre-wrap; }\n"
    "</style>\n"
    "</head>\n"
    "<body>\n";

// Columns of the record table: heading and index into served_fields.
struct Column {
    std::string_view heading;
    std::size_t field;
};
constexpr Column record_columns[] = {
    {"Product", 1},        {"Version", 2},   {"Instance URN", 0}, {"Product URN", 3},
    {"Parent", 5},         {"Parent URN", 4}, {"Instance id", 6},  {"Container", 8},
    {"Source", 9},         {"Changed", 7},
};

void cell(std::string &out, std::string_view tag, std::string_view text)
{
    out += "<";
    out += tag;
    out += ">" + html_escape(text) + "</";
    out += tag;
    out += ">";
}

}  // namespace

std::string html_escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string html_page(const std::vector<HostInventory> &hosts)
{
    struct Count {
        std::size_t instances = 0;
        std::set<std::string> hosts;
    };
    std::map<std::string, Count> products;
    std::size_t records = 0, failed = 0;
    for (const auto &h : hosts) {
        failed += h.error ? 1 : 0;
        for (const auto &r : h.records) {
            auto &c = products[r[1]];
            ++c.instances;
            c.hosts.insert(address_text(h.address));
            ++records;
        }
    }

    std::string out(page_head);
    out += "<h1>Product inventory</h1>\n<p>" + std::to_string(records) + " records on " +
           std::to_string(hosts.size() - failed) + " hosts";
    if (failed > 0)
        out += "; " + std::to_string(failed) + " hosts could not be read";
    out += ".</p>\n";

    out += "<h2>Products</h2>\n<table id=\"products\">\n<thead><tr><th>Product</th><th>Instances</th>"
           "<th>Hosts</th></tr></thead>\n<tbody>\n";
    for (const auto &[name, count] : products) {
        out += "<tr>";
        cell(out, "td", name);
        cell(out, "td", std::to_string(count.instances));
        cell(out, "td", std::to_string(count.hosts.size()));
        out += "</tr>\n";
    }
    out += "</tbody>\n</table>\n";

    out += "<h2>Records</h2>\n<table id=\"records\">\n<thead><tr><th>Host</th>";
    for (const auto &c : record_columns)
        cell(out, "th", c.heading);
    out += "<th>Registry URN</th></tr></thead>\n<tbody>\n";
    for (const auto &h : hosts) {
        for (const auto &r : h.records) {
            out += "<tr>";
            cell(out, "td", address_text(h.address));
            for (const auto &c : record_columns)
                cell(out, "td", r[c.field]);
            cell(out, "td", h.registry_urn);
            out += "</tr>\n";
        }
    }
    out += "</tbody>\n</table>\n";

    if (failed > 0) {
        out += "<h2>Hosts not read</h2>\n<ul id=\"failed\">\n";
        for (const auto &h : hosts)
            if (h.error)
                out += "<li>" + html_escape(address_text(h.address) + ": " + *h.error) + "</li>\n";
        out += "</ul>\n";
    }
    return out + "</body>\n</html>\n";
}

}  // namespace zorbel::cli
