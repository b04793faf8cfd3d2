#include "network/responder_answers.h"

#include "cli/cli_error.h"
#include "output/output_format.h"
#include "registry_problem.h"
#include "zorbel/support/record_field_table.h"
#include "zorbel/support/log_escape.h"
#include "zorbel/support/protocol.h"
#include "zorbel/support/xml_ptr.h"

#include <libxml/xmlerror.h>

#include <algorithm>
#include <climits>

namespace zorbel::cli {

namespace {

// Parses an answer: never from the network, with libxml2's own limits on
// sizes and depth, and without a document type declaration, so that no
// entity of the peer's making is ever expanded or loaded.
xml::DocPtr parse_answer(std::string_view body, std::string_view what)
{
    const std::string where = "garbled " + std::string(what);
    if (body.size() > INT_MAX)
        throw Failure(where + ": too large");
    if (body.find("<!DOCTYPE") != std::string_view::npos)
        throw Failure(where + ": it declares a document type");
    const xml::ParserCtxtPtr ctxt(xmlNewParserCtxt());
    if (!ctxt)
        throw Failure("out of memory");
    xml::DocPtr doc(xmlCtxtReadMemory(ctxt.get(), body.data(), static_cast<int>(body.size()), nullptr, nullptr,
                                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!doc || !xmlDocGetRootElement(doc.get())) {
        const xmlError *e = xmlCtxtGetLastError(ctxt.get());
        std::string message = e && e->message ? e->message : "no document";
        message.erase(message.find_last_not_of(" \n") + 1);
        throw Failure(diagnostics::object_message(where, escape_for_log(message),
                                                  e ? "line " + std::to_string(e->line) : ""));
    }
    if (doc->intSubset || doc->extSubset)
        throw Failure(where + ": it declares a document type");
    return doc;
}

const xmlNode *child_element(const xmlNode *parent, std::string_view name)
{
    for (const xmlNode *n = parent->children; n; n = n->next)
        if (xml::is_element(n, name))
            return n;
    return nullptr;
}

}  // namespace

std::vector<std::string> parse_record_list(std::string_view body)
{
    const auto doc = parse_answer(body, "record list");
    const xmlNode *root = xmlDocGetRootElement(doc.get());
    if (!xml::is_element(root, "zorbels"))
        throw Failure("garbled record list: no zorbels element");
    std::vector<std::string> urns;
    for (const xmlNode *n = root->children; n; n = n->next) {
        if (!xml::is_element(n, "link"))
            continue;
        const xml::CharPtr href(xmlGetProp(n, xml::xc("href")));
        const std::string_view target = xml::view(href.get());
        if (!target.starts_with(protocol::records_path))
            throw Failure("garbled record list: a link outside " + std::string(protocol::records_path));
        urns.emplace_back(target.substr(protocol::records_path.size()));
    }
    return urns;
}

std::vector<std::string> parse_record(std::string_view body)
{
    const auto doc = parse_answer(body, "record");
    const xmlNode *record = child_element(xmlDocGetRootElement(doc.get()), "zorbel");
    if (!record)
        throw Failure("garbled record: no zorbel element");
    std::vector<std::string> values(served_fields.size());
    for (std::size_t i = 0; i < served_fields.size(); ++i)
        if (const xmlNode *field = child_element(record, served_fields[i]->name))
            if (const auto text = xml::node_text(doc.get(), field))
                values[i] = xml::view(text.get());
    return values;
}

}  // namespace zorbel::cli
