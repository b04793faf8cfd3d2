// Owning pointers for libxml2 objects, so no path leaks or double-frees one.
#pragma once

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <libxml/xmlmemory.h>

#include <memory>
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
struct ValidCtxtDeleter {
    void operator()(xmlValidCtxt *c) const noexcept { xmlFreeValidCtxt(c); }
};
struct ParserCtxtDeleter {
    void operator()(xmlParserCtxt *c) const noexcept { xmlFreeParserCtxt(c); }
};

using DocPtr = std::unique_ptr<xmlDoc, DocDeleter>;
using NodePtr = std::unique_ptr<xmlNode, NodeDeleter>;
using CharPtr = std::unique_ptr<xmlChar, CharDeleter>;
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

// The text of a node's children with entities substituted; null when the
// node has no text at all.
inline CharPtr node_text(xmlDoc *doc, const xmlNode *n) noexcept
{
    return CharPtr(xmlNodeListGetString(doc, n->children, 1));
}

inline std::string_view view(const xmlChar *s) noexcept
{
    return s ? std::string_view(reinterpret_cast<const char *>(s)) : std::string_view();
}

}  // namespace zorbel::xml
