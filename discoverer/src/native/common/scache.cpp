#include "scache.h"

#include "strl.h"

#include <cstring>

char scache[SCACHE_SLOTS][SCACHE_SLOT_SIZE];
int next_scache_entry = 0;

void scache_init()
{
    for (auto &slot : scache)
        slot[0] = '\0';
}

void scache_add(const char *val)
{
    strlcpy(scache[next_scache_entry], val, SCACHE_SLOT_SIZE);
    next_scache_entry = (next_scache_entry + 1) % SCACHE_SLOTS;
}

int scache_contains(const char *val)
{
    for (const auto &slot : scache)
        if (std::strcmp(slot, val) == 0)
            return 1;
    return 0;
}
