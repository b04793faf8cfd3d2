// Writing a changed registry document back over the registry file.
#pragma once

#include "zorbel.h"

#include <libxml/tree.h>

namespace zorbel {

// Saves `doc` as the registry while the caller holds the writers' lock on
// `locked_fd`, a descriptor of the registry open for reading and writing.
// The new content goes to a temporary file that is renamed over the
// registry, so readers and crashes see the old file or the new one; only
// when the registry directory refuses new files is the registry rewritten
// in place through `locked_fd`.  On failure the previous content is kept
// and the result is ZO_ERR_XML_SAVE_REG.
int save_registry(const zo_env_t *env, int locked_fd, xmlDoc *doc);

}  // namespace zorbel
