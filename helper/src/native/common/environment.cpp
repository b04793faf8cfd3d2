// The registry environment: where the registry lies, creating it on first
// use, validating it, and the registry's identity.
#include "c_boundary.h"
#include "environment.h"
#include "registry_file.h"
#include "registry_cache.h"
#include "registry_write.h"

#include "strl.h"
#include "zorbel/support/registry_layout.h"
#include "zorbel/support/stdio_ptr.h"
#include "zorbel/support/unique_fd.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

namespace {


// The URN of the most recent successful initialisation in this process.
char process_registry_urn[sizeof(zo_env_t::registry_urn)];

// The environments open in this process, and the zo_initialize calls under
// way, guarded by xml_users_mutex.  zo_close releases the XML library's
// global state only when the last of them ends: released while another
// thread reads a registry, it would free what that read is using.
std::mutex xml_users_mutex;
int xml_users = 0;

// One count for the duration of a zo_initialize, kept for the environment
// when it succeeds.  A failed zo_initialize gives its count back without
// releasing anything, as it never did.
class XmlUse {
public:
    // The first user sets the XML library up here, under the lock, rather
    // than letting the first parse of each thread race to do it.
    XmlUse()
    {
        const std::lock_guard lock(xml_users_mutex);
        if (xml_users++ == 0)
            xmlInitParser();
    }
    ~XmlUse()
    {
        if (kept_)
            return;
        const std::lock_guard lock(xml_users_mutex);
        if (xml_users > 0)
            --xml_users;
    }
    XmlUse(const XmlUse &) = delete;
    XmlUse &operator=(const XmlUse &) = delete;
    void keep() { kept_ = true; }

    // Ends the count of an environment that closes; the last one out
    // releases the XML library's state.  (A copy of an open environment
    // closed as well finds none left.)
    static void release()
    {
        const std::lock_guard lock(xml_users_mutex);
        if (xml_users > 0 && --xml_users == 0)
            xmlCleanupParser();
    }

private:
    bool kept_ = false;
};

int fail(zo_env_t *env, int code)
{
    env->initialized_flag = ZO_NOT_INITIALIZED;
    return code;
}

// The registry directory and file below env's root; false when the
// directory's path does not fit (the file's is cut to fit, and then names
// no file that opens).
bool compose_registry_paths(zo_env_t *env)
{
    const std::string dir = zorbel::layout::registry_dir(env->root_dir);
    if (dir.size() >= sizeof env->registry_path)
        return false;
    strlcpy(env->registry_path, dir.c_str(), sizeof env->registry_path);
    strlcpy(env->registry, zorbel::layout::registry_file(env->root_dir).c_str(), sizeof env->registry);
    return true;
}

bool directory_opens(const char *path)
{
    const zorbel::DirPtr dir(opendir(path));
    return dir != nullptr;
}

// The new registry: declaration, document type naming the DTD, and an
// empty root carrying a fresh URN and the format version.
int build_new_registry(zo_env_t *env, zorbel::xml::DocPtr &doc)
{
    using zorbel::xml::xc;
    doc.reset(xmlNewDoc(xc("1.0")));
    if (!doc)
        return ZO_ERR_XML_NEW_DOC;
    zorbel::xml::NodePtr root(xmlNewNode(nullptr, xc("registry")));
    if (!root)
        return ZO_ERR_XML_NEW_NODE;
    if (const int rc = generate_urn(env->registry_urn, "zo"); rc != ZO_ERR_NO_ERROR)
        return rc;
    strlcpy(env->registry_version, std::string(zorbel::layout::format_version).c_str(), sizeof env->registry_version);
    if (xmlNewProp(root.get(), xc("urn"), xc(env->registry_urn)) == nullptr ||
        xmlNewProp(root.get(), xc("version"), xc(env->registry_version)) == nullptr)
        return ZO_ERR_XML_NEW_NODE;
    xmlDocSetRootElement(doc.get(), root.release());

    const std::string dtd = zorbel::layout::new_registry_dtd(env->root_dir);
    if (xmlCreateIntSubset(doc.get(), xc("registry"), nullptr, xc(dtd.c_str())) == nullptr)
        return ZO_ERR_XML_CREATE_SUB;
    return ZO_ERR_NO_ERROR;
}

// Creates the registry unless another process got there first, in which
// case that registry is validated and used.  The new registry itself is
// written as built, without validation: whether the DTD it names can be
// loaded is the caller's concern (the zorbel command checks it first).
int create_registry(zo_env_t *env)
{
    zorbel::xml::DocPtr doc;
    if (const int rc = build_new_registry(env, doc); rc != ZO_ERR_NO_ERROR)
        return rc;
    const std::string content = zorbel::serialize_registry(doc.get());
    const int rc = zorbel::install_registry(env, content, zorbel::Install::create_new);
    if (rc == ZO_ERR_DUP_REC)
        return zorbel::is_reg_valid(env) ? ZO_ERR_NO_ERROR : ZO_ERR_XML_INVALID_REG;
    return rc;
}

// An existing registry is only ever read here, never replaced.  `fd` is
// open on it for reading (and writing, when the caller may); the file is
// parsed through it, so what is validated is the file that was opened.
// Anything but a regular file (a directory, a FIFO that would block the
// reader) is not a registry.
int check_existing_registry(zo_env_t *env, int fd)
{
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return ZO_ERR_XML_INVALID_REG;
    zorbel::xml::DocPtr doc;
    return zorbel::load_valid_registry(env, doc, fd);
}

// Uses the registry that exists, or creates it when none does.
// A registry that cannot be opened for writing is still used when it can be
// read; one that cannot be read at all is reported as unopenable.
int open_or_create_registry(zo_env_t *env)
{
    constexpr int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    zorbel::UniqueFd fd(open(env->registry, O_RDWR | flags));
    if (!fd && errno == ENOENT)
        return create_registry(env);
    if (!fd)
        fd.reset(open(env->registry, O_RDONLY | flags));
    if (!fd)
        return ZO_ERR_NO_DIR;
    return check_existing_registry(env, fd.get());
}

}  // namespace

