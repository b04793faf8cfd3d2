#include "registry/registry_commands.h"

#include "cli/cli_error.h"
#include "registry/error_context.h"
#include "registry/local_records.h"
#include "output/durable_file.h"
#include "output/output_format.h"
#include "output/prometheus_text.h"
#include "registry/registry_open.h"
#include "registry/registry_arguments.h"
#include "zorbel/support/library_ptr.h"
#include "zorbel/support/log_escape.h"
#include "zorbel/support/record_field_table.h"
#include "zorbel/support/xml_ptr.h"

#include "zorbel.h"

#include <cstdio>
#include <ctime>
#include <memory>

namespace zorbel::cli {

namespace {

// One initialised registry environment, closed on scope exit.
class Registry {
public:
    explicit Registry(const std::optional<std::string> &root)
    {
        open_registry(root.value_or(""), env_);
    }
    ~Registry() { zo_close(&env_); }
    Registry(const Registry &) = delete;
    Registry &operator=(const Registry &) = delete;

    zo_env_t *env() { return &env_; }

private:
    zo_env_t env_{};
};


void print_line(const char *text)
{
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
}

void list_product(Registry &reg, const std::string &product)
{
    char **raw = nullptr;
    const int count = check_record(zo_get_instance_urns(product.c_str(), &raw, reg.env()), *reg.env(), product);
    const UrnListPtr list(raw);
    for (int i = 0; i < count; ++i)
        print_line(list[i]);
}

Table read_table(Registry &reg, const std::optional<std::string> &product)
{
    xmlDocPtr raw = nullptr;
    check_registry(zo_get_registry_doc(&raw, reg.env()), *reg.env());
    const xml::DocPtr doc(raw);
    return registry_table(doc.get(), product);
}

void print_text(const std::string &text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
}

// `table` in `format`; a json document is an array of records, or the one
// record itself when `one` is set.
void print_records(const Table &table, Format format, bool one)
{
    switch (format) {
    case Format::table:
        print_text(aligned_text(table, local_first_columns));
        break;
    case Format::csv:
        print_text(csv_text(table));
        break;
    case Format::jsonl:
        print_text(jsonl_text(table));
        break;
    case Format::json: {
        auto doc = nlohmann::ordered_json::array();
        for (const auto &row : table.rows)
            doc.push_back(json_row(table, row));
        print_text(json_text(one && doc.size() == 1 ? doc[0] : doc) + "\n");
        break;
    }
    }
}

// Without a format: one field=value line per field in record order, with
// control bytes and the backslash escaped, so that no value can add or
// forge a line.
void print_fields(const zo_t &r)
{
    for (const RecordField &f : record_text_fields)
        std::printf("%.*s=%s\n", static_cast<int>(f.name.size()), f.name.data(), escape_for_log(f.of(r).data()).c_str());
    std::printf("%.*s=%d\n", static_cast<int>(uid_element.size()), uid_element.data(), r.installer_uid);
}

}  // namespace

int run_add(const GlobalOptions &global, int argc, char *argv[])
{
    auto req = parse_add(global, argc, argv);
    Registry reg(req.root);
    check_add(zo_add(&req.record, reg.env()), *reg.env(), req.record);
    print_line(req.record.instance_urn);
    return exit_ok;
}

int run_update(const GlobalOptions &global, int argc, char *argv[])
{
    auto req = parse_update(global, argc, argv);
    Registry reg(req.root);
    check_record(zo_update(&req.record, reg.env()), *reg.env(), req.record.instance_urn, &req.record);
    return exit_ok;
}

int run_delete(const GlobalOptions &global, int argc, char *argv[])
{
    const auto req = parse_urn_operand("delete", global, argc, argv);
    Registry reg(req.root);
    check_record(zo_delete(req.urn.c_str(), reg.env()), *reg.env(), req.urn);
    return exit_ok;
}

int run_get(const GlobalOptions &global, int argc, char *argv[])
{
    auto req = parse_get(global, argc, argv);
    Registry reg(req.root);
    set_field(req.record.instance_urn, req.urn);
    check_record(zo_get(&req.record, reg.env()), *reg.env(), req.urn);
    if (!req.format) {
        print_fields(req.record);
        return exit_ok;
    }
    Table table = read_table(reg, std::nullopt);
    const std::size_t urn_column = table.column("instance_urn");
    std::erase_if(table.rows, [&](const auto &row) { return row[urn_column] != req.urn; });
    if (table.rows.empty())
        check_record(ZO_ERR_REC_NOT_FOUND, *reg.env(), req.urn);  // deleted since zo_get
    table.rows.resize(1);
    print_records(table, *req.format, true);
    return exit_ok;
}

int run_list(const GlobalOptions &global, int argc, char *argv[])
{
    const auto req = parse_list(global, argc, argv);
    Registry reg(req.root);
    if (req.format) {
        print_records(read_table(reg, req.product), *req.format, false);
    } else if (req.product) {
        list_product(reg, *req.product);
    } else {
        // Every record's instance URN in registry order, as the network
        // responder's record list shows them.
        const Table table = read_table(reg, std::nullopt);
        for (const auto &row : table.rows)
            if (const auto &urn = row[table.column("instance_urn")]; !urn.empty())
                print_line(urn.c_str());
    }
    return exit_ok;
}

int run_export(const GlobalOptions &global, int argc, char *argv[])
{
    const auto req = parse_export(global, argc, argv);
    std::string text;
    std::optional<Failure> failed;
    if (req.prometheus) {
        // A registry that cannot be read is a series of its own, so the
        // metrics are written before the error is reported.
        std::optional<Table> table;
        try {
            Registry reg(req.root);
            table = read_table(reg, std::nullopt);
        } catch (const Failure &e) {
            failed = e;
        }
        text = prometheus_text(table ? &*table : nullptr, std::time(nullptr));
    } else {
        Registry reg(req.root);
        char *raw = nullptr;
        check_registry(zo_get_registry_xml(&raw, reg.env()), *reg.env());
        const XmlTextPtr xml(raw);
        text = xml.get();
    }
    if (req.output)
        replace_file_durably(*req.output, text);
    else
        print_text(text);
    if (failed)
        throw *failed;
    return exit_ok;
}

int run_urn(const GlobalOptions &global, int argc, char *argv[])
{
    const auto req = parse_no_operands("urn", global, argc, argv);
    Registry reg(req.root);
    print_line(zo_get_registry_urn());
    return exit_ok;
}

}  // namespace zorbel::cli
