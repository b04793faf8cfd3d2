// Answers built from a kept parse are byte for byte those of a fresh
// parse, for every resource; and the list shows every instance URN whole.
#include "reader_cache.h"
#include "resources.h"
#include "tavish_support.h"
#include "zorbel/support/record_field_table.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

namespace {

using namespace zorbel::test;

std::string answer(zo_env_t &env, const std::string &line)
{
    return zorbel::tavish::answer_request(&env, line).text();
}

// The pieces of an answer, each as its own string.
std::vector<std::string> pieces_of(const zorbel::tavish::Answer &a)
{
    std::vector<std::string> out;
    for (const auto &p : a.pieces())
        out.push_back(*p);
    return out;
}

const std::vector<std::string> head{"HTTP/1.0 200 OK\r\n", "Content-type: text/xml;charset=UTF-8\r\n",
                                    "Connection: Close\r\n", "\r\n",
                                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"};
const std::string open_line = "<zo1:response xmlns:zo1=\"http://www.quesk.com/zov1/zorbel\">\n";

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A registry file with an internal subset declaring `entities`.
void write_with_entities(const TempRoot &root, const std::string &entities, const std::string &records)
{
    write_file(root.registry_file(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE registry SYSTEM \"" +
                                         root.dtd_file() + "\" [\n" + entities +
                                         "]>\n<registry urn=\"urn:zo:0\" version=\"1.1.4\">" + records +
                                         "</registry>\n");
}

const std::string long_text(300, 'x');

struct Case {
    const char *name;
    int records;    // generated records urn:zo:g0 ... (plus the special ones when `special`)
    bool special;   // entities, markup and overlong values
};

TEST(Answers, KeptParseAnswersLikeAFreshOne)
{
    for (const Case c : {Case{"empty", 0, false}, Case{"100 records", 100, false}, Case{"1000 records", 1000, false},
                         Case{"entities, markup, overlong values", 3, true}}) {
        TempRoot root;
        std::string records = many_records(c.records, "urn:zo:g");
        if (c.special)
            records += record_xml("urn:zo:&id;", "urn:p&amp;q", 0, "&co; R&amp;D &lt;beta&gt; " + long_text) +
                       record_xml("urn:zo:" + long_text, "urn:p", 0, "&lt;/product_name&gt;\"'") +
                       record_xml("urn:zo:g1", "urn:p", 0, "a later record with the same URN");
        write_with_entities(root, "<!ENTITY id \"ent-id\">\n<!ENTITY co \"Quesk &#38;amp; Co\">\n", records);
        zo_env_t env{};
        ASSERT_EQ(zo_initialize(root.root().c_str(), &env), ZO_ERR_NO_ERROR) << c.name;

        std::vector<std::string> lines{"GET /zov1/agent/version/ HTTP/1.0", "GET /zov1/agent/ HTTP/1.0",
                                       "GET /zov1/zo_list.xsl HTTP/1.0", "GET /zov1/zorbel/ HTTP/1.0",
                                       "GET /zov1/zorbel/urn:zo:nosuch HTTP/1.0"};
        for (int i = 0; i < c.records; i += 1 + c.records / 7)
            lines.push_back("GET /zov1/zorbel/urn:zo:g" + std::to_string(i) + " HTTP/1.0");
        if (c.records > 0)
            lines.push_back("GET /zov1/zorbel/urn:zo:g" + std::to_string(c.records - 1) + " HTTP/1.0");
        if (c.special) {
            lines.push_back("GET /zov1/zorbel/urn:zo:ent-id HTTP/1.0");
            lines.push_back("GET /zov1/zorbel/urn:zo:" + long_text + " HTTP/1.0");
        }

        zorbel::set_registry_cache(false);
        std::vector<std::string> fresh;
        for (const std::string &line : lines)
            fresh.push_back(answer(env, line));
        zorbel::set_registry_cache(true);
        for (int pass = 0; pass < 3; ++pass) {  // filling, then answering from what was kept
            for (size_t i = 0; i < lines.size(); ++i)
                EXPECT_EQ(answer(env, lines[i]), fresh[i]) << c.name << ": " << lines[i];
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        }
        zorbel::set_registry_cache(false);
        for (const std::string &a : fresh)
            EXPECT_EQ(a.empty() ? "" : xmllint(body_of(a)), "") << c.name << "\n" << a;
        zo_close(&env);
    }
}

// Each resource renders to its pieces, in order, without a socket; a line
// that matches no resource renders to nothing.
TEST(Answers, ResourcesRenderToTheirPieces)
{
    TempRoot root;
    root.write_registry(record_xml("urn:zo:1"));
    zo_env_t env{};
    ASSERT_EQ(zo_initialize(root.root().c_str(), &env), ZO_ERR_NO_ERROR);
    std::vector<std::string> record = head + std::vector<std::string>{open_line, " <zorbel>\n"};
    for (const auto *field : zorbel::served_fields) {
        const std::string name(field->name);
        const std::map<std::string, std::string> stored{
            {"instance_urn", "urn:zo:1"}, {"product_name", "Name"},   {"product_version", "1.0"},
            {"product_urn", "urn:product:p"}, {"product_parent", "Parent"}, {"timestamp", "2026-12-07 05:31:11 GMT"},
            {"container", "c"},           {"source", "s"}};
        const std::string value = stored.contains(name) ? stored.at(name) : "";
        record.push_back("  <" + name + ">" + value + "</" + name + ">\n");
    }
    record = record + std::vector<std::string>{" </zorbel>\n", "</zo1:response>\n"};
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"GET /zov1/agent/version/ HTTP/1.0",
         head + std::vector<std::string>{open_line, " <agent_version>1.1.4</agent_version>\n", "</zo1:response>\n"}},
        {"GET /zov1/zorbel/urn:zo:1 HTTP/1.0", record},
        {"GET /zov1/zorbel/ HTTP/1.0",
         head + std::vector<std::string>{"<?xml-stylesheet type=\"text/xsl\"", " href=\"/zov1/zo_list.xsl\"",
                                         " media=\"screen\"?>\n", "<zorbels>\n",
                                         "  <link type=\"zorbel\" href=\"/zov1/zorbel/urn:zo:1\" />\n",
                                         "</zorbels>\n"}},
        {"GET /zov1/agent HTTP/1.0", {}},
        {std::string("GET /zov1/agent/version/\0 HTTP/1.0", 34), {}},  // read up to the NUL
    };
    for (const auto &[line, pieces] : cases)
        EXPECT_EQ(pieces_of(zorbel::tavish::answer_request(&env, line)), pieces) << line;
    const auto agent = pieces_of(zorbel::tavish::render_agent());
    ASSERT_EQ(agent.size(), 8u);
    EXPECT_TRUE(agent[6].starts_with("<agent>\n  <agent_urn>urn:zo:") && agent[6].ends_with("</agent>\n")) << agent[6];
    EXPECT_EQ(pieces_of(zorbel::tavish::render_stylesheet()).size(), head.size() + 21);

    // Answers from one kept parse share one copy of the link lines.  A
    // parse is kept once the files have settled: ask until it is, boundedly.
    zorbel::set_registry_cache(true);
    zorbel::tavish::Answer first, second;
    for (int i = 0; i < 200 && (first.empty() || first.pieces()[9] != second.pieces()[9]); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        first = zorbel::tavish::answer_request(&env, "GET /zov1/zorbel/ HTTP/1.0");
        second = zorbel::tavish::answer_request(&env, "GET /zov1/zorbel/ HTTP/1.0");
    }
    zorbel::set_registry_cache(false);
    ASSERT_EQ(first.pieces().size(), second.pieces().size());
    ASSERT_GT(first.pieces().size(), 9u);
    EXPECT_EQ(first.pieces()[9], second.pieces()[9]);
    zo_close(&env);
}

// A URN written with an entity reference is listed as its record page
// shows it; a link longer than 16383 bytes is sent whole.
TEST(Answers, ListShowsEveryInstanceUrnWhole)
{
    TempRoot root;
    const std::string long_urn = "urn:zo:" + std::string(20000, 'u');
    std::string many_refs;
    for (int i = 0; i < 5000; ++i)
        many_refs += "&big;";
    write_with_entities(root, "<!ENTITY id \"ent-id\">\n<!ENTITY big \"" + std::string(10000, 'b') + "\">\n",
                        record_xml("urn:zo:&id;") + record_xml(long_urn) + record_xml("urn:zo:" + many_refs) +
                            record_xml("urn:zo:last"));
    zo_env_t env{};
    ASSERT_EQ(zo_initialize(root.root().c_str(), &env), ZO_ERR_NO_ERROR);
    const std::string list = answer(env, "GET /zov1/zorbel/ HTTP/1.0");
    EXPECT_NE(list.find("  <link type=\"zorbel\" href=\"/zov1/zorbel/urn:zo:ent-id\" />\n"), std::string::npos);
    EXPECT_NE(list.find("  <link type=\"zorbel\" href=\"/zov1/zorbel/" + long_urn + "\" />\n"), std::string::npos);
    EXPECT_NE(list.find("urn:zo:last"), std::string::npos);
    // References to a large entity add no more than a field holds, and a margin.
    const size_t big = list.find("urn:zo:bbb");
    ASSERT_NE(big, std::string::npos);
    EXPECT_LT(list.find('"', big) - big, 400u);
    EXPECT_EQ(xmllint(body_of(list)), "");
    const std::string record = answer(env, "GET /zov1/zorbel/urn:zo:ent-id HTTP/1.0");
    EXPECT_NE(record.find("<product_name>Name</product_name>"), std::string::npos) << record;
    zo_close(&env);
}

// Request bytes that XML cannot carry are echoed as U+FFFD, one per byte;
// the answer stays well-formed.
TEST(Answers, RequestBytesXmlCannotCarryAreReplaced)
{
    TempRoot root;
    root.write_registry(record_xml("urn:zo:1"));
    zo_env_t env{};
    ASSERT_EQ(zo_initialize(root.root().c_str(), &env), ZO_ERR_NO_ERROR);
    const std::string r = "\xEF\xBF\xBD";
    const std::vector<std::pair<std::string, std::string>> cases{
        {"urn:zo:a\x01\x1b[31m", "urn:zo:a" + r + r + "[31m"},
        {"urn:zo:\xff\xfe", "urn:zo:" + r + r},
        {"urn:zo:\xc3", "urn:zo:" + r},                     // cut sequence
        {"urn:zo:\xc0\xaf", "urn:zo:" + r + r},            // overlong
        {"urn:zo:\xed\xa0\x80", "urn:zo:" + r + r + r},   // surrogate
        {"urn:zo:\xef\xbf\xbe", "urn:zo:" + r + r + r},   // U+FFFE
        {"urn:zo:\xc3\xa9\xf0\x9f\x98\x80\x7f", "urn:zo:\xc3\xa9\xf0\x9f\x98\x80\x7f"},  // fit text unchanged
    };
    for (const auto &[urn, shown] : cases) {
        const std::string got = answer(env, "GET /zov1/zorbel/" + urn + " HTTP/1.0");
        EXPECT_NE(got.find("<instance_urn>" + shown + "</instance_urn>"), std::string::npos) << got;
        EXPECT_EQ(xmllint(body_of(got)), "") << got;
    }
    zo_close(&env);
}

}  // namespace
