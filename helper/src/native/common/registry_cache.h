// The validated registry a query answers from: a fresh parse, or, in a
// process that asked for it, the last one kept while it can be proved
// current.  Writers never come here: they read under their lock.
#pragma once

#include "reader_cache.h"
#include "zorbel.h"

namespace zorbel {

// Forgets what is kept for `env` (zo_close).
void drop_registry_cache(const zo_env_t *env);

}  // namespace zorbel
