#include "registry_arguments.h"

#include "cli_error.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace zorbel::cli {

namespace {


// A record field that a command-line option sets.
struct FieldOption {
    OptionSpec option;
    bool required;
    std::span<char> (*field)(zo_t &);
};

template <std::size_t N>
std::span<char> span_of(char (&field)[N])
{
    return std::span<char>(field, N);
}

constexpr std::array add_fields{
    FieldOption{{"product-name", 256, true}, true, [](zo_t &r) { return span_of(r.product_name); }},
    FieldOption{{"product-version", 257, true}, true, [](zo_t &r) { return span_of(r.product_version); }},
    FieldOption{{"product-urn", 258, true}, true, [](zo_t &r) { return span_of(r.product_urn); }},
    FieldOption{{"product-parent", 259, true}, true, [](zo_t &r) { return span_of(r.product_parent); }},
    FieldOption{{"vendor", 260, true}, true, [](zo_t &r) { return span_of(r.product_vendor); }},
    FieldOption{{"arch", 261, true}, true, [](zo_t &r) { return span_of(r.platform_arch); }},
    FieldOption{{"container", 262, true}, true, [](zo_t &r) { return span_of(r.container); }},
    FieldOption{{"source", 263, true}, true, [](zo_t &r) { return span_of(r.source); }},
    FieldOption{{"instance-urn", 264, true}, false, [](zo_t &r) { return span_of(r.instance_urn); }},
    FieldOption{{"parent-urn", 265, true}, false, [](zo_t &r) { return span_of(r.product_parent_urn); }},
    FieldOption{{"defined-inst-id", 266, true}, false,
                [](zo_t &r) { return span_of(r.product_defined_inst_id); }},
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
        set_field(it->field(req.record), value);
    });
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (fields[i].required && !seen[i])
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
    set_field(span_of(req.record.instance_urn), operands[0]);
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
    const OptionSpec specs[] = {root_option, format_option};
    const auto operands = read_options("export", argc, argv, specs, [&](int key, const char *value) {
        if (key == root_option.key) {
            req.root = value;
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
