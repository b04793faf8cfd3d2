// zorbel init: makes the registry directory below a root, puts the DTD
// beside it for a root other than /, and creates or checks the registry.
#pragma once

#include "cli/arguments.h"

namespace zorbel::cli {

int run_init(const GlobalOptions &global, int argc, char *argv[]);

}  // namespace zorbel::cli
