#include "output/output_format.h"

#include "cli/cli_error.h"
#include "output/terminal_text.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace zorbel::cli {

namespace {

// Display width of UTF-8 text, counted in characters.
std::size_t width(std::string_view s)
{
    return static_cast<std::size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
}

// A spreadsheet takes a cell that begins with one of these for a formula
// (or, with tab and CR, may run it after trimming them): such a value gets
// a leading single quote, which makes the cell plain text.
bool reads_as_formula(std::string_view s)
{
    return !s.empty() && std::string_view("=+-@\t\r").find(s.front()) != std::string_view::npos;
}

std::string csv_field(std::string_view value)
{
    const std::string neutral = reads_as_formula(value) ? "'" + std::string(value) : std::string(value);
    const std::string_view s = neutral;
    if (s.find_first_of(",\"\r\n") == std::string_view::npos)
        return neutral;
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

}  // namespace

std::size_t Table::column(std::string_view name) const
{
    return static_cast<std::size_t>(std::find(columns.begin(), columns.end(), name) - columns.begin());
}

Format parse_format(std::string_view command, std::string_view text)
{
    if (text == "table")
        return Format::table;
    if (text == "json")
        return Format::json;
    if (text == "jsonl")
        return Format::jsonl;
    if (text == "csv")
        return Format::csv;
    throw UsageError(command, "unknown format '" + std::string(text) + "' (table, json, jsonl or csv)");
}

nlohmann::ordered_json json_value(std::string_view column, const std::string &text)
{
    if (column == "installer_uid" || column == "tcp_port") {
        if (text.empty())
            return nullptr;
        std::uint64_t number = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (ec == std::errc() && end == text.data() + text.size())
            return number;
    }
    return text;
}

nlohmann::ordered_json json_row(const Table &table, const std::vector<std::string> &row)
{
    auto object = nlohmann::ordered_json::object();
    // Room for every column and one more member a caller may add: growing
    // an ordered object copies its members.
    object.get_ref<nlohmann::ordered_json::object_t &>().reserve(table.columns.size() + 1);
    for (std::size_t i = 0; i < table.columns.size(); ++i)
        object[table.columns[i]] = json_value(table.columns[i], row[i]);
    return object;
}

std::string json_text(const nlohmann::ordered_json &value)
{
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string aligned_text(const Table &table, std::span<const std::string_view> first_columns)
{
    std::vector<std::size_t> order;
    for (const auto name : first_columns)
        if (const auto i = table.column(name); i < table.columns.size())
            order.push_back(i);
    for (std::size_t i = 0; i < table.columns.size(); ++i)
        if (std::find(order.begin(), order.end(), i) == order.end())
            order.push_back(i);

    std::vector<std::vector<std::string>> cells{table.columns};
    for (const auto &row : table.rows) {
        cells.emplace_back();
        for (const auto &value : row)
            cells.back().push_back(display_escape(value));
    }
    std::vector<std::size_t> widths(table.columns.size());
    for (const auto &line : cells)
        for (std::size_t i = 0; i < line.size(); ++i)
            widths[i] = std::max(widths[i], width(line[i]));

    std::string out;
    for (const auto &line : cells) {
        std::string text;
        for (const std::size_t i : order) {
            if (!text.empty())
                text += "  ";
            text += line[i];
            text.append(widths[i] - width(line[i]), ' ');
        }
        text.erase(text.find_last_not_of(' ') + 1);
        out += text + '\n';
    }
    return out;
}

std::string csv_text(const Table &table)
{
    std::string out;
    const auto line = [&out](const std::vector<std::string> &fields) {
        for (std::size_t i = 0; i < fields.size(); ++i)
            out += (i ? "," : "") + csv_field(fields[i]);
        out += "\r\n";
    };
    line(table.columns);
    for (const auto &row : table.rows)
        line(row);
    return out;
}

std::string jsonl_text(const Table &table)
{
    std::string out;
    for (const auto &row : table.rows)
        out += json_text(json_row(table, row)) + '\n';
    return out;
}

}  // namespace zorbel::cli
