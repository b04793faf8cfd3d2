// Reading, validating and serialising the registry file.
#pragma once

#include "zorbel/support/xml_ptr.h"
#include "zorbel.h"

#include <string>

namespace zorbel {

// Reads the registry (through `fd` when it is >= 0, which keeps any lock
// held on it; else from env->registry), validates it against the DTD its
// document type declaration names and refreshes env's registry URN and
// version.  ZO_ERR_NO_ERROR with the parsed document in `doc`, or
// ZO_ERR_XML_INVALID_REG (unreadable, unparsable, invalid or no root).
int load_valid_registry(zo_env_t *env, xml::DocPtr &doc, int fd = -1);

// True when the document validates against the DTD its document type
// declaration names, loaded as for every registry read.
bool validates_against_named_dtd(xmlDoc *doc);

// Reads the registry without validating it.  ZO_ERR_NO_ERROR,
// ZO_ERR_XML_PARSE or ZO_ERR_XML_EMPTY_DOC.
int parse_registry(const zo_env_t *env, xml::DocPtr &doc, int fd = -1);

// The document as the writers store it: UTF-8, no added indentation.
// Empty on failure.
std::string serialize_registry(xmlDoc *doc);

}  // namespace zorbel
