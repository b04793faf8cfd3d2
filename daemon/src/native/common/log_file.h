// The log file that -l makes standard error.
#pragma once

namespace zorbel::daemon {

enum class LogOpen { append, exclusive };

// Opens `path` for appending, created with mode 0666 less the umask when
// missing (or, with `exclusive`, only when missing).  A symbolic link or
// anything but a regular file is refused: whoever may write the log's
// directory must not make a root daemon write to another file or block on a
// device.  Returns the descriptor (close-on-exec) or -1.
int open_log_file(const char *path, LogOpen how);

}  // namespace zorbel::daemon
