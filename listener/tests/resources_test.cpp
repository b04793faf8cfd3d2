// The five resources of the real responder, byte for byte.
#include "browser.h"
#include "tavish_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <regex>

namespace {

using namespace zorbel::test;

// Every resource is served alike standalone and in inetd mode.
class Resources : public testing::TestWithParam<Mode> {};
INSTANTIATE_TEST_SUITE_P(Modes, Resources, testing::Values(Mode::standalone, Mode::inetd),
                         [](const auto &info) { return std::string(name_of(info.param)); });

const std::string urn_a = "urn:zo:11111111-1111-1111-8111-111111111111";
const std::string urn_b = "urn:zo:22222222-2222-1222-8222-222222222222";

std::string record_response(const std::string &urn, const std::string &fields)
{
    return http_head + response_open + " <zorbel>\n  <instance_urn>" + urn + "</instance_urn>\n" + fields +
           " </zorbel>\n</zo1:response>\n";
}

const std::string empty_fields =
    "  <product_name></product_name>\n  <product_version></product_version>\n  <product_urn></product_urn>\n"
    "  <product_parent_urn></product_parent_urn>\n  <product_parent></product_parent>\n"
    "  <product_defined_inst_id></product_defined_inst_id>\n  <timestamp></timestamp>\n"
    "  <container></container>\n  <source></source>\n";

std::string list_response(const std::vector<std::string> &hrefs)
{
    std::string out = http_head +
                      "<?xml-stylesheet type=\"text/xsl\" href=\"/zov1/zo_list.xsl\" media=\"screen\"?>\n<zorbels>\n";
    for (const auto &h : hrefs)
        out += "  <link type=\"zorbel\" href=\"/zov1/zorbel/" + h + "\" />\n";
    return out + "</zorbels>\n";
}

TEST_P(Resources, VersionAndStylesheetAreByteExact)
{
    Responder r({}, "", GetParam());
    const std::string version = r.get("GET /zov1/agent/version/ HTTP/1.0");
    EXPECT_EQ(version, http_head + response_open + " <agent_version>1.1.4</agent_version>\n</zo1:response>\n");
    EXPECT_EQ(xmllint(body_of(version)), "");

    const std::string xsl = r.get("GET /zov1/zo_list.xsl HTTP/1.1");
    EXPECT_EQ(xsl, http_head +
                       "<html xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\" xsl:version=\"1.0\">\n"
                       "  <body>\n    <table border=\"2\" bgcolor=\"yellow\">\n      <tr>\n"
                       "        <th>Zorbels Exposed By This Agent</th>\n      </tr>\n"
                       "      <xsl:for-each select=\"zorbels/link\">\n      <tr>\n        <td>\n          <a>\n"
                       "            <xsl:attribute name=\"href\">\n"
                       "              <xsl:value-of select=\"@href\" />\n            </xsl:attribute>\n"
                       "            <xsl:value-of select=\"@href\" />\n          </a>\n        </td>\n"
                       "      </tr>\n      </xsl:for-each>\n    </table>\n  </body>\n</html>\n");
}

TEST_P(Resources, ListAndRecordsAreByteExact)
{
    Responder empty({}, "", GetParam());
    EXPECT_EQ(empty.get("GET /zov1/zorbel/ HTTP/1.0"), list_response({}));

    Responder r({}, record_xml(urn_a, "urn:product:p", 0, "R&amp;D &lt;beta&gt;") + record_xml(urn_b), GetParam());
    const std::string list = r.get("GET /zov1/zorbel/ HTTP/1.0");
    EXPECT_EQ(list, list_response({urn_a, urn_b}));
    EXPECT_EQ(xmllint(body_of(list)), "");

    const std::string stored =
        "  <product_name>R&amp;D &lt;beta&gt;</product_name>\n  <product_version>1.0</product_version>\n"
        "  <product_urn>urn:product:p</product_urn>\n  <product_parent_urn></product_parent_urn>\n"
        "  <product_parent>Parent</product_parent>\n  <product_defined_inst_id></product_defined_inst_id>\n"
        "  <timestamp>2026-12-07 05:31:11 GMT</timestamp>\n  <container>c</container>\n  <source>s</source>\n";
    EXPECT_EQ(r.get("GET /zov1/zorbel/" + urn_a + " HTTP/1.0"), record_response(urn_a, stored));
    // Nothing after the URN is the same request.
    EXPECT_EQ(tcp_exchange(r.port, "GET /zov1/zorbel/" + urn_a + "\n"), record_response(urn_a, stored));
    const std::string missing = r.get("GET /zov1/zorbel/urn:zo:nosuch HTTP/1.0");
    EXPECT_EQ(missing, record_response("urn:zo:nosuch", empty_fields));
    EXPECT_EQ(xmllint(body_of(missing)), "");
}

TEST_P(Resources, AgentDocumentDescribesRegistryAndHost)
{
    Responder r({}, "", GetParam());
    const std::string agent = r.get("GET /zov1/agent/ HTTP/");
    const std::string body = body_of(agent);
    EXPECT_EQ(xmllint(body), "");
    const std::regex shape(
        "<\\?xml version=\"1.0\" encoding=\"UTF-8\"\\?>\n<zo1:response xmlns:zo1=\"http://www.quesk.com/zov1/zorbel\">\n"
        "<agent>\n  <agent_urn>urn:zo:00000000-0000-1000-8000-000000000000</agent_urn>\n"
        "  <agent_version>1.1.4</agent_version>\n  <registry_version>1.1.4</registry_version>\n"
        "  <system_info>\n    <system>Linux</system>\n    <host>[^<]*</host>\n    <release>[^<]*</release>\n"
        "    <architecture>[^<]*</architecture>\n    <platform>[^<]*</platform>\n"
        "    <manufacturer>[^<]*</manufacturer>\n    <cpu_manufacturer>[^<]*</cpu_manufacturer>\n"
        "    <serial_number>[^<]*</serial_number>\n    <hostid>[0-9a-f]{1,8}</hostid>\n  </system_info>\n"
        "</agent>\n</zo1:response>\n");
    EXPECT_TRUE(std::regex_match(body, shape)) << body;
    EXPECT_EQ(r.get("GET /zov1/agent/ HTTP/1.1"), agent);
}

TEST_P(Resources, UnmatchedLinesGetNoBytesAndAreLoggedEscaped)
{
    Responder r({"-v", "-v"}, "", GetParam());
    for (const char *line : {"GET /zov1/agent HTTP/1.0", "GET  /zov1/agent/ HTTP/1.0", "get /zov1/agent/ HTTP/1.0",
                             "POST /zov1/agent/ HTTP/1.0", "GET /zov1/zorbel HTTP/1.0", "", "GET /x\x1b[31m",
                             "GET /x HTTP/1.0", "GET /index.html", "GET /index.html HTTP/1.0", "GET /", "GET / HTTP",
                             "GET  / HTTP/1.0", "POST / HTTP/1.0"})
        EXPECT_EQ(r.get(line), "") << line;
    close(connect_tcp(r.port));  // a client that sends nothing and closes
    EXPECT_EQ(r.get("GET /zov1/agent/version/ HTTP/1.0").substr(0, 15), "HTTP/1.0 200 OK");
    if (GetParam() == Mode::standalone) {  // verbosity is 0 in inetd mode
        EXPECT_NE(r.stderr_text().find("got TCP msg: GET /x\\x1b[31m\\x0d\n"), std::string::npos) << r.stderr_text();
    }
}

TEST_P(Resources, OverlongRequestLineRoutesItsFirst16383Bytes)
{
    Responder r({}, "", GetParam());
    const std::string prefix = "GET /zov1/agent/version/ HTTP/";
    EXPECT_EQ(r.get(prefix + std::string(20000, 'x')),
              http_head + response_open + " <agent_version>1.1.4</agent_version>\n</zo1:response>\n");
    // A URN longer than its field is cut to 255 characters.
    EXPECT_EQ(r.get("GET /zov1/zorbel/urn:zo:" + std::string(20000, 'y')),
              record_response("urn:zo:" + std::string(248, 'y'), empty_fields));
}

TEST_P(Resources, ValuesAreEscapedForTheirPlace)
{
    Responder r({}, record_xml("urn:zo:q\"uote&lt;", "urn:p:&amp;&lt;x&gt;") + record_xml(urn_a), GetParam());
    const std::string list = body_of(r.get("GET /zov1/zorbel/ HTTP/1.0"));
    EXPECT_EQ(xmllint(list), "");
    EXPECT_EQ(xmllint(list, "--xpath 'string(//link[1]/@href)'"), "/zov1/zorbel/urn:zo:q\"uote<\n");

    const std::string markup = body_of(r.get("GET /zov1/zorbel/urn:zo:<a>x</a> HTTP/1.0"));
    EXPECT_EQ(xmllint(markup), "");
    EXPECT_EQ(xmllint(markup, "--xpath 'string(//instance_urn)'"), "urn:zo:<a>x</a>\n");

    const std::string rec = body_of(r.get("GET /zov1/zorbel/urn:zo:q\"uote< HTTP/1.0"));
    EXPECT_EQ(xmllint(rec, "--xpath 'string(//product_urn)'"), "urn:p:&<x>\n");
}

// The page at "/" shows every record, as text; in a browser too.
TEST_P(Resources, PageShowsEveryRecord)
{
    Responder r({"-v"}, record_xml(urn_a, "urn:product:p", 0, "&lt;script&gt;alert(1)&lt;/script&gt;") +
                             record_xml(urn_b) + record_xml("urn:zo:3"),
                GetParam());
    const std::string page = r.get("GET / HTTP/1.1");
    EXPECT_TRUE(page.starts_with("HTTP/1.0 200 OK\r\nContent-type: text/html; charset=utf-8\r\n"
                                 "Content-Security-Policy: default-src 'none'; style-src 'sha256-"))
        << page;
    const std::regex row("<tr>");
    EXPECT_EQ(std::distance(std::sregex_iterator(page.begin(), page.end(), row), std::sregex_iterator()), 4);
    EXPECT_NE(page.find("<td>" + urn_b + "</td>"), std::string::npos) << page;
    if (GetParam() == Mode::inetd)
        return;  // the browser's view is the same bytes; once is enough
    EXPECT_NE(r.stderr_text().find("GET page\n"), std::string::npos) << r.stderr_text();

    const auto browser = headless_chromium({"--dump-dom", "http://127.0.0.1:" + std::to_string(r.port) + "/"});
    if (!browser)
        GTEST_SKIP() << "chromium not installed";
    ASSERT_EQ(browser->status, 0) << browser->err;
    const std::string &dom = browser->out;
    EXPECT_EQ(std::distance(std::sregex_iterator(dom.begin(), dom.end(), row), std::sregex_iterator()), 4) << dom;
    EXPECT_NE(dom.find("<td>&lt;script&gt;alert(1)&lt;/script&gt;</td>"), std::string::npos) << dom;
    EXPECT_EQ(dom.find("<script"), std::string::npos) << dom;
    EXPECT_NE(dom.find("<title>urn:zo:00000000-0000-1000-8000-000000000000 \u2014 3 records</title>"),
              std::string::npos)
        << dom;
}

TEST_P(Resources, ListRendersThroughTheServedStylesheet)
{
    Responder r({}, record_xml(urn_a) + record_xml(urn_b) + record_xml("urn:zo:3"), GetParam());
    const std::string html = xsltproc(body_of(r.get("GET /zov1/zo_list.xsl HTTP/1.0")),
                                      body_of(r.get("GET /zov1/zorbel/ HTTP/1.0")));
    const std::regex row("<tr>");
    EXPECT_EQ(std::distance(std::sregex_iterator(html.begin(), html.end(), row), std::sregex_iterator()), 4) << html;
    EXPECT_NE(html.find("<a href=\"/zov1/zorbel/" + urn_b + "\">/zov1/zorbel/" + urn_b + "</a>"), std::string::npos)
        << html;
}

}  // namespace
