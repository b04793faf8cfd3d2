#include "registry_problem.h"

#include "zorbel/support/stdio_ptr.h"
#include "zorbel/support/unique_fd.h"
#include "zorbel/support/xml_ptr.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/catalog.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/uri.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

namespace zorbel::diagnostics {

namespace {

std::string system_reason(int err)
{
    return std::strerror(err);
}

// Opens `path` as a reader would, without blocking on a FIFO or device:
// 0 when it is a readable regular file, else an errno value.
int regular_file_error(const std::string &path)
{
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd)
        return errno;
    struct stat st{};
    return fstat(fd.get(), &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EINVAL;
}

// A "file://" URI from the catalog as a path.
std::string uri_to_path(const xmlChar *uri)
{
    std::string text = reinterpret_cast<const char *>(uri);
    if (!text.starts_with("file://"))
        return text;
    const std::unique_ptr<char, decltype(&free)> unescaped(
        xmlURIUnescapeString(text.c_str() + 7, 0, nullptr), &free);
    return unescaped ? unescaped.get() : text.substr(7);
}

// The document type's system identifier, from a parse that loads nothing.
std::optional<std::string> named_dtd(const std::string &registry_file)
{
    const xml::DocPtr doc(
        xmlReadFile(registry_file.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!doc || doc->intSubset == nullptr || doc->intSubset->SystemID == nullptr)
        return std::nullopt;
    return std::string(reinterpret_cast<const char *>(doc->intSubset->SystemID));
}

std::string with_reason(const std::string &object, int code, const std::string &reason)
{
    std::string text = object + ": " + zo_error(code);
    if (!reason.empty())
        text += " (" + reason + ")";
    return text;
}

std::optional<DtdProblem> problem_of(const std::string &named);

// Why a registry naming `dtd` does not validate.
std::string dtd_reason(const std::string &dtd)
{
    if (const auto problem = problem_of(dtd))
        return "its DTD " + problem->path + " cannot be loaded: " + problem->reason +
               "; copy zorbel.dtd there, or run 'zorbel init' (with --dtd FILE for a root other than /)";
    return "does not match its DTD " + dtd;
}

// The DTD a registry created below env's root names.  First use creates
// no registry that this DTD would not validate.
std::string new_registry_dtd(const zo_env_t &env)
{
    return std::string_view(env.root_dir) == "/" ? "/opt/quesk/zorbel/share/xml/dtd/zorbel.dtd"
                                                 : std::string(env.registry_path) + "/zorbel.dtd";
}

// The reason the registry file is not valid; when there is none, the
// reason first use did not create it.
std::string invalid_reason(const zo_env_t &env)
{
    const std::string registry_file = env.registry;
    struct stat st{};
    if (stat(registry_file.c_str(), &st) != 0)
        return errno == ENOENT ? dtd_reason(new_registry_dtd(env)) : system_reason(errno);
    if (st.st_size == 0)
        return "empty file";
    const auto dtd = named_dtd(registry_file);
    if (!dtd)
        return "not well-formed, or without a document type declaration";
    return dtd_reason(*dtd);
}

// Why the DTD named `named` cannot be loaded; nullopt when it loads.
std::optional<DtdProblem> problem_of(const std::string &named)
{
    // As the library loads it: the file the catalog maps the identifier to,
    // else the identifier itself.
    const xml::CharPtr resolved(
        xmlCatalogResolveSystem(reinterpret_cast<const xmlChar *>(named.c_str())));
    const std::string path = resolved ? uri_to_path(resolved.get()) : named;
    const int err = regular_file_error(path);
    if (err == 0)
        return std::nullopt;
    return DtdProblem{path, err == EINVAL ? "not a regular file" : system_reason(err)};
}

}  // namespace

std::optional<DtdProblem> dtd_problem(const std::string &registry_file)
{
    const auto named = named_dtd(registry_file);
    return named ? problem_of(*named) : std::nullopt;
}

std::string registry_problem(const zo_env_t &env, int code)
{
    const std::string dir = env.registry_path, file = env.registry;
    switch (code) {
    case ZO_ERR_MAX_LEN_EXCEEDED:
        return with_reason(env.root_dir, code, "path too long");
    case ZO_ERR_NO_DIR:
        if (const DirPtr d{opendir(dir.c_str())}) {
            const int err = regular_file_error(file);
            return with_reason(file, code, err == 0 ? "" : system_reason(err));
        }
        return with_reason(dir, code, system_reason(errno));
    case ZO_ERR_XML_INVALID_REG:
        return with_reason(file, code, invalid_reason(env));
    case ZO_ERR_XML_SAVE_REG:
        return with_reason(file, code, access(dir.c_str(), W_OK) == 0 ? "" : system_reason(errno));
    case ZO_ERR_FILE_ERR:
        return with_reason(file, code, access(file.c_str(), R_OK | W_OK) == 0 ? "" : system_reason(errno));
    default:
        return with_reason(file, code, "");
    }
}

}  // namespace zorbel::diagnostics
