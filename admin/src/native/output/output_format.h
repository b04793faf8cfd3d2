// The machine- and person-readable forms of a Table: aligned columns, one
// JSON document, JSON lines and CSV.
#pragma once

#include "output/table.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zorbel::cli {

enum class Format { table, json, jsonl, csv };

// The --format operand; throws UsageError for anything else.
Format parse_format(std::string_view command, std::string_view text);

// The value of a cell in JSON: a string, except that an "installer_uid" or
// "tcp_port" cell of decimal digits is a number and an empty one null.
nlohmann::ordered_json json_value(std::string_view column, const std::string &text);

// One row as an object of its columns, in column order.
nlohmann::ordered_json json_row(const Table &table, const std::vector<std::string> &row);

// Serialises `value`; invalid UTF-8 in strings becomes U+FFFD.
std::string json_text(const nlohmann::ordered_json &value);

// Aligned columns under a heading line, the named columns first in the
// given order, then the others; every value through display_escape(), so
// that every row stays one line and nothing in it acts on the terminal.
std::string aligned_text(const Table &table, std::span<const std::string_view> first_columns);

// RFC 4180: a header row, CRLF line ends, fields quoted when they hold a
// comma, a double quote, CR or LF, and quotes doubled.  A value that
// begins with =, +, -, @, tab or CR is first prefixed with a single quote,
// so that no spreadsheet reads it as a formula.
std::string csv_text(const Table &table);

// One JSON object per row and line.
std::string jsonl_text(const Table &table);

}  // namespace zorbel::cli
