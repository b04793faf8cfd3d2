// The standalone service loop: many connections at once, each with its
// own limits (see connection.h), at most 512 open.  New connections are
// accepted in batches of at most 32 between rounds of reading and
// sending, and each is read at once.  When the table is full, the peer
// address that holds the most connections gives up its longest-waiting
// one, so one source flooding connections pushes out only its own.
#pragma once

#include "zorbel.h"

namespace zorbel::tavish {

// Serves connections accepted on the listening socket `listener`, forever.
[[noreturn]] void serve_concurrently(int listener, zo_env_t *zo_env);

}  // namespace zorbel::tavish
