// Both public headers, together, in a C++ translation unit.
#include <zorbel.h>
#include <zorbel_uuid.h>

#include <type_traits>

static_assert(sizeof(uuid_t) == 16);
static_assert(sizeof(zo_t{}.timestamp) == 25);
static_assert(sizeof(zo_env_t{}.registry) == 4351);
static_assert(std::is_same_v<decltype(&zo_initialize), int (*)(const char *, zo_env_t *)>);
static_assert(std::is_same_v<decltype(&uuid_compare), int (*)(const uuid_t *, const uuid_t *)>);
static_assert(ZO_ERR_MAX_REC_PER_USER_EXCEEDED == -32052 && ZO_INITIALIZED == 1);
