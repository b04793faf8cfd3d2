// Opening the registry a daemon serves, once at start-up.
#pragma once

#include "zorbel.h"

#include <optional>
#include <string>

namespace zorbel::daemon {

// zo_initialize for the registry below `root` (the default root when
// absent) into `env`, cleared first.  A registry that cannot be opened is
// not fatal to a daemon, which then answers without one; with `report`
// the reason is written to standard error, once, here.
void open_registry(const std::optional<std::string> &root, zo_env_t &env, bool report);

}  // namespace zorbel::daemon
