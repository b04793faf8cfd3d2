// The system-information record: cleared at start-up, read through four
// accessors that return the fields themselves.
#pragma once

inline constexpr int SYSINFO_FIELD_LEN = 256;

struct zo_sysinfo_t {
    char psn[SYSINFO_FIELD_LEN];       // serial number
    char cpuman[SYSINFO_FIELD_LEN];    // CPU maker
    char sysman[SYSINFO_FIELD_LEN];    // system maker
    char prodname[SYSINFO_FIELD_LEN];  // product name
};

extern zo_sysinfo_t zo_sysinfo;

char *halvora_psn();
char *halvora_sysman();
char *halvora_cpuman();
char *halvora_prodname();
