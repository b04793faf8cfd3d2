// Host probe: the nine short facts about this host that the network
// responder reports in its agent document.
#pragma once

#include <cstdio>

inline constexpr int PROBE_FIELDS = 9;
inline constexpr int PROBE_FIELD_LEN = 257;  // 256 characters and the NUL
inline constexpr int CPUBUFFER_LEN = 4096;

// One slot per entry of sysconfField, in the same order.
struct probeStruct {
    char sysconf[PROBE_FIELDS][PROBE_FIELD_LEN];
};

// Element names of the slots: system, host, release, architecture,
// platform, manufacturer, cpu_manufacturer, serial_number, hostid.
extern const char *const sysconfField[PROBE_FIELDS];

// The start of /proc/cpuinfo as of the last probe (empty before it).
extern char cpubuffer[CPUBUFFER_LEN];

// Fills every slot of `probeData` afresh.
void get_probe_data(probeStruct *probeData);

// Reads the host's serial-number file /var/run/psn: line 1 is the chassis
// serial number, line 2 the system maker, line 3 the CPU maker, line 4 the
// product name.  Every output (max_len bytes each) is filled; a missing
// file, a missing line or one that starts with "__NONE__" or " __NONE__"
// gives the empty text.
void read_psn_file(char *chassis_sn, char *manufacturer, char *cpu_manufacturer,
                   char *product_name, int max_len);

// The number of "processor : N" lines in cpubuffer.
int getNumProcs();

namespace zorbel::probe {

// The line rules of read_psn_file applied to an open stream.
void read_psn_stream(std::FILE *in, char *chassis_sn, char *manufacturer, char *cpu_manufacturer,
                     char *product_name, int max_len);

}  // namespace zorbel::probe
