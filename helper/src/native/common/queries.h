// Finding records in a parsed registry, shared by the queries and by the
// writers' own lookups.
#pragma once

#include "zorbel/support/record_walk.h"
#include "zorbel/support/xml_ptr.h"
#include "zorbel.h"

namespace zorbel {

// 1 when any "instance_urn" child of the record has exactly this text.
int find_instance_urn(xmlDocPtr doc, xmlNodePtr curr_node, const char *instance_urn);

// 1 when the record carries "product_urn" text equal to `product_urn`;
// `instance_urn` (256 bytes) receives the record's instance URN, cut to
// 255 characters, or empty text when it has none.
int find_product_urn(xmlDocPtr doc, xmlNodePtr curr_node, const char *product_urn, char *instance_urn);

// zo_get reading the registry through `fd` (by its path when fd < 0).  The
// validated document stays in `doc` for the caller, also when the record
// is not found; it is empty when the registry was not read or not valid.
int get_record(zo_t *s, zo_env_t *env, xml::DocPtr &doc, int fd);

// The first record element, in document order, that carries this instance
// URN; null when none does.
xmlNode *first_record_with_urn(xmlDoc *doc, const char *instance_urn);

// True when the element has text, and it is exactly `expected` (no more
// of it is read than could match).
inline bool text_equals(xmlDoc *doc, xmlNode *element, std::string_view expected)
{
    const xml::CharPtr text = xml::node_text(doc, element, expected.size() + 1);
    return text && xml::view(text.get()) == expected;
}

}  // namespace zorbel
