// The text fields of a record: their element names, their place in zo_t
// and what the writers require of them.  Shared by the lookup (element
// text into fields), the add (checks, then one element per field) and the
// update (stored values read back into the caller's record).
#pragma once

#include "zorbel/support/xml_ptr.h"
#include "zorbel.h"

#include <sys/types.h>

#include <array>
#include <span>
#include <string>
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
    std::span<char> (*in)(zo_t &);  // the field's bytes in a record
    FieldRole role;
};

#define ZORBEL_FIELD(member, role)                                                     \
    RecordField { #member, [](zo_t &s) { return std::span<char>(s.member); }, role }

// In the order of zo_t, which is also the order of a record's elements in
// the file (installer_uid, an int, follows them).
inline constexpr std::array<RecordField, 12> record_text_fields{
    ZORBEL_FIELD(instance_urn, FieldRole::key),
    ZORBEL_FIELD(product_name, FieldRole::required),
    ZORBEL_FIELD(product_version, FieldRole::required),
    ZORBEL_FIELD(product_urn, FieldRole::required),
    ZORBEL_FIELD(product_parent_urn, FieldRole::optional),
    ZORBEL_FIELD(product_parent, FieldRole::required),
    ZORBEL_FIELD(product_defined_inst_id, FieldRole::optional),
    ZORBEL_FIELD(product_vendor, FieldRole::required),
    ZORBEL_FIELD(platform_arch, FieldRole::required),
    ZORBEL_FIELD(timestamp, FieldRole::stamp),
    ZORBEL_FIELD(container, FieldRole::required),
    ZORBEL_FIELD(source, FieldRole::required),
};

#undef ZORBEL_FIELD

inline constexpr std::string_view uid_element = "installer_uid";

// The width of every URN text, its NUL included: an instance URN, a
// product URN, a registry URN and a generated one all fit zo_t's field.
inline constexpr size_t urn_width = sizeof(zo_t::instance_urn);

// What is read of an element for a field `width` bytes wide: a little more
// than the field holds, so a cut is still seen, and never the whole
// expansion of the file's entities.
inline xml::CharPtr text_for_field(xmlDoc *doc, const xmlNode *element, size_t width)
{
    constexpr size_t margin = 16;
    return xml::node_text(doc, element, width + margin);
}

// The width read of an installer_uid element: any int, with room for
// leading blanks.
inline constexpr size_t uid_text_width = 64;

// The text field stored in an element of this name; null for
// installer_uid and for names that are not fields.
const RecordField *text_field_named(std::string_view name);

// Sets the field to `text` cut to its width less one, every other byte
// zero; null text (an element without text) clears it.
void store_field_text(std::span<char> field, const xmlChar *text);

// The installer_uid element's text as a number: leading white space and a
// sign allowed, digits up to the first other character, no digits 0; an
// element without text, or a number an int cannot hold, gives -1.
int parse_uid_text(const xmlChar *text);

// A user id as the writers store it: the full unsigned decimal.  Ownership
// and the quota compare this text, so every uid has its own.
std::string uid_text(uid_t uid);

// A user id as the record's int holds it: -1 when an int cannot hold it.
int uid_as_int(uid_t uid);

// True when `text` is UTF-8 made only of characters an XML document may
// hold, so that a file with it as element content parses again.
bool storable_text(std::string_view text);

}  // namespace zorbel
