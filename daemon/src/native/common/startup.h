// Start-up steps shared by both daemons: option parsing with the common
// diagnostics, the -l redirection of standard error, the usage text and
// detaching from the calling shell (the change of group and user is in
// privileges.h, opening the registry in registry_start.h).
#pragma once

#include "log_file.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace zorbel::daemon {

// Reads the options with getopt in silent mode.  `letters` is the option
// string without the leading colon.  Every recognised option goes to
// `handle` (its letter and operand, null for flags); a letter that is not
// in the string writes "Unrecognized option: -%c", a missing operand
// "Option -%c requires an operand", and both count as one error.
// `handle` returns false to stop start-up at once (exit status 1).
// Returns the number of errors, or -1 when `handle` stopped parsing.
int parse_options(int argc, char *argv[], const char *letters,
                  const std::function<bool(int letter, const char *operand)> &handle);

// Copies an operand of -r, -U or -G; on failure writes the system error
// with `what` as prefix ("malloc(uid)") and returns false.
bool copy_operand(std::optional<std::string> &into, const char *operand, const char *what);

// -l: opens `path` with open_log_file() and makes it standard error.  On failure writes
// "Unable to open log file: %s" and leaves standard error as it was.
void redirect_stderr(const char *path, LogOpen how);

// "Usage: <basename of argv0> [options]" followed by the program's lines.
void print_usage(const char *argv0, std::span<const char *const> lines, FILE *to = stderr);

// The exit status for `errors` option errors: their count, kept below 256
// so that many errors can never read as success.
int option_error_status(int errors);

// A numeric operand as atoi reads it (base 10, leading blanks and a sign,
// stops at the first non-digit, 0 without digits), with values beyond the
// range of int wrapped instead of undefined.
int number_operand(const char *text);

// Ignores the terminal stop signals, forks (the parent, and a failed
// fork, exit with status 0), starts a new session and ignores SIGHUP.
void make_daemon_process();

}  // namespace zorbel::daemon
