/*
 * zorbel_uuid.h - time-based (version 1) UUIDs as the registry makes them.
 */
#ifndef ZORBEL_UUID_H
#define ZORBEL_UUID_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define ZO_UUID_API __attribute__((visibility("default")))
#else
#define ZO_UUID_API
#endif

typedef uint32_t unsigned32;
typedef uint16_t unsigned16;
typedef uint8_t  unsigned8;
typedef uint8_t  byte;

/* 100-nanosecond intervals since 1582-10-15 00:00:00 UTC. */
typedef uint64_t uuid_time_t;

typedef struct {
    byte id[6];
} uuid_node_t;

typedef struct {
    unsigned32 time_low;
    unsigned16 time_mid;
    unsigned16 time_hi_and_version;
    unsigned8  clock_seq_hi_and_reserved;
    unsigned8  clock_seq_low;
    byte       node[6];
} uuid_t;

/* Makes a fresh version-1 UUID from the clock, the node derived from the
 * host identifier and the process's clock sequence.  Thread-safe (one
 * process-wide mutex).  Returns 1 with *uuid filled, or 0 when no random
 * clock sequence could be drawn; *uuid is then untouched and a later call
 * may succeed. */
ZO_UUID_API int  uuid_create(uuid_t *uuid);

/* Writes the 36-character lower-case text form and a NUL into buf, which
 * the caller provides with at least 37 bytes. */
ZO_UUID_API void uuid_tostring(const uuid_t *uuid, char *buf);

/* Reads the text form (at most 40 characters; only the first 36 are
 * looked at).  Returns 0 with *uuid set, or 1 with *uuid untouched. */
ZO_UUID_API int  uuid_fromstring(uuid_t *uuid, const char *inbuf);

/* Orders two UUIDs field by field as unsigned numbers: -1, 0 or 1. */
ZO_UUID_API int  uuid_compare(const uuid_t *u1, const uuid_t *u2);

/* The time of day as 100-nanosecond intervals since the start of the
 * Gregorian calendar, in steps of one microsecond. */
ZO_UUID_API void get_system_time(uuid_time_t *uuid_time);

/* The 6-byte node derived from the host identifier, the same for the
 * whole life of the process. */
ZO_UUID_API void get_ieee_node_identifier(uuid_node_t *node);

/* Host descriptions, each written with its NUL into a caller's buffer of
 * the size given and cut silently to fit: the host identifier in
 * hexadecimal (12 bytes), the domain name or "unknown" (1024 bytes), and
 * the standard-time zone name (128 bytes). */
ZO_UUID_API void get_node_identifier(char *node_identifier);
ZO_UUID_API void get_node_domain(char *node_domain);
ZO_UUID_API void get_node_timezone(char *node_timezone);

#ifdef __cplusplus
}
#endif

#endif /* ZORBEL_UUID_H */
