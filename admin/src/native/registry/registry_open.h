// Opening the registry for a command.
#pragma once

#include "zorbel.h"

#include <string>

namespace zorbel::cli {

// When no registry exists below `root`: throws Failure, having created
// nothing, unless the DTD a new registry there would name can be loaded
// (resolved as every reader resolves it: the system XML catalog first,
// then the path), saying which file it looked for and how to provide it.
// The library writes a new registry without validating it, so one it
// could never read back is refused here.
void check_new_registry_dtd(const std::string &root);

// zo_initialize on `root` ("/" when empty), after check_new_registry_dtd
// when the registry directory exists.
// Throws Failure naming the file and the reason; returns true when no
// registry existed before the call (it was created now).
bool open_registry(const std::string &root, zo_env_t &env);

}  // namespace zorbel::cli
