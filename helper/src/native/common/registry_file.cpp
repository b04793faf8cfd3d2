// Reading and validating the registry file.
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

}  // namespace zorbel
