#include "registry_pieces.h"

#include "globals.h"

#include <cstdio>

namespace zorbel::tavish {

bool read_registry_for_answer(zo_env_t *zo_env, RegistrySnapshot &registry)
{
    const int status = zo_is_initialized(zo_env) ? read_valid_registry(zo_env, registry) : ZO_ERR_NOT_INIT;
    if (status != ZO_ERR_NO_ERROR) {
        if (tavish_verbose >= 1)
            fprintf(stderr, "zo_get_registry_doc error: %d\n", status);
        return false;
    }
    if (xmlDocGetRootElement(registry->doc.get()) == nullptr) {
        if (tavish_verbose >= 1)
            fputs("NULL root node for registry\n", stderr);
        return false;
    }
    return true;
}

}  // namespace zorbel::tavish
