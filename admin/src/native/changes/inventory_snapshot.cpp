#include "changes/inventory_snapshot.h"

#include "cli/cli_error.h"
#include "network/host_reader.h"
#include "network/inet.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

namespace zorbel::cli {

namespace {

using nlohmann::json;

// What makes a document no inventory, in words.
struct Malformed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const json &member(const json &object, const char *name, json::value_t type, const std::string &where)
{
    const auto it = object.find(name);
    if (it == object.end() || it->type() != type)
        throw Malformed(where + " has no " + name + " of the right type");
    return *it;
}

std::vector<std::string> record_values(const json &record, const std::string &where)
{
    if (!record.is_object())
        throw Malformed(where + " is not an object");
    std::vector<std::string> values;
    for (const RecordField *f : served_fields) {
        const auto it = record.find(f->name);
        if (it != record.end() && !it->is_string())
            throw Malformed(where + "'s " + std::string(f->name) + " is not a string");
        values.push_back(it == record.end() ? "" : it->get<std::string>());
    }
    if (values[served_index("instance_urn")].empty())
        throw Malformed(where + " has no instance_urn");
    return values;
}

std::vector<HostSnapshot> hosts_of(const json &doc)
{
    if (!doc.is_object())
        throw Malformed("the document is not an object");
    std::vector<HostSnapshot> hosts;
    const json &list = member(doc, "hosts", json::value_t::array, "the document");
    for (std::size_t i = 0; i < list.size(); ++i) {
        const json &h = list[i];
        const std::string where = "host " + std::to_string(i + 1);
        if (!h.is_object())
            throw Malformed(where + " is not an object");
        HostSnapshot host{member(h, "address", json::value_t::string, where).get<std::string>(),
                          member(h, "registry_urn", json::value_t::string, where).get<std::string>(), {},
                          std::nullopt};
        const json &records = member(h, "records", json::value_t::array, where);
        for (std::size_t r = 0; r < records.size(); ++r)
            host.records.push_back(record_values(records[r], where + ", record " + std::to_string(r + 1)));
        if (const auto e = h.find("error"); e != h.end() && !e->is_null()) {
            if (!e->is_string())
                throw Malformed(where + "'s error is not a string");
            host.error = e->get<std::string>();
        }
        hosts.push_back(std::move(host));
    }
    return hosts;
}

}  // namespace

std::vector<HostSnapshot> read_snapshot(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Failure(system_error(path));
    const std::string malformed = path + ": not a JSON document of zorbel inventory: ";
    std::ostringstream text;  // parsed from memory: much faster than from the stream
    if (!(text << in.rdbuf()))
        throw Failure(system_error(path));
    json doc;
    try {
        doc = json::parse(text.view());
    } catch (const json::exception &e) {
        const std::string_view what = e.what();  // "[json.exception.KIND] TEXT"
        throw Failure(malformed + std::string(what.substr(what.find("] ") == what.npos ? 0 : what.find("] ") + 2)));
    }
    // Every format up to inventory_format holds the hosts the same way.
    if (doc.is_object() && doc.contains("format")) {
        const json &format = doc["format"];
        if (!format.is_number_unsigned() || format.get<unsigned long long>() < 1)
            throw Failure(malformed + "its format is not a whole number from 1");
        if (format.get<unsigned long long>() > inventory_format)
            throw Failure(path + ": written in format " + format.dump() + ", newer than the format " +
                          std::to_string(inventory_format) + " this zorbel reads; compare with a newer zorbel");
    }
    try {
        return hosts_of(doc);
    } catch (const Malformed &e) {
        throw Failure(malformed + e.what());
    }
}

}  // namespace zorbel::cli
