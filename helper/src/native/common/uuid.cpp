// Time-based (version 1) UUIDs, their text form, and URNs made from them.
#include "c_boundary.h"
#include "record_fields.h"
#include "sysdep.h"

#include <pthread.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

// Most UUIDs one clock reading serves beyond the first.
constexpr unsigned16 max_uuids_per_tick = 1024;

struct uuid_state_t {
    uuid_time_t ts;
    uuid_node_t node;
    unsigned16 cs;
    int inited;
};

// uuid_mutex guards the three variables below it: the generator's state,
// the last clock reading and the count of UUIDs made from it.
std::mutex uuid_mutex;
uuid_state_t uuid_state;
uuid_time_t time_last;
unsigned16 uuids_this_tick;

// A forked child is a process of its own and starts afresh, drawing its own
// clock sequence: continuing its parent's state would make the same UUIDs
// as the parent within the same microsecond.  The mutex is held across the
// fork so the child never inherits it locked by a thread it does not have.
void lock_before_fork()
{
    uuid_mutex.lock();
}

void unlock_in_parent()
{
    uuid_mutex.unlock();
}

void restart_in_child()
{
    uuid_state = {};
    time_last = 0;
    uuids_this_tick = 0;
    uuid_mutex.unlock();
}

[[maybe_unused]] const int fork_handlers = pthread_atfork(lock_before_fork, unlock_in_parent, restart_in_child);

// A clock reading made distinct by counting UUIDs within one reading.
void get_current_time(uuid_time_t *timestamp)
{
    uuid_time_t time_now;
    for (;;) {
        get_system_time(&time_now);
        if (time_now != time_last) {
            uuids_this_tick = 0;
            time_last = time_now;
            break;
        }
        if (uuids_this_tick < max_uuids_per_tick) {
            ++uuids_this_tick;
            break;
        }
        // Every count of this reading is used: spin until the clock moves.
    }
    *timestamp = time_now + uuids_this_tick;
}

int read_state(unsigned16 *clockseq, uuid_time_t *timestamp, uuid_node_t *node)
{
    if (!uuid_state.inited)
        return 0;
    *clockseq = uuid_state.cs;
    *timestamp = uuid_state.ts;
    *node = uuid_state.node;
    return 1;
}

void write_state(unsigned16 clockseq, uuid_time_t timestamp, uuid_node_t node)
{
    uuid_state.cs = clockseq;
    uuid_state.ts = timestamp;
    uuid_state.node = node;
    uuid_state.inited = 1;
}

void format_uuid_v1(uuid_t *uuid, unsigned16 clock_seq, uuid_time_t timestamp, uuid_node_t node)
{
    uuid->time_low = static_cast<unsigned32>(timestamp & 0xFFFFFFFFULL);
    uuid->time_mid = static_cast<unsigned16>((timestamp >> 32) & 0xFFFF);
    uuid->time_hi_and_version = static_cast<unsigned16>(((timestamp >> 48) & 0x0FFF) | (1 << 12));
    uuid->clock_seq_low = static_cast<unsigned8>(clock_seq & 0xFF);
    uuid->clock_seq_hi_and_reserved = static_cast<unsigned8>(((clock_seq & 0x3F00) >> 8) | 0x80);
    memcpy(uuid->node, node.id, sizeof uuid->node);
}

// Reads the hexadecimal group at [pos, pos + width) of a text of length
// len, as far as the text goes; fails when the group starts at or past its end.
bool scan_group(const char *text, size_t len, size_t pos, size_t width, unsigned int *value)
{
    if (pos >= len)
        return false;
    char group[20];
    const size_t n = len - pos < width ? len - pos : width;
    memcpy(group, text + pos, n);
    group[n] = '\0';
    return sscanf(group, "%x", value) == 1;
}

bool dash_at(const char *text, size_t len, size_t pos)
{
    return pos < len && text[pos] == '-';
}

