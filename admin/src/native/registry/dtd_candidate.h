// A DTD file offered for a registry (zorbel init --dtd, or the installed
// one): read safely, checked against the registry it is to serve, and only
// then installed beside it.
#pragma once

#include "zorbel/support/xml_ptr.h"

#include <string>

namespace zorbel::cli {

// Mode of the installed copy, whatever the source's.
inline constexpr unsigned dtd_copy_mode = 0644;

struct DtdCandidate {
    std::string source;  // the file it was read from
    std::string text;
    xml::DtdPtr dtd;
};

// Where a DTD comes from: a file the operator names is never reached
// through a symbolic link (it might lead to a file the operator may read
// but others may not); the installed one is the installation's own.
enum class DtdSource { named, installed };

// Reads `path`: a regular file of at most 1 MiB (the most a registry
// reader loads) that parses as a DTD.  Throws Failure naming the file and
// the reason otherwise.
DtdCandidate read_dtd_candidate(const std::string &path, DtdSource source);

// True when the registry text validates against the candidate.
bool registry_matches(const DtdCandidate &candidate, const std::string &registry_text);

// The registry below `root` as a new one starts out (no records).
std::string new_registry_text(const std::string &root);

// Puts the candidate's text at `target` (mode dtd_copy_mode): written to a
// temporary file beside it, synced, renamed over it and the directory
// synced; on failure nothing is left behind and `target` is as it was.
// Throws Failure naming `target` and the reason.
void install_dtd(const DtdCandidate &candidate, const std::string &target);

}  // namespace zorbel::cli
