// The standalone service loop: many connections at once, each with its
// own limits (see connection.h), at most 512 open.
#pragma once

#include "zorbel.h"

namespace zorbel::tavish {

// Serves connections accepted on the listening socket `listener`, forever.
[[noreturn]] void serve_concurrently(int listener, zo_env_t *zo_env);

}  // namespace zorbel::tavish
