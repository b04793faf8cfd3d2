// Looking records up, listing them by product, and copies of the registry.
#include "registry_test_util.h"

#include <sys/resource.h>

#include <cstdlib>

using namespace zorbel::test;

namespace {

TEST(Get, FillsTheWholeRecordFromTheFirstMatch)
{
    Registry reg(record_xml("urn:a", "urn:p", 1234, "First") + record_xml("urn:b") +
                 record_xml("urn:a", "urn:p", 7, "Second"));
    zo_t s{};
    memset(&s, 'x', sizeof s);
    ZT_SET(s, instance_urn, "urn:a");
    ASSERT_EQ(zo_get(&s, &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_STREQ(s.instance_urn, "urn:a");
    EXPECT_STREQ(s.product_name, "First");
    EXPECT_STREQ(s.product_version, "1.0");
    EXPECT_STREQ(s.product_urn, "urn:p");
    EXPECT_STREQ(s.product_parent_urn, "");
    EXPECT_STREQ(s.product_parent, "Parent");
    EXPECT_STREQ(s.product_defined_inst_id, "");
    EXPECT_STREQ(s.product_vendor, "Vendor");
    EXPECT_STREQ(s.platform_arch, "x86_64");
    EXPECT_STREQ(s.timestamp, "2026-12-07 05:31:11 GMT");
    EXPECT_STREQ(s.container, "c");
    EXPECT_STREQ(s.source, "s");
    EXPECT_EQ(s.installer_uid, 1234);
    // Every byte past the texts is cleared, not left from before.
    EXPECT_EQ(s.instance_urn[255], '\0');
    EXPECT_EQ(s.product_version[63], '\0');
}

TEST(Get, MissingRecordLeavesOnlyTheUrn)
{
    Registry reg(record_xml("urn:a"));
    zo_t s = full_record("urn:none");
    s.installer_uid = 55;
    EXPECT_EQ(zo_get(&s, &reg.env), ZO_ERR_REC_NOT_FOUND);
    zo_t expected{};
    ZT_SET(expected, instance_urn, "urn:none");
    EXPECT_EQ(memcmp(&s, &expected, sizeof s), 0);
}

TEST(Get, ArgumentChecksLeaveTheRecordUntouched)
{
    Registry reg(record_xml("urn:a"));
    zo_t s = full_record("");
    const zo_t before = s;
    EXPECT_EQ(zo_get(&s, &reg.env), ZO_ERR_MISSING_FIELD);
    EXPECT_EQ(memcmp(&s, &before, sizeof s), 0);
    EXPECT_EQ(zo_get(nullptr, &reg.env), ZO_ERR_MISSING_FIELD);

    memset(s.instance_urn, 'u', sizeof s.instance_urn);  // no terminator within 256 bytes
    const zo_t overlong = s;
    EXPECT_EQ(zo_get(&s, &reg.env), ZO_ERR_MAX_LEN_EXCEEDED);
    EXPECT_EQ(memcmp(&s, &overlong, sizeof s), 0);

    zo_env_t fresh{};
    EXPECT_EQ(zo_get(&s, &fresh), ZO_ERR_NOT_INIT);
    EXPECT_EQ(zo_get(nullptr, nullptr), ZO_ERR_NOT_INIT);
}

TEST(Get, ReadsFieldsByNameWithTheFileRules)
{
    const std::string long_version(100, 'v');
    Registry reg(
        raw_record("<installer_uid> -17abc</installer_uid><product_version>" + long_version +
                   "</product_version><product_name>Early</product_name><instance_urn>urn:a</instance_urn>"
                   "<product_name>Late &amp; last</product_name><container>c</container><container/>") +
        raw_record("<instance_urn>urn:empty-uid</instance_urn><installer_uid/>") +
        raw_record("<instance_urn>urn:no-digits</instance_urn><installer_uid>abc</installer_uid>") +
        raw_record("<instance_urn>urn:huge</instance_urn><installer_uid>99999999999999</installer_uid>"));
    zo_t s{};
    ZT_SET(s, instance_urn, "urn:a");
    ASSERT_EQ(zo_get(&s, &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_EQ(s.installer_uid, -17);
    EXPECT_EQ(std::string(s.product_version), long_version.substr(0, 63));
    EXPECT_STREQ(s.product_name, "Late & last");
    EXPECT_STREQ(s.container, "");  // the later, empty element wins
    EXPECT_EQ(s.container[1], '\0');

    ZT_SET(s, instance_urn, "urn:empty-uid");
    ASSERT_EQ(zo_get(&s, &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_EQ(s.installer_uid, -1);
    ZT_SET(s, instance_urn, "urn:no-digits");
    ASSERT_EQ(zo_get(&s, &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_EQ(s.installer_uid, 0);
    ZT_SET(s, instance_urn, "urn:huge");
    ASSERT_EQ(zo_get(&s, &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_EQ(s.installer_uid, -1);  // no int holds it
}

TEST(Get, ComparesUrnsExactly)
{
    Registry reg(record_xml("urn:Case") + raw_record("<instance_urn> urn:x</instance_urn>") +
                 raw_record("<instance_urn>urn:first</instance_urn><instance_urn>urn:second</instance_urn>"));
    for (const char *miss : {"urn:case", "urn:Cas", "urn:x"}) {
        zo_t s{};
        ZT_SET(s, instance_urn, miss);
        EXPECT_EQ(zo_get(&s, &reg.env), ZO_ERR_REC_NOT_FOUND) << miss;
    }
    zo_t s{};
    ZT_SET(s, instance_urn, "urn:second");  // any instance_urn child of a record matches
    EXPECT_EQ(zo_get(&s, &reg.env), ZO_ERR_NO_ERROR);
}

TEST(Get, InvalidRegistryIsReported)
{
    Registry reg(record_xml("urn:a"));
    zo_t s{};
    ZT_SET(s, instance_urn, "urn:a");
    write_file(reg.root.registry_file(), "<registry urn=\"u\" version=\"v\"/>");  // no DTD
    EXPECT_EQ(zo_get(&s, &reg.env), ZO_ERR_XML_INVALID_REG);
    write_file(reg.root.registry_file(), "");
    EXPECT_EQ(zo_get(&s, &reg.env), ZO_ERR_XML_INVALID_REG);
    reg.root.write_registry("<bogus/>");
    EXPECT_EQ(zo_get(&s, &reg.env), ZO_ERR_XML_INVALID_REG);
}

TEST(Get, SeesChangesAndRefreshesTheEnvironmentIdentity)
{
    Registry reg(record_xml("urn:a"));
    zo_t s{};
    ZT_SET(s, instance_urn, "urn:b");
    EXPECT_EQ(zo_get(&s, &reg.env), ZO_ERR_REC_NOT_FOUND);
    reg.root.write_registry(record_xml("urn:a") + record_xml("urn:b"), "urn:zo:other", "9.9");
    EXPECT_EQ(zo_get(&s, &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_STREQ(reg.env.registry_urn, "urn:zo:other");
    EXPECT_STREQ(reg.env.registry_version, "9.9");
}

struct UrnList {
    char **list = nullptr;
    ~UrnList() { zo_free_instance_urns(list); }
};

TEST(InstanceUrns, ListsMatchesInDocumentOrder)
{
    Registry reg(record_xml("urn:1", "urn:p") + record_xml("urn:2", "urn:q") +
                 raw_record("<product_urn>urn:p</product_urn><instance_urn>urn:3</instance_urn>") +
                 raw_record("<product_urn>urn:p</product_urn>") + record_xml("urn:4", "urn:p"));
    UrnList urns;
    ASSERT_EQ(zo_get_instance_urns("urn:p", &urns.list, &reg.env), 4);
    ASSERT_NE(urns.list, nullptr);
    EXPECT_STREQ(urns.list[0], "urn:1");
    EXPECT_STREQ(urns.list[1], "urn:3");  // element order within a record does not matter
    EXPECT_STREQ(urns.list[2], "");       // a match without instance URN contributes empty text
    EXPECT_STREQ(urns.list[3], "urn:4");
    for (int i = 0; i < ZO_MAX_INSTANCE_URNS; ++i)
        ASSERT_NE(urns.list[i], nullptr);
}

TEST(InstanceUrns, NoMatchStillHandsOutAList)
{
    Registry reg(record_xml("urn:1", "urn:p"));
    UrnList urns;
    EXPECT_EQ(zo_get_instance_urns("urn:P", &urns.list, &reg.env), 0);
    EXPECT_NE(urns.list, nullptr);
}

TEST(InstanceUrns, AtMost256Matches)
{
    Registry reg(many_records(256, "urn:i:", "urn:p", 0));
    UrnList urns;
    ASSERT_EQ(zo_get_instance_urns("urn:p", &urns.list, &reg.env), 256);
    EXPECT_STREQ(urns.list[255], "urn:i:255");

    reg.root.write_registry(many_records(257, "urn:i:", "urn:p", 0) + record_xml("urn:x", "urn:q"));
    char **list = reinterpret_cast<char **>(&reg);  // any non-null value
    EXPECT_EQ(zo_get_instance_urns("urn:p", &list, &reg.env), ZO_ERR_MAX_REC_EXCEEDED);
    EXPECT_EQ(list, nullptr);
    UrnList other;
    EXPECT_EQ(zo_get_instance_urns("urn:q", &other.list, &reg.env), 1);
}

TEST(InstanceUrns, ArgumentAndRegistryErrorsHandOutNothing)
{
    Registry reg(record_xml("urn:1", "urn:p"));
    char **list = reinterpret_cast<char **>(&reg);
    zo_env_t fresh{};
    EXPECT_EQ(zo_get_instance_urns("urn:p", &list, &fresh), ZO_ERR_NOT_INIT);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(zo_get_instance_urns(nullptr, &list, &reg.env), ZO_ERR_MISSING_FIELD);
    EXPECT_EQ(zo_get_instance_urns("", &list, &reg.env), ZO_ERR_MISSING_FIELD);
    EXPECT_EQ(zo_get_instance_urns("urn:p", nullptr, &reg.env), ZO_ERR_MISSING_FIELD);
    const std::string at_limit(255, 'p');
    const std::string over_limit(256, 'p');
    EXPECT_EQ(zo_get_instance_urns(over_limit.c_str(), &list, &reg.env), ZO_ERR_MAX_LEN_EXCEEDED);
    {
        UrnList ok;
        EXPECT_EQ(zo_get_instance_urns(at_limit.c_str(), &ok.list, &reg.env), 0);
    }
    write_file(reg.root.registry_file(), "<?xml version=\"1.0\"?><registry");
    list = reinterpret_cast<char **>(&reg);
    EXPECT_EQ(zo_get_instance_urns("urn:p", &list, &reg.env), ZO_ERR_XML_INVALID_REG);
    EXPECT_EQ(list, nullptr);
    zo_free_instance_urns(nullptr);
}

TEST(RegistryDoc, HoldsTheRootAttributesAndTheRecordsOnly)
{
    TempRoot root;
    const std::string first = raw_record("<instance_urn>urn:1</instance_urn><product_name>N &amp; M</product_name>");
    write_file(root.registry_file(),
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE registry SYSTEM \"" + root.dtd_file() +
                   "\">\n<!-- top comment -->\n<registry version=\"1.2\" urn=\"urn:zo:r\">\n  " + first +
                   "\n  <!-- between -->\n  " +
                   raw_record("\n    <instance_urn>urn:2</instance_urn><!-- inside -->\n  ") + "\n</registry>\n");
    zo_env_t env{};
    ASSERT_EQ(zo_initialize(root.root().c_str(), &env), ZO_ERR_NO_ERROR);
    xmlDocPtr doc = nullptr;
    ASSERT_EQ(zo_get_registry_doc(&doc, &env), ZO_ERR_NO_ERROR);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->intSubset, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char *>(doc->version), "1.0");
    xmlNode *top = xmlDocGetRootElement(doc);
    EXPECT_EQ(doc->children, top);
    EXPECT_EQ(top->next, nullptr);
    xmlChar *dump = nullptr;
    int size = 0;
    xmlDocDumpMemory(doc, &dump, &size);
    const std::string text(reinterpret_cast<char *>(dump), static_cast<size_t>(size));
    xmlFree(dump);
    xmlFreeDoc(doc);
    EXPECT_EQ(text, "<?xml version=\"1.0\"?>\n<registry urn=\"urn:zo:r\" version=\"1.2\">" + first +
                        "<zorbel>\n    <instance_urn>urn:2</instance_urn><!-- inside -->\n  </zorbel>"
                        "</registry>\n");
}

TEST(RegistryDoc, EntityReferencesOutliveTheParsedRegistry)
{
    TempRoot root;
    write_file(root.registry_file(), "<!DOCTYPE registry SYSTEM \"" + root.dtd_file() +
                                         "\" [<!ENTITY x \"X\">]><registry urn=\"u\" version=\"1\">" +
                                         raw_record("<instance_urn>urn:&x;</instance_urn>") + "</registry>");
    zo_env_t env{};
    ASSERT_EQ(zo_initialize(root.root().c_str(), &env), ZO_ERR_NO_ERROR);
    xmlDocPtr doc = nullptr;
    ASSERT_EQ(zo_get_registry_doc(&doc, &env), ZO_ERR_NO_ERROR);
    xmlNode *field = xmlDocGetRootElement(doc)->children->children;
    ASSERT_EQ(field->last->type, XML_ENTITY_REF_NODE);
    EXPECT_EQ(field->last->children, nullptr);  // the declaration went with the parse
    EXPECT_EQ(field->last->content, nullptr);
    EXPECT_EQ(zorbel::xml::view(zorbel::xml::node_text(doc, field).get()), "urn:");
    xmlFreeDoc(doc);
}

TEST(RegistryDoc, EmptyRegistryAndErrors)
{
    Registry reg;
    xmlDocPtr doc = nullptr;
    ASSERT_EQ(zo_get_registry_doc(&doc, &reg.env), ZO_ERR_NO_ERROR);
    xmlNode *top = xmlDocGetRootElement(doc);
    EXPECT_TRUE(zorbel::xml::is_element(top, "registry"));
    EXPECT_EQ(top->children, nullptr);
    xmlFreeDoc(doc);

    zo_env_t fresh{};
    doc = nullptr;
    EXPECT_EQ(zo_get_registry_doc(&doc, &fresh), ZO_ERR_NOT_INIT);
    EXPECT_EQ(zo_get_registry_doc(nullptr, &reg.env), ZO_ERR_MISSING_FIELD);
    std::filesystem::remove(reg.root.dtd_file());
    EXPECT_EQ(zo_get_registry_doc(&doc, &reg.env), ZO_ERR_XML_INVALID_REG);
    EXPECT_EQ(doc, nullptr);
}

TEST(RegistryXml, FormattedUtf8TextWithTerminator)
{
    Registry reg(record_xml("urn:1", "urn:p", 0, "Caf\xc3\xa9 &amp; co"));
    char *xml = nullptr;
    ASSERT_EQ(zo_get_registry_xml(&xml, &reg.env), ZO_ERR_NO_ERROR);
    ASSERT_NE(xml, nullptr);
    const std::string text(xml);
    zo_free_xml(xml);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0), 0u) << text;
    EXPECT_NE(text.find("\n<registry urn=\"urn:zo:00000000-0000-1000-8000-000000000000\" version=\"1.1.4\">\n"
                        "  <zorbel>\n    <instance_urn>urn:1</instance_urn>\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("<product_name>Caf\xc3\xa9 &amp; co</product_name>"), std::string::npos);
    EXPECT_EQ(text.find("DOCTYPE"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 12), "</registry>\n");
}

TEST(RegistryXml, FailuresHandOutNothing)
{
    Registry reg(record_xml("urn:1"));
    char *xml = reinterpret_cast<char *>(&reg);
    zo_env_t fresh{};
    EXPECT_EQ(zo_get_registry_xml(&xml, &fresh), ZO_ERR_NOT_INIT);
    EXPECT_EQ(xml, nullptr);
    EXPECT_EQ(zo_get_registry_xml(nullptr, &reg.env), ZO_ERR_MISSING_FIELD);
    write_file(reg.root.registry_file(), "not xml");
    xml = reinterpret_cast<char *>(&reg);
    EXPECT_EQ(zo_get_registry_xml(&xml, &reg.env), ZO_ERR_XML_INVALID_REG);
    EXPECT_EQ(xml, nullptr);
}

TEST(Queries, NeverChangeTheFile)
{
    Registry reg(record_xml("urn:1") + "\n<!-- kept -->\n");
    const std::string before = reg.content();
    zo_t s{};
    ZT_SET(s, instance_urn, "urn:1");
    EXPECT_EQ(zo_get(&s, &reg.env), ZO_ERR_NO_ERROR);
    UrnList urns;
    EXPECT_EQ(zo_get_instance_urns("urn:product:p", &urns.list, &reg.env), 1);
    char *xml = nullptr;
    EXPECT_EQ(zo_get_registry_xml(&xml, &reg.env), ZO_ERR_NO_ERROR);
    zo_free_xml(xml);
    EXPECT_EQ(reg.content(), before);
}

// A short registry whose one 100 KB entity is referenced 20,000 times
// (about 2 GB expanded) costs a reader only what its fields hold: every
// query, copy and change completes, in a child limited in memory and time.
// References that fit keep expanding.
TEST(Entities, ExpansionIsBoundedByTheField)
{
    const std::string refs = [] {
        std::string r;
        for (int i = 0; i < 20000; ++i)
            r += "&big;";
        return r;
    }();
    const struct {
        std::string urn_attribute, product_name;
        std::string expected_name;
    } cases[] = {
        {"urn:zo:e", refs, std::string(255, 'x')},
        {refs, "&small;&small;", "ab & cdab & cd"},
    };
    for (const auto &c : cases) {
        TempRoot root;
        write_file(root.registry_file(),
                   "<?xml version=\"1.0\"?>\n<!DOCTYPE registry SYSTEM \"" + root.dtd_file() + "\" [\n"
                   "<!ENTITY big \"" + std::string(100000, 'x') + "\">\n<!ENTITY small \"ab &#38;#38; cd\">\n]>\n"
                   "<registry urn=\"" + c.urn_attribute + "\" version=\"1\">" +
                   raw_record("<instance_urn>urn:e</instance_urn><product_name>" + c.product_name +
                              "</product_name><product_urn>urn:p</product_urn><installer_uid>" +
                              std::to_string(getuid()) + "</installer_uid>") +
                   "</registry>\n");
        const size_t file_size = read_file(root.registry_file()).size();
        EXPECT_EQ(in_child(
                      [&] {
#if defined(__SANITIZE_ADDRESS__)
                          const long rss_limit_kib = 1L << 40;  // the sanitizer's own memory
#else
                          const long rss_limit_kib = 128 * 1024;
                          const rlim_t bytes = 512u << 20;
                          const struct rlimit limit {bytes, bytes};
                          if (setrlimit(RLIMIT_AS, &limit) != 0)
                              return 90;
#endif
                          struct rusage before {};
                          getrusage(RUSAGE_SELF, &before);
                          zo_env_t env{};
                          if (zo_initialize(root.root().c_str(), &env) != ZO_ERR_NO_ERROR)
                              return 1;
                          zo_t s{};
                          ZT_SET(s, instance_urn, "urn:e");
                          if (zo_get(&s, &env) != ZO_ERR_NO_ERROR || s.product_name != c.expected_name)
                              return 2;
                          char **urns = nullptr;
                          if (zo_get_instance_urns("urn:p", &urns, &env) != 1)
                              return 3;
                          zo_free_instance_urns(urns);
                          char *text = nullptr;
                          if (zo_get_registry_xml(&text, &env) != ZO_ERR_NO_ERROR || strlen(text) > 4 * file_size)
                              return 4;
                          zo_free_xml(text);
                          ZT_SET(s, product_parent_urn, "urn:changed");
                          if (zo_update(&s, &env) != ZO_ERR_NO_ERROR || s.product_name != c.expected_name)
                              return 5;
                          if (zo_delete("urn:e", &env) != ZO_ERR_NO_ERROR)
                              return 6;
                          struct rusage after {};
                          getrusage(RUSAGE_SELF, &after);
                          return after.ru_maxrss - before.ru_maxrss < rss_limit_kib ? 0 : 7;
                      },
                      std::chrono::seconds(30)),
                  0);
    }
}

}  // namespace
