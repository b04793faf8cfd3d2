// An earlier `zorbel inventory --format json` document, read back to
// compare a new inventory with.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zorbel::cli {

// The version of the JSON document's layout, written as its "format"
// member.  A document without one is of format 1.
inline constexpr int inventory_format = 1;

struct HostSnapshot {
    std::string address;
    std::string registry_urn;
    std::vector<std::vector<std::string>> records;  // values in served_fields order
    std::optional<std::string> error;               // the host could not be read then
};

// The hosts of the document in `path`.  Throws Failure, naming the file,
// when it cannot be read, is not such a document or is of a newer format.
std::vector<HostSnapshot> read_snapshot(const std::string &path);

}  // namespace zorbel::cli
