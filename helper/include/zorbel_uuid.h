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

ZO_UUID_API int  uuid_create(uuid_t *uuid);                          /* 1 on success, 0 on failure */
ZO_UUID_API void uuid_tostring(const uuid_t *uuid, char *buf);       /* buf: at least 37 bytes */
ZO_UUID_API int  uuid_fromstring(uuid_t *uuid, const char *inbuf);   /* 0 on success, 1 on failure */
ZO_UUID_API int  uuid_compare(const uuid_t *u1, const uuid_t *u2);   /* -1, 0 or 1 */
ZO_UUID_API void get_system_time(uuid_time_t *uuid_time);
ZO_UUID_API void get_ieee_node_identifier(uuid_node_t *node);
ZO_UUID_API void get_node_identifier(char *node_identifier);         /* 12 bytes */
ZO_UUID_API void get_node_domain(char *node_domain);                 /* 1024 bytes */
ZO_UUID_API void get_node_timezone(char *node_timezone);             /* 128 bytes */

#ifdef __cplusplus
}
#endif

#endif /* ZORBEL_UUID_H */
