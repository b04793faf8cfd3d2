// Owning pointers for libxml2 objects, so no path leaks or double-frees one.
#pragma once

#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <libxml/xmlmemory.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace zorbel::xml {

struct DocDeleter {
    void operator()(xmlDoc *d) const noexcept { xmlFreeDoc(d); }
};
struct NodeDeleter {
    void operator()(xmlNode *n) const noexcept { xmlFreeNode(n); }
};
struct CharDeleter {
    void operator()(xmlChar *s) const noexcept { xmlFree(s); }
};
struct DtdDeleter {
    void operator()(xmlDtd *d) const noexcept { xmlFreeDtd(d); }
};
struct ValidCtxtDeleter {
    void operator()(xmlValidCtxt *c) const noexcept { xmlFreeValidCtxt(c); }
};
struct ParserCtxtDeleter {
    void operator()(xmlParserCtxt *c) const noexcept { xmlFreeParserCtxt(c); }
};

using DocPtr = std::unique_ptr<xmlDoc, DocDeleter>;
using NodePtr = std::unique_ptr<xmlNode, NodeDeleter>;
using CharPtr = std::unique_ptr<xmlChar, CharDeleter>;
using DtdPtr = std::unique_ptr<xmlDtd, DtdDeleter>;
using ValidCtxtPtr = std::unique_ptr<xmlValidCtxt, ValidCtxtDeleter>;
using ParserCtxtPtr = std::unique_ptr<xmlParserCtxt, ParserCtxtDeleter>;

inline const xmlChar *xc(const char *s) noexcept
{
    return reinterpret_cast<const xmlChar *>(s);
}

// Name test for element nodes.
inline bool is_element(const xmlNode *n, std::string_view name) noexcept
{
    return n != nullptr && n->type == XML_ELEMENT_NODE && n->name != nullptr &&
           std::string_view(reinterpret_cast<const char *>(n->name)) == name;
}

// The text of a list of sibling nodes as xmlNodeListGetString(doc, list, 1)
// gives it (text and CDATA content, entity references replaced by their
// text, other nodes skipped), but cut to `limit` bytes and built from a
// bounded number of nodes: a registry whose entities expand a short file
// into gigabytes costs no more than the limit.  Null when the list holds
// no text at all.
inline CharPtr list_text(xmlDoc *doc, const xmlNode *list, size_t limit)
{
    struct Gather {
        xmlDoc *doc;
        size_t limit;
        size_t nodes_left;
        std::string text;
        bool any = false;

        void append(const xmlChar *content)
        {
            any = true;
            if (content != nullptr) {
                const char *c = reinterpret_cast<const char *>(content);
                text.append(c, strnlen(c, limit - text.size()));
            }
        }
        void walk(const xmlNode *n, int depth)
        {
            for (; n != nullptr && text.size() < limit && nodes_left > 0; n = n->next, --nodes_left) {
                if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
                    append(n->content);
                } else if (n->type == XML_ENTITY_REF_NODE) {
                    if (const xmlEntity *e = xmlGetDocEntity(doc, n->name); e == nullptr)
                        append(n->content);
                    else if (depth < 40)  // as deep as the parser lets entities nest
                        walk(e->children, depth + 1);
                }
            }
        }
    } gather{doc, limit, 64 * limit + 4096, {}};
    gather.walk(list, 0);
    if (!gather.any)
        return nullptr;
    return CharPtr(xmlStrndup(reinterpret_cast<const xmlChar *>(gather.text.data()), static_cast<int>(gather.text.size())));
}

// Enough for the widest text a record or registry field holds.
inline constexpr size_t default_text_limit = 4096;

// The text of a node's children with entities substituted, at most
// `limit` bytes (see list_text); null when the node has no text at all.
inline CharPtr node_text(xmlDoc *doc, const xmlNode *n, size_t limit = default_text_limit)
{
    return list_text(doc, n->children, limit);
}

inline std::string_view view(const xmlChar *s) noexcept
{
    return s ? std::string_view(reinterpret_cast<const char *>(s)) : std::string_view();
}

}  // namespace zorbel::xml
