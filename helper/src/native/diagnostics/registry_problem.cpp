#include "registry_problem.h"

#include "zorbel/support/dtd_parse.h"
#include "zorbel/support/dtd_resolver.h"
#include "zorbel/support/registry_layout.h"
#include "zorbel/support/regular_file.h"
#include "zorbel/support/stdio_ptr.h"
#include "zorbel/support/xml_ptr.h"

#include <sys/stat.h>
#include <unistd.h>

#include <libxml/parser.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <string_view>

namespace zorbel::diagnostics {

namespace {

// The document type of a registry file, from a parse that loads nothing.
xml::DocPtr read_declaration(const std::string &registry_file)
{
    xml::DocPtr doc(
        xmlReadFile(registry_file.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (doc && (doc->intSubset == nullptr || doc->intSubset->SystemID == nullptr))
        doc.reset();
    return doc;
}

std::string with_reason(const std::string &object, int code, const std::string &reason)
{
    return object_message(object, zo_error(code), reason);
}

std::optional<DtdProblem> problem_of(const std::string &named, const std::string &registry_file);

// Why a registry naming `named` does not validate.
std::string dtd_reason(const std::string &named, const std::string &registry_file)
{
    if (const auto problem = problem_of(named, registry_file))
        return dtd_advice(*problem);
    return "does not match its DTD " + named;
}

// The reason the registry file is not valid.
std::string invalid_reason(const zo_env_t &env)
{
    const std::string registry_file = env.registry;
    struct stat st{};
    if (stat(registry_file.c_str(), &st) != 0)
        return regular_file_reason(errno);
    if (st.st_size == 0)
        return "empty file";
    const xml::DocPtr doc = read_declaration(registry_file);
    if (!doc)
        return "not well-formed, or without a document type declaration";
    return dtd_reason(std::string(xml::view(doc->intSubset->SystemID)), registry_file);
}

// Why the DTD named `named` by the registry `registry_file` cannot be
// loaded, resolved as a reader resolves it; nullopt when it loads.
std::optional<DtdProblem> problem_of(const std::string &named, const std::string &registry_file)
{
    const std::optional<std::string> path =
        dtd::named_dtd_file(nullptr, xml::xc(named.c_str()), xml::xc(registry_file.c_str()));
    if (!path)
        return DtdProblem{named, "not a local file"};
    const RegularFile file = open_regular_file(*path, max_entity_bytes);
    if (file.error != 0)
        return DtdProblem{*path, regular_file_reason(file.error)};
    if (!xml::parse_dtd(read_all(file)))
        return DtdProblem{*path, "not a DTD"};
    return std::nullopt;
}

}  // namespace

std::string object_message(std::string_view object, std::string_view text, std::string_view reason)
{
    std::string message = std::string(object).append(": ").append(text);
    if (!reason.empty())
        message.append(" (").append(reason).append(")");
    return message;
}

std::string dtd_advice(const DtdProblem &problem)
{
    return "its DTD " + problem.path + " cannot be loaded: " + problem.reason +
           "; copy zorbel.dtd there, or run 'zorbel init' (with --dtd FILE for a root other than /)";
}

std::optional<DtdProblem> new_registry_dtd_problem(std::string_view root)
{
    return problem_of(layout::new_registry_dtd(root), layout::registry_file(root));
}

std::string registry_problem(const zo_env_t &env, int code)
{
    const std::string dir = env.registry_path, file = env.registry;
    switch (code) {
    case ZO_ERR_MAX_LEN_EXCEEDED:
        return with_reason(env.root_dir, code, "path too long");
    case ZO_ERR_NO_DIR:
        if (const DirPtr d{opendir(dir.c_str())}) {
            const int err = open_regular_file(file, std::numeric_limits<off_t>::max()).error;
            return with_reason(file, code, err == 0 ? "" : regular_file_reason(err));
        }
        return with_reason(dir, code, regular_file_reason(errno));
    case ZO_ERR_XML_INVALID_REG:
        return with_reason(file, code, invalid_reason(env));
    case ZO_ERR_XML_SAVE_REG:
        return with_reason(file, code, access(dir.c_str(), W_OK) == 0 ? "" : regular_file_reason(errno));
    case ZO_ERR_FILE_ERR:
        return with_reason(file, code, access(file.c_str(), R_OK | W_OK) == 0 ? "" : regular_file_reason(errno));
    default:
        return with_reason(file, code, "");
    }
}

}  // namespace zorbel::diagnostics
