// What went wrong with a registry, for the messages of the programs: the
// file or directory concerned and the system's reason, found out after the
// library reported one of its codes.  Only the public API and libxml2 are
// used; the library's codes and texts are untouched.
#pragma once

#include "zorbel.h"

#include <optional>
#include <string>
#include <string_view>

namespace zorbel::diagnostics {

// A DTD that cannot be loaded.
struct DtdProblem {
    std::string path;    // the file looked for
    std::string reason;  // why it cannot be loaded ("No such file or directory")
};

// "OBJECT: TEXT (REASON)", or "OBJECT: TEXT" without a reason: the form of
// every message about a file, a record or a field.
std::string object_message(std::string_view object, std::string_view text, std::string_view reason);

// Why the DTD that a new registry below `root` would name cannot be loaded
// (resolved as every reader resolves it: the system XML catalog first,
// then the path; a local regular file of at most 1 MiB that parses as a
// DTD); nullopt when it loads.
std::optional<DtdProblem> new_registry_dtd_problem(std::string_view root);

// "its DTD FILE cannot be loaded: REASON; " and how to provide it.
std::string dtd_advice(const DtdProblem &problem);

// "OBJECT: MESSAGE (REASON)" for a registry-level failure `code` of an
// operation on `env` (after zo_initialize filled in its paths): the
// registry directory or file, the text of zo_error, and the reason the
// system gives when one can be found.  For a DTD that cannot be loaded the
// text goes on to say which file was looked for and how to provide it.
std::string registry_problem(const zo_env_t &env, int code);

}  // namespace zorbel::diagnostics
