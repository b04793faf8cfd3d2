#include "probe.h"

#include "zorbel/support/byte_transfer.h"
#include "zorbel/support/fixed_text.h"
#include "zorbel/support/stdio_ptr.h"
#include "zorbel/support/unique_fd.h"

#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

const char *const sysconfField[PROBE_FIELDS] = {
    "system", "host", "release", "architecture", "platform",
    "manufacturer", "cpu_manufacturer", "serial_number", "hostid",
};

char cpubuffer[CPUBUFFER_LEN];

namespace {

constexpr const char *psn_path = "/var/run/psn";
constexpr int psn_read_len = 1024;  // one fgets: at most 1023 characters
constexpr int psn_lines = 4;

enum Slot { SYSTEM, HOST, RELEASE, ARCHITECTURE, PLATFORM, MANUFACTURER, CPU_MANUFACTURER,
            SERIAL_NUMBER, HOSTID };

// Keeps the first 4095 bytes of /proc/cpuinfo; an unreadable or empty file
// leaves the previous text.
void refresh_cpubuffer()
{
    zorbel::UniqueFd fd(open("/proc/cpuinfo", O_RDONLY | O_CLOEXEC));
    if (!fd)
        return;
    char fresh[CPUBUFFER_LEN];
    const size_t got = zorbel::transfer_all(sizeof fresh - 1, [&](size_t at) {
        return read(fd.get(), fresh + at, sizeof fresh - 1 - at);
    });
    if (got == 0)
        return;
    std::memcpy(cpubuffer, fresh, got);
    cpubuffer[got] = '\0';
}

bool starts_with_none(std::string_view value)
{
    return value.starts_with("__NONE__") || value.starts_with(" __NONE__");
}

void copy_slot(std::span<char, PROBE_FIELD_LEN> slot, std::string_view value)
{
    zorbel::copy_cut(slot, value);
}

}  // namespace

namespace zorbel::probe {

void read_psn_stream(std::FILE *in, char *chassis_sn, char *manufacturer, char *cpu_manufacturer,
                     char *product_name, int max_len)
{
    const std::array<char *, psn_lines> outputs{chassis_sn, manufacturer, cpu_manufacturer, product_name};
    std::array<bool, psn_lines> set{};
    const auto width = static_cast<size_t>(max_len > 0 ? max_len : 0);
    char line[psn_read_len];
    for (int index = 0; in != nullptr && std::fgets(line, sizeof line, in) != nullptr; ++index) {
        if (index >= psn_lines)
            continue;  // later lines are read and ignored
        std::string_view value(line);
        if (const size_t nl = value.find('\n'); nl != std::string_view::npos)
            value = value.substr(0, nl);
        if (starts_with_none(value) || width == 0)
            continue;
        copy_cut({outputs[index], width}, value);
        set[index] = true;
    }
    for (int i = 0; i < psn_lines; ++i)
        if (!set[i] && width > 0)
            outputs[i][0] = '\0';
}

}  // namespace zorbel::probe

void read_psn_file(char *chassis_sn, char *manufacturer, char *cpu_manufacturer, char *product_name,
                   int max_len)
{
    // Read directly: no shell, no dependence on the caller's PATH.
    zorbel::FilePtr in(std::fopen(psn_path, "re"));
    zorbel::probe::read_psn_stream(in.get(), chassis_sn, manufacturer, cpu_manufacturer, product_name,
                                   max_len);
}

void get_probe_data(probeStruct *probeData)
{
    refresh_cpubuffer();

    auto &slots = probeData->sysconf;
    utsname u{};
    uname(&u);
    copy_slot(slots[SYSTEM], u.sysname);
    copy_slot(slots[HOST], u.nodename);
    copy_slot(slots[RELEASE], u.release);
    copy_slot(slots[ARCHITECTURE], u.machine);
    slots[PLATFORM][0] = '\0';

    char chassis_sn[PROBE_FIELD_LEN];
    char manufacturer[PROBE_FIELD_LEN];
    char cpu_manufacturer[PROBE_FIELD_LEN];
    char product_name[PROBE_FIELD_LEN];
    read_psn_file(chassis_sn, manufacturer, cpu_manufacturer, product_name, PROBE_FIELD_LEN);
    copy_slot(slots[MANUFACTURER], manufacturer);
    copy_slot(slots[CPU_MANUFACTURER], cpu_manufacturer);
    copy_slot(slots[SERIAL_NUMBER], chassis_sn);
    copy_slot(slots[PLATFORM], product_name);

    char hostid[PROBE_FIELD_LEN];
    snprintf(hostid, sizeof hostid, "%lx",
             static_cast<unsigned long>(static_cast<std::uint32_t>(gethostid())));
    copy_slot(slots[HOSTID], hostid);
}

int getNumProcs()
{
    const std::string text(cpubuffer);  // a working copy: cpubuffer stays intact
    std::vector<char> word(text.size() + 1);
    int count = 0;
    std::string_view rest(text);
    while (!rest.empty()) {
        const size_t nl = rest.find('\n');
        const std::string_view line = rest.substr(0, nl);
        rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
        if (line.empty())
            continue;  // empty lines are not lines
        const std::string one(line);
        // Counts a match, and also a line that ends before it contradicts
        // the pattern (the scan then reports end of input, not 0).
        if (std::sscanf(one.c_str(), "processor : %s", word.data()) != 0)
            ++count;
    }
    return count;
}
