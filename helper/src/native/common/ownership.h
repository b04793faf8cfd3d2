// Who may change a record, and how many records a user owns.
#pragma once

#include "zorbel.h"

#include <libxml/tree.h>

// 1 when the calling process may change the record `s` as read from the
// registry: its real user id is 0, is that of the account "zorbel"
// (looked up on every call), or is the record's installer_uid.  Else 0.
int is_authorized(const zo_t *s);

// The number of "installer_uid" elements, in the records among the root's
// children, whose text is exactly `uid`.
int count_records_by_uid(xmlDocPtr doc, xmlNodePtr root_node, const char *uid);
