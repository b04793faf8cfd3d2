// Reading and storing a record's field texts: widths, bounds and the
// installer_uid's forms.  The field table itself is record_field_table.h,
// shared with the tools.
#pragma once

#include "zorbel/support/record_field_table.h"
#include "zorbel/support/xml_ptr.h"
#include "zorbel.h"

#include <sys/types.h>

#include <array>
#include <span>
#include <string>
#include <string_view>

namespace zorbel {

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
