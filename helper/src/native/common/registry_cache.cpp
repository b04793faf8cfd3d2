// Keeping one validated parse of the registry between queries.
//
// A kept parse must never answer a query with data older than the last
// change completed before that query began.  Stat data alone cannot prove
// that: file time stamps advance with a coarse clock (or whole seconds),
// so two writes of the same size within one tick leave (dev, ino, size,
// mtime, ctime) unchanged.  A parse is therefore kept only when all of the
// following hold, and a kept parse is dropped at the first sign of change:
//
//  1. The registry's descriptor stays open while the parse is kept, so its
//     inode cannot be freed and reused for a new file with equal stat data.
//  2. Dev, inode, size, mtime and ctime of the registry and of the DTD that
//     validation loaded are the same before and after the read: nothing
//     changed them while they were read.
//  3. Every mtime and ctime is strictly older than CLOCK_REALTIME_COARSE
//     read before the registry was opened (the clock that stamps files),
//     by 2 seconds more when the stamps have no sub-second part, and that
//     clock did not step back during the fill.  A write in the same tick
//     as the read would otherwise leave a stamp that a later write in that
//     tick repeats.
//  4. An open-file-description lock probe (F_OFD_GETLK, which sees lockf
//     locks of every process, this one included) finds no writer's lock
//     just before and just after the read: a writer mid-change is not
//     cached from.
//  5. An inotify watch on the registry's and the DTD's directories (and on
//     the two files, for writes through another link) exists before the
//     read; any event from then on, overflow included, voids the parse.
//     This is what sees a change at all once the parse is kept: the event
//     is queued by the write itself, before the writer's call returns.
//     Without inotify, or on a network or FUSE file system (where changes
//     made elsewhere raise no event), nothing is kept.
//  6. A failed validation is never kept; zo_close drops the parse.
//
// Each query of a kept parse reads the inotify queue and compares the stat
// data of both paths again (which also notices a directory above them
// being replaced); then it answers from memory.
#include "registry_cache.h"

#include "registry_file.h"
#include "zorbel/support/dtd_resolver.h"
#include "zorbel/support/fixed_text.h"
#include "zorbel/support/unique_fd.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <optional>
#include <string_view>

namespace zorbel {
namespace {

// The five stat fields that tell a file's identity and content apart.
struct FileStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    timespec mtime{};
    timespec ctime{};

    static FileStamp of(const struct stat &st) { return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim}; }
    bool operator==(const FileStamp &o) const
    {
        return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
               ctime.tv_nsec == o.ctime.tv_nsec;
    }
};

bool stamp_path(const std::string &path, FileStamp &out)
{
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    out = FileStamp::of(st);
    return true;
}

timespec coarse_now()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME_COARSE, &t);
    return t;
}

bool earlier(const timespec &a, const timespec &b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// Rule 3 for one file.
bool settled_before(const FileStamp &s, timespec start)
{
    const bool whole_seconds = s.mtime.tv_nsec == 0 && s.ctime.tv_nsec == 0;
    if (whole_seconds)
        start.tv_sec -= 2;
    return earlier(s.mtime, start) && earlier(s.ctime, start);
}

// File systems whose files may change without a local inotify event.
bool changes_unseen(int fd)
{
    constexpr std::array<long, 11> remote{
        NFS_SUPER_MAGIC, SMB_SUPER_MAGIC, 0xFE534D42 /* smb2 */, 0xFF534D42 /* cifs */, 0x65735546 /* fuse */,
        0x00C36400 /* ceph */, AFS_SUPER_MAGIC, CODA_SUPER_MAGIC, V9FS_MAGIC, 0x7461636F /* ocfs2 */,
        0x01161970 /* gfs2 */};
    struct statfs fs {};
    if (fstatfs(fd, &fs) != 0)
        return true;
    for (const long magic : remote) {
        if (static_cast<long>(fs.f_type) == magic)
            return true;
    }
    return false;
}

bool changes_unseen(const std::string &path)
{
    const UniqueFd fd(open(path.c_str(), O_PATH | O_CLOEXEC));
    return !fd || changes_unseen(fd.get());
}

// Rule 4: true when some process holds a write lock on any part of the file.
bool writer_holds_lock(int fd)
{
    struct flock probe {};
    probe.l_type = F_RDLCK;  // conflicts with writers' locks only, not with readers'
    probe.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_GETLK, &probe) != 0)
        return true;
    return probe.l_type != F_UNLCK;
}

