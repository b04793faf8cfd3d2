// Opening and reading a file only when it is a regular one, without
// blocking on a FIFO or a device, and reading at most a bounded size.
#pragma once

#include "zorbel/support/byte_transfer.h"
#include "zorbel/support/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace zorbel {

// The largest DTD or external entity a registry reader loads.
inline constexpr off_t max_entity_bytes = 1 << 20;

struct RegularFile {
    UniqueFd fd;
    struct stat st {};
    // 0, or why the file cannot be used: the errno of open or fstat,
    // EINVAL when it is not a regular file, EFBIG when larger than allowed.
    int error = 0;
};

// `path` opened read-only with `extra_flags` (O_NOFOLLOW, for one), checked
// with fstat to be a regular file of at most `max_bytes`.
inline RegularFile open_regular_file(const std::string &path, off_t max_bytes, int extra_flags = 0)
{
    RegularFile f;
    f.fd.reset(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | extra_flags));
    if (!f.fd || fstat(f.fd.get(), &f.st) != 0)
        f.error = errno;
    else if (!S_ISREG(f.st.st_mode))
        f.error = EINVAL;
    else if (f.st.st_size > max_bytes)
        f.error = EFBIG;
    if (f.error != 0)
        f.fd.reset();
    return f;
}

// The reason for an open_regular_file error, as the programs print it.
inline std::string regular_file_reason(int error, off_t max_bytes = max_entity_bytes)
{
    switch (error) {
    case ELOOP:
        return "a symbolic link";
    case EINVAL:
        return "not a regular file";
    case EFBIG:
        return "larger than " + std::to_string(max_bytes >> 20) + " MiB";
    default:
        return std::strerror(error);
    }
}

// The whole content of an open regular file (as fstat found its size).
inline std::string read_all(const RegularFile &f)
{
    std::string content(static_cast<size_t>(f.st.st_size), '\0');
    content.resize(transfer_all(content.size(), [&](size_t at) {
        return read(f.fd.get(), content.data() + at, content.size() - at);
    }));
    return content;
}

}  // namespace zorbel
