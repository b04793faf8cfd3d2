// The registry sub-commands, each run on one initialised registry.
#pragma once

#include "cli/arguments.h"

namespace zorbel::cli {

// Each reads its command line (argv[0] is the sub-command), opens the
// registry below the chosen root, does its work and returns the exit
// status; library errors throw Failure.
int run_add(const GlobalOptions &global, int argc, char *argv[]);
int run_update(const GlobalOptions &global, int argc, char *argv[]);
int run_delete(const GlobalOptions &global, int argc, char *argv[]);
int run_get(const GlobalOptions &global, int argc, char *argv[]);
int run_list(const GlobalOptions &global, int argc, char *argv[]);
int run_export(const GlobalOptions &global, int argc, char *argv[]);
int run_urn(const GlobalOptions &global, int argc, char *argv[]);

}  // namespace zorbel::cli
