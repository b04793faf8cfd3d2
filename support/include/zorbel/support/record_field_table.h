// The text fields of a registry record: each one's element name in the
// file, its place in zo_t and what zo_add requires of it.  The library
// reads and writes records by this table, and the tools that fill or show
// records use the same one, so no field list is written twice.
#pragma once

#include "zorbel.h"

#include <algorithm>
#include <array>
#include <span>
#include <string_view>

namespace zorbel {

enum class FieldRole {
    key,       // instance_urn: looked up, never copied from the file
    required,  // must be given to zo_add
    optional,  // may be empty on add; the two fields zo_update changes
    stamp,     // timestamp: always written by the library
};

struct RecordField {
    std::string_view name;
    std::span<char> (*in)(zo_t &);              // the field's bytes in a record
    std::span<const char> (*of)(const zo_t &);  // the same, read only
    FieldRole role;
    bool served;  // one of the fields a responder serves for a record
};

#define ZORBEL_FIELD(member, role, served)                                                  \
    RecordField                                                                       \
    {                                                                                 \
        #member, [](zo_t &s) { return std::span<char>(s.member); },                   \
            [](const zo_t &s) { return std::span<const char>(s.member); }, role, served \
    }

// In the order of zo_t, which is also the order of a record's elements in
// the file (installer_uid, an int, follows them).
inline constexpr std::array<RecordField, 12> record_text_fields{
    ZORBEL_FIELD(instance_urn, FieldRole::key, true),
    ZORBEL_FIELD(product_name, FieldRole::required, true),
    ZORBEL_FIELD(product_version, FieldRole::required, true),
    ZORBEL_FIELD(product_urn, FieldRole::required, true),
    ZORBEL_FIELD(product_parent_urn, FieldRole::optional, true),
    ZORBEL_FIELD(product_parent, FieldRole::required, true),
    ZORBEL_FIELD(product_defined_inst_id, FieldRole::optional, true),
    ZORBEL_FIELD(product_vendor, FieldRole::required, false),
    ZORBEL_FIELD(platform_arch, FieldRole::required, false),
    ZORBEL_FIELD(timestamp, FieldRole::stamp, true),
    ZORBEL_FIELD(container, FieldRole::required, true),
    ZORBEL_FIELD(source, FieldRole::required, true),
};

#undef ZORBEL_FIELD

// The fields a responder serves for one record, in record order: every text
// field but the vendor and the architecture.  The record answer, the
// inventory's columns and the pages that show records are derived from it.
inline constexpr auto served_fields = [] {
    constexpr auto count = static_cast<std::size_t>(std::count_if(
        record_text_fields.begin(), record_text_fields.end(), [](const RecordField &f) { return f.served; }));
    std::array<const RecordField *, count> fields{};
    std::size_t n = 0;
    for (const RecordField &f : record_text_fields)
        if (f.served)
            fields[n++] = &f;
    return fields;
}();
static_assert(served_fields.size() == 10);

// The place of a served field among a record's served values, by name; a
// name that is not served does not compile.
consteval std::size_t served_index(std::string_view name)
{
    for (std::size_t i = 0; i < served_fields.size(); ++i)
        if (served_fields[i]->name == name)
            return i;
    throw "not a served field";
}

inline constexpr std::string_view uid_element = "installer_uid";

// The text field stored in an element of this name; null for
// installer_uid and for names that are not fields.
constexpr const RecordField *text_field_named(std::string_view name)
{
    const auto it = std::find_if(record_text_fields.begin(), record_text_fields.end(),
                                 [name](const RecordField &f) { return f.name == name; });
    return it == record_text_fields.end() ? nullptr : &*it;
}

// Every element name of a record, in file order: the text fields, then
// installer_uid.
inline constexpr auto record_element_names = [] {
    std::array<std::string_view, record_text_fields.size() + 1> names{};
    for (std::size_t i = 0; i < record_text_fields.size(); ++i)
        names[i] = record_text_fields[i].name;
    names.back() = uid_element;
    return names;
}();

}  // namespace zorbel
