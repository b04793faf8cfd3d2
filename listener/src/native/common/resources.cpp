#include "resources.h"

#include "globals.h"
#include "reader_cache.h"
#include "socket_io.h"
#include "xml_chars.h"
#include "zorbel/support/fixed_text.h"
#include "zorbel/support/log_escape.h"
#include "zorbel/support/record_walk.h"
#include "zorbel/support/xml_ptr.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

constexpr int max_encode_len = 4096;
constexpr int HEAD = 0;  // sock_printf flag: status line and headers
constexpr int BODY = 1;  // sock_printf flag: the XML body

constexpr std::string_view zorbel_prefix = "GET /zov1/zorbel/";

void send_common_head(int sockfd)
{
    sock_printf(sockfd, HEAD, "HTTP/1.0 200 OK\r\n");
    sock_printf(sockfd, HEAD, "Content-type: text/xml;charset=UTF-8\r\n");
    sock_printf(sockfd, HEAD, "Connection: Close\r\n");
    sock_printf(sockfd, HEAD, "\r\n");
    sock_printf(sockfd, BODY, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
}

void send_response_open(int sockfd)
{
    sock_printf(sockfd, BODY, "<zo1:response xmlns:zo1=\"%s\">\n", RESPONSE_NAMESPACE);
}

void send_response_close(int sockfd)
{
    sock_printf(sockfd, BODY, "</zo1:response>\n");
}

// Sends `format` (holding one %s) with `value` escaped for element content,
// bytes that XML cannot carry replaced.
void send_escaped(int sockfd, const char *format, const char *value)
{
    char encoded[max_encode_len];
    encode_chars(zorbel::tavish::xml_chars(value).c_str(), encoded, max_encode_len);
    sock_printf(sockfd, BODY, format, encoded);
}

struct Route {
    std::string_view prefix;
    const char *trace;
    void (*handler)(int sockfd, zo_env_t *zo_env, const char *line);
};

const std::array<Route, 5> routes{{
    {"GET /zov1/agent/version/ HTTP/", "GET agent version\n",
     [](int fd, zo_env_t *, const char *) { handle_http_get_agent_version(fd); }},
    {"GET /zov1/agent/ HTTP/", "GET agent\n", [](int fd, zo_env_t *, const char *) { handle_http_get_agent(fd); }},
    {"GET /zov1/zorbel/urn:zo:", "GET zorbel\n",
     [](int fd, zo_env_t *env, const char *line) { handle_http_get_zorbel(fd, env, line); }},
    {"GET /zov1/zorbel/ HTTP/", "GET zorbel list\n",
     [](int fd, zo_env_t *env, const char *) { handle_http_get_zorbel_list(fd, env); }},
    {"GET /zov1/zo_list.xsl HTTP/", "GET zo_list.xsl\n",
     [](int fd, zo_env_t *, const char *) { handle_http_get_zorbel_list_xsl(fd); }},
}};

// The route of a request line (after its trace lines), or null.
const Route *route_for(const char *buf)
{
    const std::string_view line(buf);
    if (tavish_verbose >= 2)
        fprintf(stderr, "got TCP msg: %s\n", zorbel::escape_for_log(line).c_str());
    for (const Route &route : routes) {
        if (!line.starts_with(route.prefix))
            continue;
        if (tavish_verbose >= 1)
            fputs(route.trace, stderr);
        return &route;
    }
    return nullptr;
}

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
            std::string_view text = zorbel::xml::view(n->content);
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
    zorbel::for_each_record(doc, [&](xmlNode *record) {
        zorbel::for_each_instance_urn(record, [&](const xmlNode *urn) {
            if (urn->children == nullptr)
                return;  // an element without text yields no line
            std::string text;
            size_t budget = urn_expansion_limit;
            append_text(doc, urn->children, false, budget, text);
            line("  <link type=\"zorbel\" href=\"/zov1/zorbel/" + zorbel::tavish::encode_attribute(text) + "\" />\n");
        });
    });
}

// The link lines rendered once per parse: while the registry is not read
// again, every list request sends the same bytes.
struct RenderedLinks {
    std::uint64_t generation = 0;
    std::string text;
};
RenderedLinks rendered_links;

}  // namespace

void handle_request(int sockfd, zo_env_t *zo_env, const char *buf)
{
    if (const Route *route = route_for(buf)) {
        zorbel::tavish::ResponseBatch batch(sockfd);
        route->handler(sockfd, zo_env, buf);
    }
}

namespace zorbel::tavish {

std::string answer_request(int sockfd, zo_env_t *zo_env, const char *line)
{
    std::string answer;
    if (const Route *route = route_for(line)) {
        ResponseBatch batch(sockfd, &answer);
        route->handler(sockfd, zo_env, line);
    }
    return answer;
}

}  // namespace zorbel::tavish

void handle_http_get_agent_version(int sockfd)
{
    send_common_head(sockfd);
    send_response_open(sockfd);
    send_escaped(sockfd, " <agent_version>%s</agent_version>\n", tavish_version);
    send_response_close(sockfd);
}