int zorbel::is_reg_valid(zo_env_t *env)
{
    zorbel::xml::DocPtr doc;
    return zorbel::load_valid_registry(env, doc) == ZO_ERR_NO_ERROR ? 1 : 0;
}

extern "C" int zo_initialize(const char *root_dir, zo_env_t *env)
{
    return zorbel::c_entry([&]() -> int {
        if (env == nullptr)
            return ZO_ERR_MISSING_FIELD;
        if (zo_is_initialized(env))
            return ZO_ERR_ALREADY_INIT;
        XmlUse use;
        process_registry_urn[0] = '\0';
        env->initialized_flag = ZO_NOT_INITIALIZED;
        xmlCheckVersion(20701);

        const char *root = (root_dir == nullptr || root_dir[0] == '\0') ? "/" : root_dir;
        if (strlcpy(env->root_dir, root, sizeof env->root_dir) >= sizeof env->root_dir)
            return fail(env, ZO_ERR_MAX_LEN_EXCEEDED);
        if (!compose_registry_paths(env))
            return fail(env, ZO_ERR_MAX_LEN_EXCEEDED);
        if (!directory_opens(env->registry_path))
            return fail(env, ZO_ERR_NO_DIR);

        if (const int rc = open_or_create_registry(env); rc != ZO_ERR_NO_ERROR)
            return fail(env, rc);

        strlcpy(process_registry_urn, env->registry_urn, sizeof process_registry_urn);
        env->initialized_flag = ZO_INITIALIZED;
        use.keep();
        return ZO_ERR_NO_ERROR;
    });
}

extern "C" void zo_close(zo_env_t *env)
{
    zorbel::c_entry_void([&] {
        if (!zo_is_initialized(env))
            return;
        env->initialized_flag = ZO_NOT_INITIALIZED;
        zorbel::drop_registry_cache(env);
        XmlUse::release();
    });
}

extern "C" int zo_is_initialized(const zo_env_t *env)
{
    return env != nullptr && env->initialized_flag == ZO_INITIALIZED ? 1 : 0;
}

extern "C" const char *zo_get_registry_urn(void)
{
    return process_registry_urn;
}
