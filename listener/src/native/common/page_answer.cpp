// The page at "/": the records of the kept parse as an HTML table.
#include "base64.h"
#include "page.h"
#include "page_style.h"
#include "reader_cache.h"
#include "registry_pieces.h"
#include "resources.h"
#include "xml_escape.h"
#include "zorbel/support/count_text.h"
#include "zorbel/support/record_field_table.h"
#include "zorbel/support/record_walk.h"

#include <array>
#include <string>

namespace zorbel::tavish {
namespace {

// The style's digest as the policy names it: base64 of the 32 bytes.
std::string style_hash_source()
{
    std::array<unsigned char, 32> digest{};
    for (std::size_t i = 0; i < digest.size(); ++i)
        digest[i] =
            static_cast<unsigned char>(std::stoi(std::string(page_style_sha256_hex.substr(2 * i, 2)), nullptr, 16));
    std::array<char, 48> text{};
    b64_ntop(digest.data(), digest.size(), text.data(), text.size());
    return "'sha256-" + std::string(text.data()) + "'";
}

// Everything up to and including the opening body tag.
std::string document_head(std::string_view title)
{
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\" />\n";
    out += "<meta http-equiv=\"Content-Security-Policy\" content=\"" + html_text(page_policy()) + "\" />\n";
    out += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\" />\n";
    out += "<title>" + html_text(title) + "</title>\n";
    out.append("<style>").append(page_style).append("</style>\n</head>\n<body>\n");
    return out;
}

// A field name that a narrow column breaks after its underscores first.
std::string breakable_name(std::string_view name)
{
    std::string out;
    for (const char c : name)
        out.append(1, c).append(c == '_' ? "<wbr />" : "");
    return out;
}

constexpr std::string_view document_tail = "</body>\n</html>\n";

// The page up to its first record's row.
std::string page_top(std::string_view registry_urn, std::size_t count)
{
    const std::string counted = count_of(count, "record", "records");
    std::string out = document_head(std::string(registry_urn) + " \u2014 " + counted);
    out += "<h1>" + html_text(counted) + " in registry " + html_text(registry_urn) + "</h1>\n";
    // Columns of fixed widths (by field name, in the style): a narrow
    // window wraps the values instead of clipping the table.
    out += "<table>\n<colgroup>";
    for (const RecordField *field : served_fields)
        out.append("<col class=\"").append(field->name).append("\" />");
    out += "</colgroup>\n<thead>\n<tr>";
    for (const RecordField *field : served_fields)
        out.append("<th scope=\"col\">").append(breakable_name(field->name)).append("</th>");
    return out + "</tr>\n</thead>\n<tbody>\n";
}

std::string_view text_of(std::span<const char> field)
{
    return {field.data(), field.size()};
}

void append_row(std::string &out, const zo_t &record)
{
    out += "<tr>";
    for (const RecordField *field : served_fields)
        out.append("<td>").append(html_text(text_of(field->of(record)))).append("</td>");
    out += "</tr>\n";
}

constexpr std::string_view table_end = "</tbody>\n</table>\n";

// The page's answer: status line, headers and the body as a piece of its
// own or one shared with other answers.
Answer page_answer(std::string_view status, Piece body)
{
    Answer a;
    a.add("HTTP/1.0 " + std::string(status) + "\r\n");
    a.add("Content-type: text/html; charset=utf-8\r\n");
    // Framing is refused as well, which only a header can say.
    a.add("Content-Security-Policy: " + page_policy() + "; frame-ancestors 'none'\r\n");
    a.add("Connection: Close\r\n");
    a.add("\r\n");
    a.add(std::move(body));
    return a;
}

}  // namespace

const std::string &page_policy()
{
    static const std::string policy =
        "default-src 'none'; style-src " + style_hash_source() + "; base-uri 'none'; form-action 'none'";
    return policy;
}

std::string render_page_html(std::string_view registry_urn, std::span<const zo_t> records)
{
    std::string out = page_top(registry_urn, records.size());
    for (const zo_t &record : records)
        append_row(out, record);
    return out.append(table_end).append(document_tail);
}

std::string render_unreadable_page_html()
{
    std::string out = document_head("Registry not readable");
    out += "<h1>Registry not readable</h1>\n<p>The registry of this host could not be read, so its records "
           "cannot be shown.  The responder's log (at verbosity 1) says why.</p>\n";
    return out.append(document_tail);
}

Answer render_page(zo_env_t *zo_env)
{
    RegistrySnapshot registry;
    if (!read_registry_for_answer(zo_env, registry)) {
        static const Piece unreadable = std::make_shared<const std::string>(render_unreadable_page_html());
        return page_answer("503 Service Unavailable", unreadable);
    }
    static ParsePiece shared;
    return page_answer("200 OK", shared.of(*registry, [&registry] {
        // Row by row: one record read at a time, however many there are.
        xmlDoc *doc = registry->doc.get();
        std::size_t count = 0;
        for_each_record(doc, [&count](xmlNode *) { ++count; });
        std::string out = page_top(registry->registry_urn, count);
        for_each_record(doc, [&](xmlNode *record) { append_row(out, served_record(doc, record)); });
        return out.append(table_end).append(document_tail);
    }));
}

}  // namespace zorbel::tavish
