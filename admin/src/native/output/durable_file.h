// Replacing a file that other programs read while it is being written.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace zorbel::cli {

// The mode a replaced file gets, whatever the umask: readable by every
// user (a collector running under its own account reads it), writable by
// its owner.
inline constexpr mode_t replaced_file_mode = 0644;

// Puts `content` at `path` so that a reader finds either the old file or
// the whole new one, also after a crash or power loss: it is written to a
// new temporary file in the same directory (".NAME.XXXXXX"), flushed to
// the disk, renamed over `path`, and the directory is flushed too.  On any
// failure the temporary file is removed, `path` is left as it was, and
// Failure names `path` and the system's reason.
void replace_file_durably(const std::string &path, std::string_view content, mode_t mode = replaced_file_mode);

}  // namespace zorbel::cli
