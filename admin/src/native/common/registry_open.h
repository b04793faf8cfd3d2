// Opening the registry for a command.
#pragma once

#include "zorbel.h"

#include <string>

namespace zorbel::cli {

// zo_initialize on `root` ("/" when empty).  A registry that this call
// creates is validated at once, as every later use validates it, and is
// removed again when that fails (a DTD that cannot be loaded, above all),
// so a failed first use leaves nothing behind.  Throws Failure naming the
// file and the reason; returns true when the registry was created.
bool open_registry(const std::string &root, zo_env_t &env);

}  // namespace zorbel::cli
