// What went wrong with a registry, for the messages of the programs: the
// file or directory concerned and the system's reason, found out after the
// library reported one of its codes.  Only the public API and libxml2 are
// used; the library's codes and texts are untouched.
#pragma once

#include "zorbel.h"

#include <optional>
#include <string>

namespace zorbel::diagnostics {

// The DTD a registry file names, as a reader loads it: the system
// identifier, or the file the XML catalog maps it to when nothing lies at
// that path.
struct DtdProblem {
    std::string path;    // the file looked for
    std::string reason;  // why it cannot be loaded ("No such file or directory")
};

// Why the DTD that `registry_file` names cannot be loaded; nullopt when the
// file names none or its DTD loads.
std::optional<DtdProblem> dtd_problem(const std::string &registry_file);

// "OBJECT: MESSAGE (REASON)" for a registry-level failure `code` of an
// operation on `env` (after zo_initialize filled in its paths): the
// registry directory or file, the text of zo_error, and the reason the
// system gives when one can be found.  For a DTD that cannot be loaded the
// text goes on to say which file was looked for and how to provide it.
std::string registry_problem(const zo_env_t &env, int code);

}  // namespace zorbel::diagnostics
