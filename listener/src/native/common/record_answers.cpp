// One record, and the list of every record's link.
#include "globals.h"
#include "reader_cache.h"
#include "registry_pieces.h"
#include "resources.h"
#include "response_parts.h"
#include "xml_escape.h"
#include "zorbel/support/fixed_text.h"
#include "zorbel/support/protocol.h"
#include "zorbel/support/record_field_table.h"
#include "zorbel/support/record_walk.h"
#include "zorbel/support/xml_ptr.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>

namespace zorbel::tavish {
namespace {

// What the text of an instance URN may gain from entity references: as much
// as the field holds, and a margin.  Literal text counts in full (it is in
// the file already); no registry can make the list grow by more.
constexpr size_t urn_expansion_limit = 256 + 64;

// Appends the text of `n` and its siblings, entity references expanded
// within `budget` bytes of entity text.
void append_text(xmlDoc *doc, const xmlNode *n, bool in_entity, size_t &budget, std::string &out)
{
    for (; n != nullptr; n = n->next) {
        if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
            std::string_view text = xml::view(n->content);
            if (in_entity) {
                text = text.substr(0, budget);
                budget -= text.size();
            }
            out += text;
        } else if (n->type == XML_ENTITY_REF_NODE && budget > 0) {
            if (const xmlEntity *ent = xmlGetDocEntity(doc, n->name))
                append_text(doc, ent->children, true, budget, out);
        }
    }
}

// The link lines of the list, one per instance URN of every record, in
// document order, each given to `line`.  Read from the validated parse
// itself, where entity references in a URN still have their declarations.
template <class Line>
void render_links(xmlDoc *doc, Line line)
{
    for_each_record(doc, [&](xmlNode *record) {
        for_each_instance_urn(record, [&](const xmlNode *urn) {
            if (urn->children == nullptr)
                return;  // an element without text yields no line
            std::string text;
            size_t budget = urn_expansion_limit;
            append_text(doc, urn->children, false, budget, text);
            line("  <link type=\"zorbel\" href=\"" + std::string(protocol::records_path) + encode_attribute(text) +
                 "\" />\n");
        });
    });
}

// The link lines as one piece, rendered once per parse (registry_pieces.h).
const Piece &links_of(const ValidRegistry &registry)
{
    static ParsePiece shared;
    return shared.of(registry, [&registry] {
        std::string text;
        render_links(registry.doc.get(), [&text](const std::string &line) { text += line; });
        return text;
    });
}

}  // namespace

Answer render_record(zo_env_t *zo_env, std::string_view request_line)
{
    zo_t record{};
    constexpr size_t urn_at = std::string_view("GET ").size() + protocol::records_path.size();
    std::string_view urn = request_line.substr(std::min(request_line.size(), urn_at));
    size_t end = 0;
    while (end < urn.size() && !std::isspace(static_cast<unsigned char>(urn[end])))
        ++end;
    copy_cut(record.instance_urn, urn.substr(0, end));
    zo_get(&record, zo_env);

    Answer a = xml_answer();
    add_response_open(a);
    a.add(" <zorbel>\n");
    for (const RecordField *field : served_fields) {
        const std::span<const char> value = field->of(record);
        a.add(element_line("  ", field->name, std::string_view(value.data(), value.size())));
    }
    a.add(" </zorbel>\n");
    add_response_close(a);
    return a;
}

Answer render_list(zo_env_t *zo_env)
{
    RegistrySnapshot registry;
    if (!read_registry_for_answer(zo_env, registry))
        return {};

    Answer a = xml_answer();
    a.add("<?xml-stylesheet type=\"text/xsl\"");
    a.add(" href=\"" + std::string(protocol::stylesheet_path) + "\"");
    a.add(" media=\"screen\"?>\n");
    a.add("<zorbels>\n");
    if (tavish_verbose >= 2) {
        // Every link line is its own piece, and so its own echo line.
        render_links(registry->doc.get(), [&a](const std::string &line) { a.add(line); });
    } else if (const Piece &links = links_of(*registry); !links->empty()) {
        a.add(links);
    }
    a.add("</zorbels>\n");
    return a;
}

}  // namespace zorbel::tavish

void handle_http_get_zorbel(int sockfd, zo_env_t *zo_env, const char *first_line)
{
    zorbel::tavish::send_answer(sockfd, zorbel::tavish::render_record(zo_env, first_line));
}

void handle_http_get_zorbel_list(int sockfd, zo_env_t *zo_env)
{
    zorbel::tavish::send_answer(sockfd, zorbel::tavish::render_list(zo_env));
}
