// The UUID generator's sources: the clock, a node derived from the host
// identifier, random bytes, and three host descriptions.
#include "c_boundary.h"
#include "sysdep.h"

#include "strl.h"
#include "zorbel/support/unique_fd.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace {

// 100-ns intervals from 1582-10-15 to 1970-01-01.
constexpr uuid_time_t gregorian_offset = 0x01B21DD213814000ULL;

uint32_t host_identifier()
{
    return static_cast<uint32_t>(gethostid());
}

}  // namespace

extern "C" void get_system_time(uuid_time_t *uuid_time)
{
    struct timeval tv {};
    gettimeofday(&tv, nullptr);
    *uuid_time = static_cast<uuid_time_t>(tv.tv_sec) * 10000000ULL +
                 static_cast<uuid_time_t>(tv.tv_usec) * 10ULL + gregorian_offset;
}

extern "C" void get_ieee_node_identifier(uuid_node_t *node)
{
    zorbel::c_entry_void([&] {
        static uuid_node_t saved_node;
        static std::once_flag saved;
        std::call_once(saved, [] {
            const uint32_t h = host_identifier();
            saved_node.id[0] = static_cast<byte>(h >> 24);
            saved_node.id[1] = 0x00;
            saved_node.id[2] = 0x20;
            saved_node.id[3] = static_cast<byte>(h >> 16);
            saved_node.id[4] = static_cast<byte>(h >> 8);
            saved_node.id[5] = static_cast<byte>(h);
        });
        *node = saved_node;
    });
}

unsigned16 zorbel::true_random()
{
    const zorbel::UniqueFd dev(open("/dev/urandom", O_RDONLY | O_CLOEXEC));
    if (dev) {
        unsigned16 value = 0;
        return read(dev.get(), &value, sizeof value) == static_cast<ssize_t>(sizeof value) ? value : 0;
    }
    static bool seeded = false;
    if (!seeded) {
        uuid_time_t now;
        get_system_time(&now);
        now >>= 10;
        srand(static_cast<unsigned>((now & 0xFFFFFFFFULL) ^ (now >> 32)));
        seeded = true;
    }
    return static_cast<unsigned16>(rand() & 0xFFFF);
}

extern "C" void get_node_identifier(char *node_identifier)
{
    snprintf(node_identifier, 12, "%lx", static_cast<unsigned long>(host_identifier()));
}

extern "C" void get_node_domain(char *node_domain)
{
    char domain[1024];
    if (getdomainname(domain, sizeof domain) != 0)
        strlcpy(domain, "unknown", sizeof domain);
    domain[sizeof domain - 1] = '\0';
    snprintf(node_domain, 1024, "%s", domain);
}

extern "C" void get_node_timezone(char *node_timezone)
{
    snprintf(node_timezone, 128, "%s", tzname[0] ? tzname[0] : "");
}