void handle_http_get_agent(int sockfd)
{
    char agent_xml[AGENT_XML_LEN];
    get_agent_xml(agent_xml);
    send_common_head(sockfd);
    send_response_open(sockfd);
    sock_printf(sockfd, BODY, "%s\n", agent_xml);
    send_response_close(sockfd);
}

void handle_http_get_zorbel(int sockfd, zo_env_t *zo_env, const char *first_line)
{
    zo_t record{};
    std::string_view urn = std::string_view(first_line).substr(zorbel_prefix.size());
    size_t end = 0;
    while (end < urn.size() && !std::isspace(static_cast<unsigned char>(urn[end])))
        ++end;
    zorbel::copy_cut(record.instance_urn, urn.substr(0, end));
    zo_get(&record, zo_env);

    send_common_head(sockfd);
    send_response_open(sockfd);
    sock_printf(sockfd, BODY, " <zorbel>\n");
    send_escaped(sockfd, "  <instance_urn>%s</instance_urn>\n", record.instance_urn);
    send_escaped(sockfd, "  <product_name>%s</product_name>\n", record.product_name);
    send_escaped(sockfd, "  <product_version>%s</product_version>\n", record.product_version);
    send_escaped(sockfd, "  <product_urn>%s</product_urn>\n", record.product_urn);
    send_escaped(sockfd, "  <product_parent_urn>%s</product_parent_urn>\n", record.product_parent_urn);
    send_escaped(sockfd, "  <product_parent>%s</product_parent>\n", record.product_parent);
    send_escaped(sockfd, "  <product_defined_inst_id>%s</product_defined_inst_id>\n",
                 record.product_defined_inst_id);
    send_escaped(sockfd, "  <timestamp>%s</timestamp>\n", record.timestamp);
    send_escaped(sockfd, "  <container>%s</container>\n", record.container);
    send_escaped(sockfd, "  <source>%s</source>\n", record.source);
    sock_printf(sockfd, BODY, " </zorbel>\n");
    send_response_close(sockfd);
}

void handle_http_get_zorbel_list(int sockfd, zo_env_t *zo_env)
{
    zorbel::RegistrySnapshot registry;
    const int status = zo_is_initialized(zo_env) ? zorbel::read_valid_registry(zo_env, registry) : ZO_ERR_NOT_INIT;
    if (status != ZO_ERR_NO_ERROR) {
        if (tavish_verbose >= 1)
            fprintf(stderr, "zo_get_registry_doc error: %d\n", status);
        return;
    }
    xmlDoc *doc = registry->doc.get();
    if (xmlDocGetRootElement(doc) == nullptr) {
        if (tavish_verbose >= 1)
            fputs("NULL root node for registry\n", stderr);
        return;
    }

    send_common_head(sockfd);
    sock_printf(sockfd, BODY, "<?xml-stylesheet type=\"text/xsl\"");
    sock_printf(sockfd, BODY, " href=\"/zov1/zo_list.xsl\"");
    sock_printf(sockfd, BODY, " media=\"screen\"?>\n");
    sock_printf(sockfd, BODY, "<zorbels>\n");
    if (tavish_verbose >= 2) {
        // Every link line is its own piece, and so its own echo line.
        render_links(doc, [sockfd](const std::string &line) { sock_write(sockfd, line); });
    } else {
        if (rendered_links.generation != registry->generation) {
            rendered_links.text.clear();
            render_links(doc, [](const std::string &line) { rendered_links.text += line; });
            rendered_links.generation = registry->generation;
        }
        if (!rendered_links.text.empty())
            sock_write(sockfd, rendered_links.text);
    }
    sock_printf(sockfd, BODY, "</zorbels>\n");
}

void handle_http_get_zorbel_list_xsl(int sockfd)
{
    static constexpr const char *lines[] = {
        "  <body>\n",
        "    <table border=\"2\" bgcolor=\"yellow\">\n",
        "      <tr>\n",
        "        <th>Zorbels Exposed By This Agent</th>\n",
        "      </tr>\n",
        "      <xsl:for-each select=\"zorbels/link\">\n",
        "      <tr>\n",
        "        <td>\n",
        "          <a>\n",
        "            <xsl:attribute name=\"href\">\n",
        "              <xsl:value-of select=\"@href\" />\n",
        "            </xsl:attribute>\n",
        "            <xsl:value-of select=\"@href\" />\n",
        "          </a>\n",
        "        </td>\n",
        "      </tr>\n",
        "      </xsl:for-each>\n",
        "    </table>\n",
        "  </body>\n",
        "</html>\n",
    };
    send_common_head(sockfd);
    sock_printf(sockfd, BODY, "<html xmlns:xsl=\"%s\" xsl:version=\"1.0\">\n",
                "http://www.w3.org/1999/XSL/Transform");
    for (const char *line : lines)
        sock_printf(sockfd, BODY, "%s", line);
}
