#include "output/durable_file.h"

#include "cli/cli_error.h"
#include "network/inet.h"
#include "zorbel/support/byte_transfer.h"
#include "zorbel/support/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace zorbel::cli {

namespace {

// The temporary file, removed unless it has been renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string name_template) : name_(std::move(name_template))
    {
        fd_.reset(mkostemp(name_.data(), O_CLOEXEC));
        if (!fd_)
            name_.clear();
    }
    ~TemporaryFile()
    {
        if (!name_.empty())
            unlink(name_.c_str());
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    int fd() const { return fd_.get(); }
    bool made() const { return static_cast<bool>(fd_); }
    // Closes the file, reporting a delayed write error as close does.
    bool close() { return ::close(fd_.release()) == 0; }
    bool rename_to(const std::string &path)
    {
        if (::rename(name_.c_str(), path.c_str()) != 0)
            return false;
        name_.clear();
        return true;
    }

private:
    std::string name_;
    UniqueFd fd_;
};

[[noreturn]] void fail(const std::string &path)
{
    throw Failure(system_error(path));
}

}  // namespace

void replace_file_durably(const std::string &path, std::string_view content, mode_t mode)
{
    const std::filesystem::path target(path);
    const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : ".";
    if (!target.has_filename())
        throw Failure(path + ": not a file name");
    TemporaryFile temp((dir / ("." + target.filename().string() + ".XXXXXX")).string());
    if (!temp.made())
        fail(path);
    const auto write_rest = [&](std::size_t at) { return ::write(temp.fd(), content.data() + at, content.size() - at); };
    if (fchmod(temp.fd(), mode) != 0 || transfer_all(content.size(), write_rest) != content.size() ||
        fsync(temp.fd()) != 0 || !temp.close() || !temp.rename_to(path))
        fail(path);
    // The rename itself reaches the disk only with the directory.
    const UniqueFd dir_fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir_fd || fsync(dir_fd.get()) != 0)
        fail(dir.string());
}

}  // namespace zorbel::cli
