// Who may change a record, and how many records a user owns.
#pragma once

#include "zorbel.h"

#include <libxml/tree.h>

#include <string>

namespace zorbel {

// 1 when the calling process may change a record whose owner is stored as
// `owner` (the text of its installer_uid element): its real user id is 0,
// is that of the account "zorbel" (looked up on every call), or written as
// the writers write it is exactly `owner`.  Else 0.
int is_authorized(const std::string &owner);

// The text of the record's last installer_uid element (the one a lookup
// reads); empty when it has none or none with text.
std::string record_owner(xmlDocPtr doc, xmlNodePtr record);

// The number of "installer_uid" elements, in the records among the root's
// children, whose text is exactly `uid`.
int count_records_by_uid(xmlDocPtr doc, xmlNodePtr root_node, const char *uid);

}  // namespace zorbel
