#include "registry_save.h"

#include "internal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>

namespace zorbel {

namespace {

// Repeats `transfer(done)`, which moves bytes from offset `done` on and
// returns how many, until `size` bytes are through; `done` counts them,
// also when it fails part-way.
template <class Transfer>
bool transfer_all(size_t size, size_t &done, Transfer transfer)
{
    done = 0;
    while (done < size) {
        const ssize_t n = transfer(done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes `data` at the start of the file.
bool pwrite_all(int fd, std::string_view data, size_t &done)
{
    return transfer_all(data.size(), done, [&](size_t at) {
        return pwrite(fd, data.data() + at, data.size() - at, static_cast<off_t>(at));
    });
}

// The first `size` bytes of the file.
bool pread_all(int fd, std::string &out, size_t size)
{
    out.resize(size);
    size_t done = 0;
    return transfer_all(size, done, [&](size_t at) {
        return pread(fd, out.data() + at, size - at, static_cast<off_t>(at));
    });
}

// The fallback for a registry directory that refuses new files while the
// registry itself is writable.  Readers may see the file half-written;
// a failure puts the previous bytes back as far as they were overwritten.
int rewrite_in_place(int fd, std::string_view content)
{
    struct stat st {};
    std::string previous;
    if (fstat(fd, &st) != 0 || !pread_all(fd, previous, static_cast<size_t>(st.st_size)))
        return ZO_ERR_XML_SAVE_REG;

    size_t written = 0;
    bool truncated = false;
    if (pwrite_all(fd, content, written)) {
        truncated = content.size() < previous.size();
        if (ftruncate(fd, static_cast<off_t>(content.size())) == 0 && fsync(fd) == 0)
            return ZO_ERR_NO_ERROR;
    }
    const size_t damaged = truncated ? previous.size() : std::min(written, previous.size());
    size_t restored = 0;
    pwrite_all(fd, std::string_view(previous).substr(0, damaged), restored);
    if (ftruncate(fd, static_cast<off_t>(previous.size())) == 0)
        fsync(fd);
    return ZO_ERR_XML_SAVE_REG;
}

}  // namespace

int save_registry(const zo_env_t *env, int locked_fd, xmlDoc *doc)
{
    const std::string content = serialize_registry(doc);
    struct stat registry {};
    if (content.empty() || fstat(locked_fd, &registry) != 0)
        return ZO_ERR_XML_SAVE_REG;
    int error = 0;
    const int rc = install_registry(env, content, Install::replace, &registry, &error);
    // EACCES and EPERM come from a directory that refuses the temporary
    // file (or its rename); any other failure would hit the registry too.
    if (rc == ZO_ERR_XML_SAVE_REG && (error == EACCES || error == EPERM))
        return rewrite_in_place(locked_fd, content);
    return rc;
}

}  // namespace zorbel
