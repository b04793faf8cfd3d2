// The seen-probe cache: the texts of the last 32 probes accepted for an
// answer.  A probe whose text is still here gets no second answer.
#pragma once

constexpr int SCACHE_SLOTS = 32;
constexpr int SCACHE_SLOT_SIZE = 512;  // a slot keeps at most 511 bytes

// Process-wide; every slot starts as the empty string.
extern char scache[SCACHE_SLOTS][SCACHE_SLOT_SIZE];
// The slot that the next scache_add overwrites (first in, first out).
extern int next_scache_entry;

// Empties every slot; the next addition still goes to next_scache_entry.
void scache_init();

// Stores `val`, cut to 511 bytes, in the next slot.  Does not look for it
// first: the caller asks scache_contains before.
void scache_add(const char *val);

// 1 when some slot holds exactly `val` (empty slots included), else 0.
int scache_contains(const char *val);
