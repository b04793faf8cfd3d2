// Opening the registry below a root directory (zo_initialize and friends).
#pragma once

#include "zorbel.h"

namespace zorbel {

// Parses and validates the registry and refreshes env's URN and version;
// 1 when valid, else 0.
int is_reg_valid(zo_env_t *env);

}  // namespace zorbel
