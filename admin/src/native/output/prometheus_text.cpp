#include "output/prometheus_text.h"

#include "zorbel/support/record_field_table.h"

#include <cstdio>
#include <functional>

namespace zorbel::cli {

namespace {

// The labels of one record's series: its text fields that `keep` accepts.
std::string labels(const Table &records, const std::vector<std::string> &row,
                   const std::function<bool(std::string_view)> &keep)
{
    std::string out;
    for (std::size_t i = 0; i < records.columns.size(); ++i)
        if (keep(records.columns[i]))
            out += (out.empty() ? "" : ",") + records.columns[i] + "=\"" + prometheus_label_value(row[i]) + '"';
    return out;
}

// A record's timestamp ("2026-12-08 12:00:00 GMT") in seconds since the
// epoch; NaN when it is not one.
std::string epoch_seconds(const std::string &stamp)
{
    std::tm tm{};
    char zone[4] = {};
    if (std::sscanf(stamp.c_str(), "%4d-%2d-%2d %2d:%2d:%2d %3s", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                    &tm.tm_min, &tm.tm_sec, zone) != 7 ||
        std::string_view(zone) != "GMT")
        return "NaN";
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return std::to_string(timegm(&tm));
}

// The fields zo_update never changes: the key and the required fields.
bool kept_by_updates(std::string_view column)
{
    const RecordField *f = text_field_named(column);
    return f && (f->role == FieldRole::key || f->role == FieldRole::required);
}

}  // namespace

std::string prometheus_label_value(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string prometheus_text(const Table *records, std::time_t now)
{
    std::string out;
    if (records) {
        const auto is_text = [](std::string_view column) { return text_field_named(column) != nullptr; };
        out += "# HELP zorbel_product_instance_info A product instance recorded in the zorbel registry.\n"
               "# TYPE zorbel_product_instance_info gauge\n";
        for (const auto &row : records->rows)
            out += "zorbel_product_instance_info{" + labels(*records, row, is_text) + "} 1\n";
        out += "# HELP zorbel_product_instance_timestamp_seconds When a product instance's record was last written.\n"
               "# TYPE zorbel_product_instance_timestamp_seconds gauge\n";
        const std::size_t stamp = records->column("timestamp");
        for (const auto &row : records->rows)
            out += "zorbel_product_instance_timestamp_seconds{" + labels(*records, row, kept_by_updates) + "} " +
                   epoch_seconds(row[stamp]) + "\n";
        out += "# HELP zorbel_registry_records Records in the zorbel registry.\n"
               "# TYPE zorbel_registry_records gauge\n"
               "zorbel_registry_records " + std::to_string(records->rows.size()) + "\n";
    }
    return out +
           "# HELP zorbel_registry_up Whether the export could read the zorbel registry.\n"
           "# TYPE zorbel_registry_up gauge\n"
           "zorbel_registry_up " + (records ? "1" : "0") + "\n" +
           "# HELP zorbel_export_timestamp_seconds When the export ran.\n"
           "# TYPE zorbel_export_timestamp_seconds gauge\n"
           "zorbel_export_timestamp_seconds " + std::to_string(now) + "\n";
}

}  // namespace zorbel::cli
