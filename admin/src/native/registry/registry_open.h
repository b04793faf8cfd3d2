// Opening the registry for a command.
#pragma once

#include "zorbel.h"

#include <string>

namespace zorbel::cli {

// zo_initialize on `root` ("/" when empty).  The library validates a new
// registry against its DTD before linking it into place, so a failed first
// use leaves nothing behind.  Throws Failure naming the file and the
// reason; returns true when no registry existed before the call (it was
// created now).
bool open_registry(const std::string &root, zo_env_t &env);

}  // namespace zorbel::cli
