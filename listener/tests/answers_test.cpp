// Answers built from a kept parse are byte for byte those of a fresh
// parse, for every resource; and the list shows every instance URN whole.
#include "reader_cache.h"
#include "resources.h"
#include "tavish_support.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace zorbel::test;

std::string answer(zo_env_t &env, const std::string &line)
{
    return zorbel::tavish::answer_request(-1, &env, line.c_str());
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
