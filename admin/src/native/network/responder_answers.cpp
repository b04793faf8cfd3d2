#include "network/responder_answers.h"

#include "network/http_query.h"

#include "cli/cli_error.h"
#include "output/output_format.h"
#include "registry_problem.h"
#include "zorbel/support/record_field_table.h"
#include "zorbel/support/log_escape.h"
#include "zorbel/support/protocol.h"
#include "zorbel/support/xml_ptr.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <climits>
#include <optional>

namespace zorbel::cli {

namespace {

// "WHERE: <the parser's last error> (line N)", or "WHERE: no document".
std::string parse_error(xmlParserCtxt *ctxt, std::string_view where)
{
    const xmlError *e = xmlCtxtGetLastError(ctxt);
    std::string message = e && e->message ? e->message : "no document";
    message.erase(message.find_last_not_of(" \n") + 1);
    return diagnostics::object_message(where, escape_for_log(message), e ? "line " + std::to_string(e->line) : "");
}

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
    if (!doc || !xmlDocGetRootElement(doc.get()))
        throw Failure(parse_error(ctxt.get(), where));
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

struct RecordListReader::State {
    std::function<void(std::string)> on_urn;
    xml::ParserCtxtPtr ctxt;
    int depth = 0;
    bool root_seen = false;
    std::optional<std::string> error;  // the first fault, which stops the parser

    void fail(std::string message)
    {
        if (!error)
            error = std::move(message);
        xmlStopParser(ctxt.get());
    }

    void start(std::string_view name, int attribute_count, const xmlChar **attributes)
    {
        ++depth;
        if (depth == 1) {
            root_seen = true;
            if (name != "zorbels")
                fail("garbled record list: no zorbels element");
            return;
        }
        if (depth != 2 || name != "link")
            return;
        // Five pointers an attribute: local name, prefix, URI, value, value end.
        for (int i = 0; i < attribute_count; ++i) {
            const xmlChar **a = attributes + 5 * i;
            if (xml::view(a[0]) != "href" || a[1] != nullptr)
                continue;
            const std::string_view target(reinterpret_cast<const char *>(a[3]), static_cast<std::size_t>(a[4] - a[3]));
            if (!target.starts_with(protocol::records_path))
                return fail("garbled record list: a link outside " + std::string(protocol::records_path));
            on_urn(std::string(target.substr(protocol::records_path.size())));
            return;
        }
        fail("garbled record list: a link outside " + std::string(protocol::records_path));
    }
};

namespace {

RecordListReader::State &state_of(void *ctx)
{
    return *static_cast<RecordListReader::State *>(ctx);
}

}  // namespace

RecordListReader::RecordListReader(std::function<void(std::string urn)> on_urn) : state_(std::make_unique<State>())
{
    state_->on_urn = std::move(on_urn);
    xmlSAXHandler sax{};
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = [](void *ctx, const xmlChar *name, const xmlChar *, const xmlChar *, int, const xmlChar **,
                            int attribute_count, int, const xmlChar **attributes) {
        try {
            state_of(ctx).start(xml::view(name), attribute_count, attributes);
        } catch (const std::exception &e) {  // no exception may cross the parser
            state_of(ctx).fail(e.what());
        }
    };
    sax.endElementNs = [](void *ctx, const xmlChar *, const xmlChar *, const xmlChar *) { --state_of(ctx).depth; };
    // No document type: no entity of the peer's making is ever declared.
    sax.internalSubset = [](void *ctx, const xmlChar *, const xmlChar *, const xmlChar *) {
        state_of(ctx).fail("garbled record list: it declares a document type");
    };
    state_->ctxt.reset(xmlCreatePushParserCtxt(&sax, state_.get(), nullptr, 0, nullptr));
    if (!state_->ctxt)
        throw Failure("out of memory");
    // With no document type there are only the predefined entities and
    // character references, which NOENT resolves in attribute values
    // (without it, "&amp;" reaches the handler as "&#38;").
    xmlCtxtUseOptions(state_->ctxt.get(),
                      XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
}

RecordListReader::~RecordListReader() = default;

void RecordListReader::take(std::string_view piece)
{
    State &s = *state_;
    xmlParserCtxt *ctxt = s.ctxt.get();
    for (; !piece.empty() && !s.error; piece.remove_prefix(std::min<std::size_t>(piece.size(), 65536))) {
        const auto size = static_cast<int>(std::min<std::size_t>(piece.size(), 65536));
        if (xmlParseChunk(ctxt, piece.data(), size, 0) != 0 && !s.error)
            s.error = parse_error(ctxt, "garbled record list");
        // The parser holds what it has not consumed yet, and every name it
        // has seen: neither may grow with a hostile list.
        if (ctxt->input && ctxt->input->end - ctxt->input->cur > static_cast<std::ptrdiff_t>(max_markup_bytes))
            s.fail("garbled record list: markup longer than " + size_text(max_markup_bytes));
        if (ctxt->dict && xmlDictSize(ctxt->dict) > max_names)
            s.fail("garbled record list: more than " + std::to_string(max_names) + " names");
    }
    if (s.error)
        throw Failure(*s.error);
}

void RecordListReader::finish()
{
    State &s = *state_;
    if (!s.error && xmlParseChunk(s.ctxt.get(), nullptr, 0, 1) != 0 && !s.error)
        s.error = parse_error(s.ctxt.get(), "garbled record list");
    if (!s.error && !s.root_seen)
        s.error = "garbled record list: no document";
    if (s.error)
        throw Failure(*s.error);
}

std::vector<std::string> parse_record_list(std::string_view body)
{
    std::vector<std::string> urns;
    RecordListReader reader([&](std::string urn) { urns.push_back(std::move(urn)); });
    reader.take(body);
    reader.finish();
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
