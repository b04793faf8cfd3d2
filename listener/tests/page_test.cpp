// The page at "/" as a value: every served field, every value escaped,
// nothing from elsewhere; and its body rendered once per parse.
#include "page.h"
#include "page_style.h"
#include "reader_cache.h"
#include "resources.h"
#include "tavish_support.h"
#include "zorbel/support/record_field_table.h"
#include "zorbel/support/xml_ptr.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <unistd.h>

#include <regex>
#include <thread>

namespace {

using namespace zorbel::test;

// Short enough for the narrowest field with its name after it.
const std::string hostile = "<i>&amp;\"'";
const std::string hostile_shown = "&lt;i&gt;&amp;amp;&quot;&#39;";

std::string without_wbr(std::string html)
{
    return std::regex_replace(html, std::regex("<wbr />"), "");
}

std::size_t count_of(const std::string &text, const std::string &what)
{
    std::size_t n = 0;
    for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
        ++n;
    return n;
}

TEST(Page, ShowsEveryServedFieldEscapedAndNothingFromElsewhere)
{
    zo_t marked{};
    for (const auto *field : zorbel::served_fields)
        set_text(field->in(marked).data(), field->in(marked).size(), hostile + std::string(field->name));
    zo_t script = full_record("urn:zo:2");
    ZT_SET(script, product_name, "<script>alert(1)</script>");
    const zo_t records[] = {marked, script};
    const std::string html = without_wbr(zorbel::tavish::render_page_html("urn:zo:<r>&", records));
    for (const auto *field : zorbel::served_fields) {
        const std::string name(field->name);
        EXPECT_EQ(count_of(html, "<th scope=\"col\">" + name + "</th>"), 1u) << name;
        EXPECT_EQ(count_of(html, "<td>" + hostile_shown + name + "</td>"), 1u) << name;
    }
    EXPECT_EQ(count_of(html, "<td>"), 20u);
    EXPECT_EQ(count_of(html, "<tr>"), 3u);  // and the heading
    EXPECT_EQ(count_of(html, "<script"), 0u);
    EXPECT_EQ(count_of(html, "<td>&lt;script&gt;alert(1)&lt;/script&gt;</td>"), 1u);
    for (const char *outside : {"://", "src=", "href=", "url(", "@import"})
        EXPECT_EQ(count_of(html, outside), 0u) << outside;
    EXPECT_TRUE(html.starts_with("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\" />\n"
                                 "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src &#39;none&#39;; "
                                 "style-src &#39;sha256-"))
        << html;
    EXPECT_TRUE(html.ends_with("</table>\n</body>\n</html>\n"));
    // Well-formed XML too, as every answer of the responder is.
    for (const std::string &page : {html, zorbel::tavish::render_unreadable_page_html()})
        EXPECT_TRUE(zorbel::xml::DocPtr(xmlReadMemory(page.data(), static_cast<int>(page.size()), "page.html", nullptr,
                                                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING)))
            << page;

    const std::pair<std::size_t, std::string> counts[] = {{0, "0 records"}, {1, "1 record"}, {2, "2 records"}};
    for (const auto &[n, said] : counts) {
        const std::string page = zorbel::tavish::render_page_html("urn:zo:<r>&", std::span(records, n));
        EXPECT_EQ(count_of(page, "<title>urn:zo:&lt;r&gt;&amp; \u2014 " + said + "</title>"), 1u) << page;
        EXPECT_EQ(count_of(page, "<h1>" + said + " in registry urn:zo:&lt;r&gt;&amp;</h1>"), 1u) << page;
    }
}

// The policy allows the page's style by the hash of exactly its bytes.
TEST(Page, PolicyNamesTheHashOfItsStyle)
{
    if (access("/usr/bin/openssl", X_OK) != 0)
        GTEST_SKIP() << "openssl not installed";
    TempRoot root;
    const std::string css = root.root() + "/page.css";
    write_file(css, std::string(zorbel::tavish::page_style));
    const RunResult digest = run_shell("/usr/bin/openssl dgst -sha256 -binary " + css + " | base64 -w0");
    ASSERT_EQ(digest.status, 0) << digest.err;
    EXPECT_EQ(zorbel::tavish::page_policy(),
              "default-src 'none'; style-src 'sha256-" + digest.out + "'; base-uri 'none'; form-action 'none'");
}

// The body is one piece per parse, shared by the answers built from it; a
// registry that cannot be read gives a page saying so.
TEST(Page, BodyIsRenderedOncePerParse)
{
    TempRoot root;
    root.write_registry(many_records(3, "urn:zo:g"));
    zo_env_t env{};
    ASSERT_EQ(zo_initialize(root.root().c_str(), &env), ZO_ERR_NO_ERROR);
    const std::vector<std::string> head{"HTTP/1.0 200 OK\r\n", "Content-type: text/html; charset=utf-8\r\n",
                                        "Content-Security-Policy: " + zorbel::tavish::page_policy() +
                                            "; frame-ancestors 'none'\r\n",
                                        "Connection: Close\r\n", "\r\n"};
    // A parse is kept once the files have settled: ask until it is, boundedly.
    zorbel::set_registry_cache(true);
    zorbel::tavish::Answer first, second;
    for (int i = 0; i < 200 && (first.empty() || first.pieces().back() != second.pieces().back()); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        first = zorbel::tavish::answer_request(&env, "GET / HTTP/1.0");
        second = zorbel::tavish::answer_request(&env, "GET / HTTP/1.1");
    }
    zorbel::set_registry_cache(false);
    const auto fresh = zorbel::tavish::answer_request(&env, "GET / HTTP/1.0");
    ASSERT_EQ(first.pieces().size(), head.size() + 1);
    for (std::size_t i = 0; i < head.size(); ++i)
        EXPECT_EQ(*first.pieces()[i], head[i]);
    EXPECT_EQ(first.pieces().back(), second.pieces().back());  // the same bytes, not a copy
    EXPECT_EQ(fresh.text(), first.text());
    EXPECT_EQ(count_of(first.text(), "<tr>"), 4u);

    write_file(root.registry_file(), "not a registry");
    const std::string unreadable = zorbel::tavish::answer_request(&env, "GET / HTTP/1.0").text();
    EXPECT_TRUE(unreadable.starts_with("HTTP/1.0 503 Service Unavailable\r\nContent-type: text/html; charset=utf-8\r\n"))
        << unreadable;
    EXPECT_EQ(count_of(unreadable, "<h1>Registry not readable</h1>"), 1u);
    zo_close(&env);
}

}  // namespace