std::string directory_of(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The local file of the DTD the document uses, as the reader resolves it;
// "" for anything that is not a local path.
std::string dtd_file_of(xmlDoc *doc)
{
    // The external subset validation attached (named by the file it was
    // loaded from), else the document type declaration.
    const std::optional<std::string> path =
        doc->extSubset != nullptr
            ? dtd::entity_file(doc->extSubset->ExternalID, doc->extSubset->SystemID)
            : (doc->intSubset != nullptr
                   ? dtd::named_dtd_file(doc->intSubset->ExternalID, doc->intSubset->SystemID, doc->URL)
                   : std::nullopt);
    return path.value_or("");
}

// Rule 5: watches on the directories and the files themselves.
class ChangeWatch {
public:
    // A new watch set; false when inotify or any watch is unavailable.
    bool start(const std::array<std::string, 2> &files)
    {
        fd_.reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        if (!fd_)
            return false;
        constexpr uint32_t changes = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO |
                                     IN_CREATE | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF;
        for (const std::string &file : files) {
            if (inotify_add_watch(fd_.get(), directory_of(file).c_str(), changes | IN_ONLYDIR) < 0 ||
                inotify_add_watch(fd_.get(), file.c_str(), changes) < 0) {
                fd_.reset();
                return false;
            }
        }
        return true;
    }
    // True when no event (and no overflow) has been queued since start.
    bool quiet() const
    {
        if (!fd_)
            return false;
        alignas(inotify_event) char buf[4096];
        const ssize_t n = read(fd_.get(), buf, sizeof buf);
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    void stop() { fd_.reset(); }

private:
    UniqueFd fd_;
};

// What is kept for one environment.
struct Kept {
    const zo_env_t *env = nullptr;
    std::string registry;
    std::string dtd;
    RegistrySnapshot parse;
    UniqueFd fd;  // rule 1
    FileStamp registry_stamp;
    FileStamp dtd_stamp;
    ChangeWatch watch;

    void drop()
    {
        parse.reset();
        watch.stop();
        fd.reset();
    }
    bool current(const zo_env_t *e) const
    {
        FileStamp now_registry, now_dtd;
        return parse && env == e && registry == e->registry && watch.quiet() &&
               stamp_path(registry, now_registry) && now_registry == registry_stamp && stamp_path(dtd, now_dtd) &&
               now_dtd == dtd_stamp;
    }
};

std::mutex cache_mutex;
bool cache_enabled = false;
Kept kept;
// The DTD the last parse loaded: watched from before the next read on.
std::string expected_dtd;
std::atomic<std::uint64_t> generations{0};

void refresh_env(zo_env_t *env, const ValidRegistry &r)
{
    copy_cut(env->registry_urn, r.registry_urn);
    copy_cut(env->registry_version, r.registry_version);
}

RegistrySnapshot snapshot_of(xml::DocPtr doc, const zo_env_t *env)
{
    auto r = std::make_shared<ValidRegistry>();
    r->doc = std::move(doc);
    r->generation = ++generations;
    r->registry_urn = env->registry_urn;
    r->registry_version = env->registry_version;
    return r;
}

// One read of the registry; keeps it in `kept` when every rule holds.
// `retry` is set when only the DTD's watch was missing.
int fill(zo_env_t *env, RegistrySnapshot &out, bool &retry)
{
    retry = false;
    const std::string registry = env->registry;
    const std::string dtd = expected_dtd;
    ChangeWatch watch;
    bool keep = !dtd.empty() && watch.start({registry, dtd});

    const timespec start = coarse_now();
    UniqueFd fd(open(registry.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return ZO_ERR_XML_INVALID_REG;  // missing, unreadable, or not a file (a FIFO would block)
    const FileStamp registry_before = FileStamp::of(st);
    FileStamp dtd_before;
    keep = keep && !changes_unseen(fd.get()) && !changes_unseen(dtd) && !writer_holds_lock(fd.get()) &&
           stamp_path(dtd, dtd_before);

    xml::DocPtr doc;
    if (const int rc = load_valid_registry(env, doc, fd.get()); rc != ZO_ERR_NO_ERROR)
        return rc;  // rule 6
    out = snapshot_of(std::move(doc), env);

    const std::string loaded_dtd = dtd_file_of(out->doc.get());
    if (loaded_dtd != dtd) {
        expected_dtd = loaded_dtd;
        retry = !loaded_dtd.empty();
        return ZO_ERR_NO_ERROR;
    }
    if (!keep)
        return ZO_ERR_NO_ERROR;
    FileStamp registry_after, path_now, dtd_after;
    keep = fstat(fd.get(), &st) == 0 && (registry_after = FileStamp::of(st)) == registry_before &&
           stamp_path(registry, path_now) && path_now == registry_before && stamp_path(dtd, dtd_after) &&
           dtd_after == dtd_before && !writer_holds_lock(fd.get()) && !earlier(coarse_now(), start) &&
           settled_before(registry_before, start) && settled_before(dtd_before, start) && watch.quiet();
    if (!keep)
        return ZO_ERR_NO_ERROR;
    kept.env = env;
    kept.registry = registry;
    kept.dtd = dtd;
    kept.parse = out;
    kept.fd = std::move(fd);
    kept.registry_stamp = registry_before;
    kept.dtd_stamp = dtd_before;
    kept.watch = std::move(watch);
    return ZO_ERR_NO_ERROR;
}

}  // namespace

void set_registry_cache(bool enabled)
{
    const std::lock_guard guard(cache_mutex);
    cache_enabled = enabled;
    if (!enabled)
        kept.drop();
}

int read_valid_registry(zo_env_t *env, RegistrySnapshot &out)
{
    out.reset();
    const std::unique_lock guard(cache_mutex);
    if (!cache_enabled) {
        xml::DocPtr doc;
        const int rc = load_valid_registry(env, doc);
        if (rc == ZO_ERR_NO_ERROR)
            out = snapshot_of(std::move(doc), env);
        return rc;
    }
    if (kept.current(env)) {
        out = kept.parse;
        refresh_env(env, *out);
        return ZO_ERR_NO_ERROR;
    }
    kept.drop();
    bool retry = false;
    int rc = fill(env, out, retry);
    if (retry)
        rc = fill(env, out, retry);
    return rc;
}

void drop_registry_cache(const zo_env_t *env)
{
    const std::lock_guard guard(cache_mutex);
    if (kept.env == env)
        kept.drop();
}

}  // namespace zorbel
