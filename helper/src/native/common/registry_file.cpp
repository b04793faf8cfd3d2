// Reading, validating and atomically writing the registry file.
#include "internal.h"

#include "strl.h"
#include "unique_fd.h"

#include <libxml/uri.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace zorbel {

namespace {

// Validity errors and warnings of the XML library go to standard error.
void validity_message(void *ctx, const char *msg, ...)
{
    va_list ap;
    va_start(ap, msg);
    vfprintf(static_cast<FILE *>(ctx), msg, ap);
    va_end(ap);
}

xml::DocPtr read_document(const zo_env_t *env, int fd)
{
    if (fd < 0)
        return xml::DocPtr(xmlReadFile(env->registry, nullptr, 0));
    if (lseek(fd, 0, SEEK_SET) != 0)
        return nullptr;
    return xml::DocPtr(xmlReadFd(fd, env->registry, nullptr, 0));
}

void copy_attribute(xmlNode *root, const char *name, std::span<char> field)
{
    const xml::CharPtr value(xmlGetProp(root, xml::xc(name)));
    copy_cut(field, xml::view(value.get()));
}

bool write_all(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// A temporary file that is removed unless it was put in place.
class TempFile {
public:
    explicit TempFile(std::string dir) : path_(std::move(dir) + "/.zorbel.xml.XXXXXX")
    {
        fd_.reset(mkostemp(path_.data(), O_CLOEXEC));  // mode 0600 from the start
        if (!fd_)
            path_.clear();
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    ~TempFile()
    {
        if (!path_.empty())
            unlink(path_.c_str());
    }
    int fd() const { return fd_.get(); }
    const std::string &path() const { return path_; }
    void placed() { path_.clear(); }  // renamed away: nothing left to remove

private:
    std::string path_;
    UniqueFd fd_;
};

void sync_directory(const char *dir)
{
    const UniqueFd d(open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (d)
        fsync(d.get());
}

// A new registry below a relative root names its DTD by a path relative to
// the working directory, as the registry path itself is.  The XML library
// resolves a relative identifier against the document's own location, which
// would look for the DTD in the wrong place; when nothing is there, the
// identifier is taken relative to the working directory instead, so such a
// registry stays readable.
void load_cwd_relative_dtd(xmlDoc *doc)
{
    const xmlDtd *subset = doc->intSubset;
    if (subset == nullptr || subset->SystemID == nullptr || doc->extSubset != nullptr)
        return;
    const char *system_id = reinterpret_cast<const char *>(subset->SystemID);
    if (system_id[0] == '/' || strchr(system_id, ':') != nullptr)
        return;
    const xml::CharPtr beside_doc(xmlBuildURI(subset->SystemID, doc->URL));
    if (beside_doc != nullptr && access(reinterpret_cast<const char *>(beside_doc.get()), F_OK) == 0)
        return;
    if (access(system_id, R_OK) != 0)
        return;
    doc->extSubset = xmlParseDTD(subset->ExternalID, subset->SystemID);
}

}  // namespace

int load_valid_registry(zo_env_t *env, xml::DocPtr &doc, int fd)
{
    doc.reset();
    xml::DocPtr parsed = read_document(env, fd);
    if (!parsed)
        return ZO_ERR_XML_INVALID_REG;
    const xml::ValidCtxtPtr ctxt(xmlNewValidCtxt());
    if (!ctxt)
        return ZO_ERR_XML_INVALID_REG;
    ctxt->error = validity_message;
    ctxt->warning = validity_message;
    ctxt->userData = stderr;
    load_cwd_relative_dtd(parsed.get());
    if (xmlValidateDocument(ctxt.get(), parsed.get()) != 1)
        return ZO_ERR_XML_INVALID_REG;
    xmlNode *root = xmlDocGetRootElement(parsed.get());
    if (root == nullptr)
        return ZO_ERR_XML_INVALID_REG;
    copy_attribute(root, "urn", env->registry_urn);
    copy_attribute(root, "version", env->registry_version);
    doc = std::move(parsed);
    return ZO_ERR_NO_ERROR;
}

int parse_registry(const zo_env_t *env, xml::DocPtr &doc, int fd)
{
    doc = read_document(env, fd);
    if (!doc)
        return ZO_ERR_XML_PARSE;
    if (xmlDocGetRootElement(doc.get()) == nullptr) {
        doc.reset();
        return ZO_ERR_XML_EMPTY_DOC;
    }
    return ZO_ERR_NO_ERROR;
}

std::string serialize_registry(xmlDoc *doc)
{
    xmlChar *mem = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc, &mem, &size, "UTF-8", 0);
    const xml::CharPtr owned(mem);
    if (mem == nullptr || size <= 0)
        return {};
    return std::string(reinterpret_cast<const char *>(mem), static_cast<size_t>(size));
}

int install_registry(const zo_env_t *env, std::string_view content, Install how, const struct stat *like,
                     int *errno_out)
{
    auto fail = [errno_out](int code) {
        if (errno_out != nullptr)
            *errno_out = errno;
        return code;
    };
    if (content.empty()) {
        errno = EINVAL;
        return fail(ZO_ERR_XML_SAVE_REG);
    }
    TempFile tmp(env->registry_path);
    if (tmp.fd() < 0)
        return fail(ZO_ERR_XML_SAVE_REG);
    if (!write_all(tmp.fd(), content) || fsync(tmp.fd()) != 0)
        return fail(ZO_ERR_XML_SAVE_REG);

    if (how == Install::create_new) {
        // A new registry is readable and writable by its owner only, whatever
        // the umask took away from the temporary file's mode.  A failure is
        // ignored: the file then keeps that owner-only mode less the umask.
        (void)fchmod(tmp.fd(), S_IRUSR | S_IWUSR);
        // link() refuses an existing name, so of two processes creating the
        // registry at once exactly one succeeds.
        if (link(tmp.path().c_str(), env->registry) != 0)
            return fail(errno == EEXIST ? ZO_ERR_DUP_REC : ZO_ERR_XML_SAVE_REG);
    } else {
        if (like != nullptr) {
            if (fchmod(tmp.fd(), like->st_mode & 07777) != 0)
                return fail(ZO_ERR_XML_SAVE_REG);
            // Only a privileged writer may hand the file back to its owner;
            // anyone else keeps the owner the registry already has anyway.
            if (fchown(tmp.fd(), like->st_uid, like->st_gid) != 0 && geteuid() == 0)
                return fail(ZO_ERR_XML_SAVE_REG);
        }
        if (rename(tmp.path().c_str(), env->registry) != 0)
            return fail(ZO_ERR_XML_SAVE_REG);
        tmp.placed();
    }
    sync_directory(env->registry_path);
    return ZO_ERR_NO_ERROR;
}

}  // namespace zorbel
