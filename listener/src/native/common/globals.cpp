#include "globals.h"

int tavish_verbose = 0;
char tavish_version[6] = "1.1.4";
char registry_version[REGISTRY_VERSION_LEN];
agent_ctx_t agent_ctx;
int do_encrypt = 0;
char encryption_key[18];
