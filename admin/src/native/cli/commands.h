// The top level of zorbel: the global options and the table of sub-commands.
#pragma once

namespace zorbel::cli {

// Reads the global options, finds the sub-command and runs it; returns
// the exit status.  Throws UsageError, HelpRequest and Failure.
int run_command_line(int argc, char *argv[]);

}  // namespace zorbel::cli
