#include "sysinfo.h"

zo_sysinfo_t zo_sysinfo;

char *halvora_psn() { return zo_sysinfo.psn; }
char *halvora_sysman() { return zo_sysinfo.sysman; }
char *halvora_cpuman() { return zo_sysinfo.cpuman; }
char *halvora_prodname() { return zo_sysinfo.prodname; }