template <class T>
int order(T a, T b)
{
    return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace

extern "C" int uuid_create(uuid_t *uuid)
{
    return zorbel::c_entry([&]() -> int {
        if (uuid == nullptr)
            return 0;
        const std::lock_guard<std::mutex> lock(uuid_mutex);
        uuid_time_t timestamp;
        get_current_time(&timestamp);
        uuid_node_t node;
        get_ieee_node_identifier(&node);

        unsigned16 clockseq = 0;
        uuid_time_t last_time = 0;
        uuid_node_t last_node{};
        if (!read_state(&clockseq, &last_time, &last_node) || memcmp(&node, &last_node, sizeof node) != 0) {
            clockseq = zorbel::true_random();
            if (clockseq == 0)
                return 0;
        } else if (timestamp <= last_time) {
            // A repeated or earlier timestamp gets a new clock sequence, so no
            // UUID repeats within the process.
            ++clockseq;
        }
        format_uuid_v1(uuid, clockseq, timestamp, node);
        write_state(clockseq, timestamp, node);
        return 1;
    }, 0, 0);
}

extern "C" void uuid_tostring(const uuid_t *uuid, char *buf)
{
    if (uuid == nullptr || buf == nullptr)
        return;
    snprintf(buf, 37, "%8.8x-%4.4x-%4.4x-%2.2x%2.2x-%2.2x%2.2x%2.2x%2.2x%2.2x%2.2x", uuid->time_low,
             uuid->time_mid, uuid->time_hi_and_version, uuid->clock_seq_hi_and_reserved, uuid->clock_seq_low,
             uuid->node[0], uuid->node[1], uuid->node[2], uuid->node[3], uuid->node[4], uuid->node[5]);
}

extern "C" int uuid_fromstring(uuid_t *uuid, const char *inbuf)
{
    if (uuid == nullptr || inbuf == nullptr)
        return 1;
    const size_t len = strnlen(inbuf, 41);
    if (len > 40)
        return 1;
    uuid_t u{};
    unsigned int v = 0;
    if (!scan_group(inbuf, len, 0, 8, &v))
        return 1;
    u.time_low = v;
    if (!dash_at(inbuf, len, 8) || !scan_group(inbuf, len, 9, 4, &v))
        return 1;
    u.time_mid = static_cast<unsigned16>(v);
    if (!dash_at(inbuf, len, 13) || !scan_group(inbuf, len, 14, 4, &v))
        return 1;
    u.time_hi_and_version = static_cast<unsigned16>(v);
    if (!dash_at(inbuf, len, 18) || !scan_group(inbuf, len, 19, 2, &v))
        return 1;
    u.clock_seq_hi_and_reserved = static_cast<unsigned8>(v);
    if (!scan_group(inbuf, len, 21, 2, &v))
        return 1;
    u.clock_seq_low = static_cast<unsigned8>(v);
    if (!dash_at(inbuf, len, 23))
        return 1;
    for (size_t i = 0; i < 6; ++i) {
        if (!scan_group(inbuf, len, 24 + 2 * i, 2, &v))
            return 1;
        u.node[i] = static_cast<byte>(v);
    }
    *uuid = u;
    return 0;
}

extern "C" int uuid_compare(const uuid_t *u1, const uuid_t *u2)
{
    if (int r = order(u1->time_low, u2->time_low))
        return r;
    if (int r = order(u1->time_mid, u2->time_mid))
        return r;
    if (int r = order(u1->time_hi_and_version, u2->time_hi_and_version))
        return r;
    if (int r = order(u1->clock_seq_hi_and_reserved, u2->clock_seq_hi_and_reserved))
        return r;
    if (int r = order(u1->clock_seq_low, u2->clock_seq_low))
        return r;
    for (size_t i = 0; i < 6; ++i)
        if (int r = order(u1->node[i], u2->node[i]))
            return r;
    return 0;
}

extern "C" int generate_urn(char *generated_urn, const char *nid)
{
    uuid_t uuid;
    if (generated_urn == nullptr || !uuid_create(&uuid))
        return ZO_ERR_GEN_UUID;
    char text[37];
    uuid_tostring(&uuid, text);
    snprintf(generated_urn, zorbel::urn_width, "urn:%s:%s", nid ? nid : "", text);
    return ZO_ERR_NO_ERROR;
}
