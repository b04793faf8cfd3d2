// The walk over a parsed registry's records and their fields, shared by
// the library's lookups, the responder's list and the admin command's
// tables, so that every reader sees the same records in the same order.
#pragma once

#include "zorbel/support/xml_ptr.h"

#include <string_view>
#include <type_traits>

namespace zorbel {

// Calls visit(element, name) for each element among the node's children,
// in document order; `visit` may unlink the element it is given.  A visit
// that returns bool ends the walk by returning false.  True when the walk
// went through every child.
template <class Visit>
bool for_each_element(xmlNode *parent, Visit visit)
{
    for (xmlNode *n = parent ? parent->children : nullptr; n != nullptr;) {
        xmlNode *next = n->next;
        if (n->type == XML_ELEMENT_NODE) {
            if constexpr (std::is_same_v<decltype(visit(n, xml::view(n->name))), bool>) {
                if (!visit(n, xml::view(n->name)))
                    return false;
            } else {
                visit(n, xml::view(n->name));
            }
        }
        n = next;
    }
    return true;
}

// Calls visit(record) for each record element among the children of the
// document's root; a visit returning bool ends the walk with false.
template <class Visit>
bool for_each_record(xmlDoc *doc, Visit visit)
{
    return for_each_element(xmlDocGetRootElement(doc), [&](xmlNode *n, std::string_view name) {
        if constexpr (std::is_same_v<decltype(visit(n)), bool>)
            return name != "zorbel" || visit(n);
        else if (name == "zorbel")
            visit(n);
    });
}

// Calls visit(urn) for each "instance_urn" element of the record, in
// document order (a record may, against the DTD's intent, carry several).
template <class Visit>
void for_each_instance_urn(xmlNode *record, Visit visit)
{
    for_each_element(record, [&](xmlNode *n, std::string_view name) {
        if (name == "instance_urn")
            visit(n);
    });
}

}  // namespace zorbel
