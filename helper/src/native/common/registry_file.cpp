// Reading and validating the registry file.
#include "registry_file.h"
#include "xml_input.h"

#include "zorbel/support/fixed_text.h"
#include "zorbel/support/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace zorbel {

namespace {

// The registry read through `fd`, or when it is negative from the path; a
// FIFO or device put there must not stall the reader.
xml::DocPtr read_document(const zo_env_t *env, int fd)
{
    if (fd < 0) {
        const UniqueFd own(open(env->registry, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat st {};
        if (!own || fstat(own.get(), &st) != 0 || !S_ISREG(st.st_mode))
            return nullptr;
        return xml::DocPtr(xmlReadFd(own.get(), env->registry, nullptr, registry_parse_options));
    }
    if (lseek(fd, 0, SEEK_SET) != 0)
        return nullptr;
    return xml::DocPtr(xmlReadFd(fd, env->registry, nullptr, registry_parse_options));
}

// The attribute's value (entities replaced, as xmlGetProp gives it, but
// read no further than the field holds) cut into the field.
void copy_attribute(xmlDoc *doc, xmlNode *root, const char *name, std::span<char> field)
{
    const xmlAttr *attr = xmlHasProp(root, xml::xc(name));
    const xml::CharPtr value = attr ? xml::list_text(doc, attr->children, field.size()) : nullptr;
    copy_cut(field, xml::view(value.get()));
}

}  // namespace

bool validates_against_named_dtd(xmlDoc *doc)
{
    const XmlInputScope scope;
    const bool loaded = load_named_dtd(doc);
    scope.throw_if_out_of_memory();
    if (!loaded)
        return false;
    const xml::ValidCtxtPtr ctxt(xmlNewValidCtxt());
    const bool valid = ctxt && xmlValidateDocument(ctxt.get(), doc) == 1;
    scope.throw_if_out_of_memory();
    return valid;
}

int load_valid_registry(zo_env_t *env, xml::DocPtr &doc, int fd)
{
    doc.reset();
    const XmlInputScope scope;
    xml::DocPtr parsed = read_document(env, fd);
    scope.throw_if_out_of_memory();
    if (!parsed || !validates_against_named_dtd(parsed.get()))
        return ZO_ERR_XML_INVALID_REG;
    xmlNode *root = xmlDocGetRootElement(parsed.get());
    if (root == nullptr)
        return ZO_ERR_XML_INVALID_REG;
    copy_attribute(parsed.get(), root, "urn", env->registry_urn);
    copy_attribute(parsed.get(), root, "version", env->registry_version);
    doc = std::move(parsed);
    return ZO_ERR_NO_ERROR;
}

int parse_registry(const zo_env_t *env, xml::DocPtr &doc, int fd)
{
    const XmlInputScope scope;
    doc = read_document(env, fd);
    scope.throw_if_out_of_memory();
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
