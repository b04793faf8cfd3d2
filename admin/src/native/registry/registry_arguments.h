// The command lines of the registry sub-commands: add, update, delete,
// get, list, export and urn.
#pragma once

#include "cli/arguments.h"
#include "output/output_format.h"

#include "zorbel.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zorbel::cli {

// The registry root (-r before or after the sub-command) and, for the
// commands that take them, the record values or the URN operand.
struct RegistryRequest {
    std::optional<std::string> root;
    zo_t record{};                       // add, update
    std::string urn;                     // delete, get
    std::optional<std::string> product;  // list --product
    std::optional<Format> format;        // get, list: --format
    bool prometheus = false;             // export --format prometheus
    std::optional<std::string> output;   // export --output FILE
};

RegistryRequest parse_add(const GlobalOptions &global, int argc, char *argv[]);
RegistryRequest parse_update(const GlobalOptions &global, int argc, char *argv[]);
// delete: exactly one instance URN.
RegistryRequest parse_urn_operand(std::string_view command, const GlobalOptions &global, int argc,
                                  char *argv[]);
// get: one instance URN and --format.
RegistryRequest parse_get(const GlobalOptions &global, int argc, char *argv[]);
RegistryRequest parse_list(const GlobalOptions &global, int argc, char *argv[]);
// export: no operands, --format xml or prometheus, --output FILE.
RegistryRequest parse_export(const GlobalOptions &global, int argc, char *argv[]);
// urn: no operands.
RegistryRequest parse_no_operands(std::string_view command, const GlobalOptions &global, int argc,
                                  char *argv[]);

// Puts `value` into a fixed-width record field.  A value that does not fit
// fills the field without a terminator, so that the library refuses it
// with ZO_ERR_MAX_LEN_EXCEEDED instead of storing a cut text.
void set_field(std::span<char> field, std::string_view value);

}  // namespace zorbel::cli
