// Copies of the whole registry handed to the caller: as a document holding
// the root and its records, or as that document's UTF-8 text.
#include "c_boundary.h"
#include "registry_file.h"
#include "queries.h"
#include "registry_cache.h"

#include <libxml/dict.h>

#include <cstdlib>
#include <cstring>

namespace {

using namespace zorbel;

// An entity reference parsed from the registry points at its declaration
// in that file's document type (as children) and at the declaration's
// text (as content); both are freed with the parsed document.  The copy
// has no document type, so its references are left without a
// declaration, as a deep copy into it would leave them.
void detach_entity_references(xmlNode *node)
{
    for (; node != nullptr; node = node->next) {
        if (node->type == XML_ENTITY_REF_NODE) {
            node->children = nullptr;
            node->last = nullptr;
            node->content = nullptr;
        } else if (node->type == XML_ELEMENT_NODE) {
            detach_entity_references(node->children);
        }
    }
}

// A new document with a root "registry" carrying the registry's URN and
// version and, in document order, the record elements of the registry
// (read and validated once): no document type declaration and none of the
// text, comments or other nodes that lie between the records in the file.
int copy_registry(zo_env_t *env, xml::DocPtr &copy)
{
    RegistrySnapshot registry;
    if (const int rc = read_valid_registry(env, registry); rc != ZO_ERR_NO_ERROR)
        return rc;
    // A parse that only this call holds is taken apart; a kept one is copied.
    const bool own_parse = registry.use_count() == 1;
    xmlDoc *parsed = registry->doc.get();
    xml::DocPtr doc(xmlNewDoc(xml::xc("1.0")));
    if (!doc)
        return ZO_ERR_XML_NEW_DOC;
    // The copy shares the parsed document's dictionary, so the records can
    // move over whole instead of being duplicated node by node: the names
    // and texts they hold stay owned by a dictionary the copy keeps alive.
    if (own_parse && parsed->dict != nullptr) {
        doc->dict = parsed->dict;
        xmlDictReference(doc->dict);
    }
    xml::NodePtr root(xmlNewDocNode(doc.get(), nullptr, xml::xc("registry"), nullptr));
    if (!root || xmlNewProp(root.get(), xml::xc("urn"), xml::xc(env->registry_urn)) == nullptr ||
        xmlNewProp(root.get(), xml::xc("version"), xml::xc(env->registry_version)) == nullptr)
        return ZO_ERR_XML_NEW_NODE;
    xmlNode *new_root = root.release();
    xmlDocSetRootElement(doc.get(), new_root);

    for_each_record(parsed, [&](xmlNode *record) {
        if (!own_parse) {
            // Entity references in a deep copy into a document without a
            // document type are left without a declaration, as below.
            if (xmlNode *dup = xmlDocCopyNode(record, doc.get(), 1); dup != nullptr)
                xmlAddChild(new_root, dup);
            return;
        }
        xmlUnlinkNode(record);
        detach_entity_references(record->children);
        xmlAddChild(new_root, record);
    });
    copy = std::move(doc);
    return ZO_ERR_NO_ERROR;
}

}  // namespace

extern "C" int zo_get_registry_doc(xmlDocPtr *xml_doc, zo_env_t *env)
{
    return zorbel::c_entry([&]() -> int {
        if (!zo_is_initialized(env))
            return ZO_ERR_NOT_INIT;
        if (xml_doc == nullptr)
            return ZO_ERR_MISSING_FIELD;
        xml::DocPtr copy;
        const int rc = copy_registry(env, copy);
        if (rc == ZO_ERR_NO_ERROR)
            *xml_doc = copy.release();
        return rc;
    });
}

extern "C" int zo_get_registry_xml(char **xml_data, zo_env_t *env)
{
    return zorbel::c_entry([&]() -> int {
        if (xml_data != nullptr)
            *xml_data = nullptr;
        if (!zo_is_initialized(env))
            return ZO_ERR_NOT_INIT;
        if (xml_data == nullptr)
            return ZO_ERR_MISSING_FIELD;
        xml::DocPtr copy;
        if (const int rc = copy_registry(env, copy); rc != ZO_ERR_NO_ERROR)
            return rc;

        xmlChar *dump = nullptr;
        int size = 0;
        xmlDocDumpFormatMemoryEnc(copy.get(), &dump, &size, "UTF-8", 1);
        const xml::CharPtr owned(dump);
        if (dump == nullptr || size < 0)
            return ZO_ERR_NO_MEM;
        const size_t length = static_cast<size_t>(size);
        auto *text = static_cast<char *>(malloc(length + 1));
        if (text == nullptr)
            return ZO_ERR_NO_MEM;
        memcpy(text, dump, length);
        text[length] = '\0';
        *xml_data = text;
        return ZO_ERR_NO_ERROR;
    });
}

extern "C" void zo_free_xml(char *xml_data)
{
    free(xml_data);
}
