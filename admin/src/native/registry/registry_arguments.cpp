#include "registry/registry_arguments.h"

#include "cli/cli_error.h"
#include "zorbel/support/record_field_table.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace zorbel::cli {

namespace {

// A record field that a command-line option sets; it must be given when
// zo_add requires the field.
struct FieldOption {
    OptionSpec option;
    const RecordField *field;

    bool required() const { return field->role == FieldRole::required; }
};

constexpr FieldOption field_option(const char *option, int key, std::string_view field)
{
    return {{option, key, true}, text_field_named(field)};
}

constexpr std::array add_fields{
    field_option("product-name", 256, "product_name"),
    field_option("product-version", 257, "product_version"),
    field_option("product-urn", 258, "product_urn"),
    field_option("product-parent", 259, "product_parent"),
    field_option("vendor", 260, "product_vendor"),
    field_option("arch", 261, "platform_arch"),
    field_option("container", 262, "container"),
    field_option("source", 263, "source"),
    field_option("instance-urn", 264, "instance_urn"),
    field_option("parent-urn", 265, "product_parent_urn"),
    field_option("defined-inst-id", 266, "product_defined_inst_id"),
};

// The fields that update may change: the last two of the add table.
constexpr std::span<const FieldOption> update_fields = std::span(add_fields).last(2);


// Reads the options of a command that sets record fields; returns the operands.
std::vector<std::string> read_fields(std::string_view command, const GlobalOptions &global, int argc,
                                     char *argv[], std::span<const FieldOption> fields,
                                     RegistryRequest &req)
{
    std::vector<OptionSpec> specs{root_option};
    for (const auto &f : fields)
        specs.push_back(f.option);
    std::vector<bool> seen(fields.size());
    req.root = global.root;
    auto operands = read_options(command, argc, argv, specs, [&](int key, const char *value) {
        if (key == root_option.key) {
            req.root = value;
            return;
        }
        const auto it = std::find_if(fields.begin(), fields.end(),
                                     [key](const FieldOption &f) { return f.option.key == key; });
        seen[static_cast<std::size_t>(it - fields.begin())] = true;
        set_field(it->field->in(req.record), value);
    });
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (fields[i].required() && !seen[i])
            throw UsageError(command, std::string("missing --") + fields[i].option.name);
    return operands;
}

std::vector<std::string> read_root_only(std::string_view command, const GlobalOptions &global, int argc,
                                        char *argv[], RegistryRequest &req)
{
    return read_fields(command, global, argc, argv, {}, req);
}

}  // namespace

void set_field(std::span<char> field, std::string_view value)
{
    std::fill(field.begin(), field.end(), '\0');
    std::memcpy(field.data(), value.data(), std::min(field.size(), value.size()));
}

RegistryRequest parse_add(const GlobalOptions &global, int argc, char *argv[])
{
    RegistryRequest req;
    expect_operands("add", read_fields("add", global, argc, argv, add_fields, req), 0, 0);
    return req;
}

RegistryRequest parse_update(const GlobalOptions &global, int argc, char *argv[])
{
    RegistryRequest req;
    const auto operands = read_fields("update", global, argc, argv, update_fields, req);
    expect_operands("update", operands, 1, 1);
    if (req.record.product_parent_urn[0] == '\0' && req.record.product_defined_inst_id[0] == '\0')
        throw UsageError("update", "give --parent-urn or --defined-inst-id (or both), not empty");
    set_field(req.record.instance_urn, operands[0]);
    return req;
}

RegistryRequest parse_urn_operand(std::string_view command, const GlobalOptions &global, int argc,
                                  char *argv[])
{
    RegistryRequest req;
    const auto operands = read_root_only(command, global, argc, argv, req);
    expect_operands(command, operands, 1, 1);
    req.urn = operands[0];
    return req;
}

RegistryRequest parse_get(const GlobalOptions &global, int argc, char *argv[])
{
    RegistryRequest req;
    req.root = global.root;
    const OptionSpec specs[] = {root_option, format_option};
    const auto operands = read_options("get", argc, argv, specs, [&](int key, const char *value) {
        if (key == root_option.key)
            req.root = value;
        else
            req.format = parse_format("get", value);
    });
    expect_operands("get", operands, 1, 1);
    req.urn = operands[0];
    return req;
}

RegistryRequest parse_export(const GlobalOptions &global, int argc, char *argv[])
{
    RegistryRequest req;
    req.root = global.root;
    constexpr OptionSpec output_option{"output", 'o', true};
    const OptionSpec specs[] = {root_option, format_option, output_option};
    const auto operands = read_options("export", argc, argv, specs, [&](int key, const char *value) {
        if (key == root_option.key) {
            req.root = value;
            return;
        }
        if (key == output_option.key) {
            req.output = value;
            return;
        }
        const std::string_view format = value;
        if (format != "xml" && format != "prometheus")
            throw UsageError("export", "unknown format '" + std::string(format) + "' (xml or prometheus)");
        req.prometheus = format == "prometheus";
    });
    expect_operands("export", operands, 0, 0);
    return req;
}

RegistryRequest parse_list(const GlobalOptions &global, int argc, char *argv[])
{
    RegistryRequest req;
    req.root = global.root;
    const OptionSpec specs[] = {root_option, {"product", 'p', true}, format_option};
    const auto operands = read_options("list", argc, argv, specs, [&](int key, const char *value) {
        if (key == root_option.key)
            req.root = value;
        else if (key == format_option.key)
            req.format = parse_format("list", value);
        else
            req.product = value;
    });
    expect_operands("list", operands, 0, 0);
    return req;
}

RegistryRequest parse_no_operands(std::string_view command, const GlobalOptions &global, int argc,
                                  char *argv[])
{
    RegistryRequest req;
    expect_operands(command, read_root_only(command, global, argc, argv, req), 0, 0);
    return req;
}

}  // namespace zorbel::cli
