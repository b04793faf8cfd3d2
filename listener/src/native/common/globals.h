// Process-wide settings of the network responder.
#pragma once

#include "zorbel.h"

// Raised by one for each -v; 0 in inetd mode.  At 1: system-call failures,
// warnings and one trace line per request; at 2: every line read and every
// piece written.
extern int tavish_verbose;

// The agent version reported in the agent documents.
extern char tavish_version[6];

// The registry version, copied once at start-up.
inline constexpr int REGISTRY_VERSION_LEN = 512;
extern char registry_version[REGISTRY_VERSION_LEN];

// The port served and the registry environment, recorded at start-up.
struct agent_ctx_t {
    int port;
    zo_env_t *zo_env;
};
extern agent_ctx_t agent_ctx;

// Encryption is not supported: -p only clears do_encrypt; nothing reads these.
extern int do_encrypt;
extern char encryption_key[18];
