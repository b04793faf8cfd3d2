// Adding, updating and deleting records: checks and their order, what is
// written to the file and back into the caller's record, ownership and
// the per-user quota.
#include "ownership.h"
#include "isolation.h"
#include "registry_test_util.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <sched.h>

#include <regex>

using namespace zorbel::test;

namespace {

std::string uid_record(const std::string &urn, const std::string &uid_text)
{
    return raw_record("<instance_urn>" + urn + "</instance_urn><installer_uid>" + uid_text + "</installer_uid>");
}

// The registry file with `record` inserted as the root's last child.
std::string with_record_appended(const std::string &file, const std::string &record)
{
    const size_t end = file.rfind("</registry>");
    return file.substr(0, end) + record + file.substr(end);
}

std::string replace_once(std::string text, const std::string &from, const std::string &to)
{
    const size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::string erase_once(const std::string &text, const std::string &part)
{
    return replace_once(text, part, "");
}

TEST(Add, AppendsTheRecordWithGeneratedValues)
{
    Registry reg(record_xml("urn:old") + "\n<!-- kept -->\n");
    chmod(reg.root.registry_file().c_str(), 0640);
    const std::string before = as_saved(reg.content());
    zo_t s = full_record();
    s.installer_uid = 12345;
    ZT_SET(s, timestamp, "stale");
    ASSERT_EQ(zo_add(&s, &reg.env), ZO_ERR_NO_ERROR);

    EXPECT_TRUE(std::regex_match(s.instance_urn, std::regex("urn:zo:[0-9a-f]{8}-([0-9a-f]{4}-){3}[0-9a-f]{12}")))
        << s.instance_urn;
    EXPECT_TRUE(std::regex_match(s.timestamp, std::regex("20[0-9]{2}-[01][0-9]-[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] GMT")))
        << s.timestamp;
    EXPECT_EQ(s.installer_uid, my_uid());
    const std::string record = std::string("<zorbel><instance_urn>") + s.instance_urn +
                               "</instance_urn><product_name>Product</product_name><product_version>2.0"
                               "</product_version><product_urn>urn:product:p</product_urn><product_parent_urn>"
                               "</product_parent_urn><product_parent>Suite</product_parent>"
                               "<product_defined_inst_id></product_defined_inst_id><product_vendor>Vendor"
                               "</product_vendor><platform_arch>x86_64</platform_arch><timestamp>" +
                               s.timestamp + "</timestamp><container>pkg</container><source>/media/pkg</source>"
                                             "<installer_uid>" +
                               std::to_string(getuid()) + "</installer_uid></zorbel>";
    EXPECT_EQ(reg.content(), with_record_appended(before, record));
    EXPECT_TRUE(valid_registry_file(reg.root.registry_file()));
    struct stat st {};
    stat(reg.root.registry_file().c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    zo_t back{};
    ZT_SET(back, instance_urn, s.instance_urn);
    ASSERT_EQ(zo_get(&back, &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_STREQ(back.product_name, "Product");
    EXPECT_STREQ(back.timestamp, s.timestamp);
    EXPECT_EQ(back.installer_uid, my_uid());
}

TEST(Add, KeepsAGivenUrnAndTheOptionalFields)
{
    Registry reg;
    zo_t s = full_record("my own urn");
    ZT_SET(s, product_parent_urn, "urn:parent");
    ZT_SET(s, product_defined_inst_id, "id-7");
    ASSERT_EQ(zo_add(&s, &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_STREQ(s.instance_urn, "my own urn");
    zo_t back{};
    ZT_SET(back, instance_urn, "my own urn");
    ASSERT_EQ(zo_get(&back, &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_STREQ(back.product_parent_urn, "urn:parent");
    EXPECT_STREQ(back.product_defined_inst_id, "id-7");
}

TEST(Add, DuplicateUrnIsRefusedBeforeAnyFieldCheck)
{
    Registry reg(record_xml("urn:a") + record_xml("urn:b") + record_xml("urn:b"));
    const std::string before = reg.content();
    zo_t s{};
    ZT_SET(s, instance_urn, "urn:b");
    EXPECT_EQ(zo_add(&s, &reg.env), ZO_ERR_DUP_REC);
    EXPECT_EQ(reg.content(), before);
}

TEST(Add, RequiredFieldsThenLengthsInFieldOrder)
{
    Registry reg;
    const std::string before = reg.content();
    zo_t s = full_record();
    ZT_SET(s, container, "");
    EXPECT_EQ(zo_add(&s, &reg.env), ZO_ERR_MISSING_FIELD);
    memset(s.product_name, 'n', sizeof s.product_name);  // overlong, but the missing field counts first
    EXPECT_EQ(zo_add(&s, &reg.env), ZO_ERR_MISSING_FIELD);
    ZT_SET(s, container, "pkg");
    EXPECT_EQ(zo_add(&s, &reg.env), ZO_ERR_MAX_LEN_EXCEEDED);

    s = full_record();
    memset(s.product_version, 'v', sizeof s.product_version);
    EXPECT_EQ(zo_add(&s, &reg.env), ZO_ERR_MAX_LEN_EXCEEDED);
    s = full_record();
    memset(s.product_defined_inst_id, 'd', sizeof s.product_defined_inst_id);
    EXPECT_EQ(zo_add(&s, &reg.env), ZO_ERR_MAX_LEN_EXCEEDED);
    s = full_record();
    memset(s.instance_urn, 'u', sizeof s.instance_urn);
    EXPECT_EQ(zo_add(&s, &reg.env), ZO_ERR_MAX_LEN_EXCEEDED);
    EXPECT_EQ(zo_add(nullptr, &reg.env), ZO_ERR_MISSING_FIELD);
    zo_env_t fresh{};
    EXPECT_EQ(zo_add(&s, &fresh), ZO_ERR_NOT_INIT);
    EXPECT_EQ(reg.content(), before);

    s = full_record();
    ZT_SET(s, product_version, std::string(63, 'v'));
    ZT_SET(s, product_name, std::string(255, 'n'));
    EXPECT_EQ(zo_add(&s, &reg.env), ZO_ERR_NO_ERROR);
}

TEST(Add, StoresMarkupLiterally)
{
    Registry reg;
    zo_t s = full_record("urn:markup");
    ZT_SET(s, product_name, "R&D <x> \"q\" &amp; caf\xc3\xa9");
    ASSERT_EQ(zo_add(&s, &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_NE(reg.content().find("R&amp;D &lt;x&gt; \"q\" &amp;amp; caf\xc3\xa9"), std::string::npos);
    zo_t back{};
    ZT_SET(back, instance_urn, "urn:markup");
    ASSERT_EQ(zo_get(&back, &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_STREQ(back.product_name, "R&D <x> \"q\" &amp; caf\xc3\xa9");
}

TEST(Add, RefusesTextThatNoXmlDocumentCanHold)
{
    Registry reg(record_xml("urn:a"));
    const std::string before = reg.content();
    for (const char *bad : {"bell\x07", "cut \xc3", "overlong \xc0\xaf", "surrogate \xed\xa0\x80", "\xef\xbf\xbe"}) {
        zo_t s = full_record();
        ZT_SET(s, source, bad);
        EXPECT_EQ(zo_add(&s, &reg.env), ZO_ERR_XML_SAVE_REG) << bad;
        EXPECT_EQ(reg.content(), before);
    }
    zo_t s = full_record("urn:\x01");
    EXPECT_EQ(zo_add(&s, &reg.env), ZO_ERR_XML_SAVE_REG);
    s = full_record();
    ZT_SET(s, source, "tab\tnewline\nreturn\r \xf0\x9f\x99\x82");
    ASSERT_EQ(zo_add(&s, &reg.env), ZO_ERR_NO_ERROR);
    zo_t back{};
    ZT_SET(back, instance_urn, s.instance_urn);
    ASSERT_EQ(zo_get(&back, &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_STREQ(back.source, "tab\tnewline\nreturn\r \xf0\x9f\x99\x82");
}

TEST(Add, QuotaOf500RecordsPerUser)
{
    const std::string me = std::to_string(getuid());
    std::string others;
    for (int i = 0; i < 20; ++i) {
        others += uid_record("urn:other:" + std::to_string(i), std::to_string(getuid() + 1));
        others += uid_record("urn:zero:" + std::to_string(i), "0" + me);  // not the same text
        others += uid_record("urn:plus:" + std::to_string(i), "+" + me);
    }
    Registry reg(many_records(499, "urn:mine:", "urn:p", my_uid()) + others);
    zo_t s = full_record();
    ASSERT_EQ(zo_add(&s, &reg.env), ZO_ERR_NO_ERROR);  // the 500th

    const std::string before = reg.content();
    s = full_record();
    s.installer_uid = -5;
    EXPECT_EQ(zo_add(&s, &reg.env), ZO_ERR_MAX_REC_PER_USER_EXCEEDED);
    EXPECT_EQ(s.installer_uid, my_uid());
    EXPECT_STREQ(s.instance_urn, "");
    EXPECT_EQ(reg.content(), before);

    reg.root.write_registry(many_records(501, "urn:mine:", "urn:p", my_uid()));
    s = full_record();
    EXPECT_EQ(zo_add(&s, &reg.env), ZO_ERR_MAX_REC_PER_USER_EXCEEDED);
}

TEST(Add, ReadsTheRegistryEvenWhenItNoLongerValidates)
{
    Registry reg(record_xml("urn:a"));
    // Well-formed but without its document type: the lookup fails, the add goes on.
    write_file(reg.root.registry_file(), "<?xml version=\"1.0\"?>\n<registry urn=\"u\" version=\"v\"/>\n");
    zo_t s = full_record("urn:new");
    EXPECT_EQ(zo_add(&s, &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_NE(reg.content().find("urn:new"), std::string::npos);

    write_file(reg.root.registry_file(), "<?xml version=\"1.0\"?>\n<registry");
    s = full_record("urn:new2");
    EXPECT_EQ(zo_add(&s, &reg.env), ZO_ERR_XML_PARSE);
    EXPECT_EQ(reg.content(), "<?xml version=\"1.0\"?>\n<registry");
}

TEST(Update, ChangesTheGivenFieldAndReadsTheRestBack)
{
    const std::string other = as_saved(record_xml("urn:other"));
    const int owner = geteuid() == 0 ? 4321 : my_uid();  // root may update a record of another user
    Registry reg(record_xml("urn:a", "urn:p", owner, "Stored") + other);
    write_file(reg.root.registry_file(),
               replace_once(reg.content(), "<product_defined_inst_id></product_defined_inst_id>",
                            "<product_defined_inst_id>kept-id</product_defined_inst_id>"));
    zo_t s{};
    ZT_SET(s, instance_urn, "urn:a");
    ZT_SET(s, product_parent_urn, "urn:new-parent");
    ZT_SET(s, product_name, "ignored");
    ASSERT_EQ(zo_update(&s, &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_STREQ(s.product_parent_urn, "urn:new-parent");
    EXPECT_STREQ(s.product_defined_inst_id, "kept-id");
    EXPECT_STREQ(s.product_name, "Stored");
    EXPECT_STREQ(s.product_urn, "urn:p");
    EXPECT_STREQ(s.source, "s");
    EXPECT_EQ(s.installer_uid, my_uid());
    EXPECT_NE(std::string(s.timestamp), "2026-12-07 05:31:11 GMT");

    zo_t back{};
    ZT_SET(back, instance_urn, "urn:a");
    ASSERT_EQ(zo_get(&back, &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_EQ(memcmp(&back, &s, sizeof s), 0);
    const std::string after = reg.content();
    EXPECT_NE(after.find(other), std::string::npos);  // the other record is untouched
    EXPECT_TRUE(valid_registry_file(reg.root.registry_file()));
}

TEST(Update, StoresValuesLiterally)
{
    Registry reg(record_xml("urn:a", "urn:p", my_uid()));
    zo_t s{};
    ZT_SET(s, instance_urn, "urn:a");
    ZT_SET(s, product_parent_urn, "R&D");
    ZT_SET(s, product_defined_inst_id, "&amp; &lt; <x/> &#65;");
    ASSERT_EQ(zo_update(&s, &reg.env), ZO_ERR_NO_ERROR);
    zo_t back{};
    ZT_SET(back, instance_urn, "urn:a");
    ASSERT_EQ(zo_get(&back, &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_STREQ(back.product_parent_urn, "R&D");
    EXPECT_STREQ(back.product_defined_inst_id, "&amp; &lt; <x/> &#65;");

    ZT_SET(s, product_parent_urn, "bad\x1b");
    const std::string before = reg.content();
    EXPECT_EQ(zo_update(&s, &reg.env), ZO_ERR_XML_SAVE_REG);
    EXPECT_EQ(reg.content(), before);
}

TEST(Update, ChecksInOrder)
{
    Registry reg(record_xml("urn:a"));
    const std::string before = reg.content();
    zo_t s{};
    ZT_SET(s, instance_urn, "urn:a");
    EXPECT_EQ(zo_update(&s, &reg.env), ZO_ERR_MISSING_FIELD);  // neither updatable field given
    ZT_SET(s, instance_urn, "");
    ZT_SET(s, product_defined_inst_id, "x");
    EXPECT_EQ(zo_update(&s, &reg.env), ZO_ERR_MISSING_FIELD);
    EXPECT_EQ(zo_update(nullptr, &reg.env), ZO_ERR_MISSING_FIELD);
    ZT_SET(s, instance_urn, "urn:a");
    memset(s.product_parent_urn, 'p', sizeof s.product_parent_urn);
    EXPECT_EQ(zo_update(&s, &reg.env), ZO_ERR_MAX_LEN_EXCEEDED);
    ZT_SET(s, product_parent_urn, "p");
    ZT_SET(s, instance_urn, "urn:missing");
    EXPECT_EQ(zo_update(&s, &reg.env), ZO_ERR_REC_NOT_FOUND);
    zo_env_t fresh{};
    EXPECT_EQ(zo_update(&s, &fresh), ZO_ERR_NOT_INIT);
    EXPECT_EQ(reg.content(), before);

    std::filesystem::remove(reg.root.dtd_file());  // an invalid registry is a failed lookup
    ZT_SET(s, instance_urn, "urn:a");
    EXPECT_EQ(zo_update(&s, &reg.env), ZO_ERR_REC_NOT_FOUND);
    EXPECT_EQ(reg.content(), before);
}

TEST(Update, OnlyTheFirstOfTwoRecordsWithOneUrn)
{
    Registry reg(record_xml("urn:d", "urn:p", my_uid(), "One") + record_xml("urn:d", "urn:p", my_uid(), "Two"));
    zo_t s{};
    ZT_SET(s, instance_urn, "urn:d");
    ZT_SET(s, product_defined_inst_id, "changed");
    ASSERT_EQ(zo_update(&s, &reg.env), ZO_ERR_NO_ERROR);
    const std::string after = reg.content();
    const size_t one = after.find("One"), changed = after.find("changed"), two = after.find("Two");
    ASSERT_NE(changed, std::string::npos);
    EXPECT_LT(one, changed);
    EXPECT_LT(changed, two);
    EXPECT_EQ(after.find("changed", changed + 1), std::string::npos);
}

TEST(Update, LeavesOutElementsTheRecordLacks)
{
    const std::string bare = "<zorbel><instance_urn>urn:bare</instance_urn><product_name>N</product_name>"
                             "<installer_uid>" + std::to_string(my_uid()) + "</installer_uid></zorbel>";
    Registry reg(bare);
    zo_t s{};
    ZT_SET(s, instance_urn, "urn:bare");
    ZT_SET(s, product_parent_urn, "urn:pp");
    ZT_SET(s, timestamp, "untouched");
    ASSERT_EQ(zo_update(&s, &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_NE(reg.content().find(bare), std::string::npos);
    EXPECT_STREQ(s.product_name, "N");
    EXPECT_STREQ(s.timestamp, "untouched");
    EXPECT_EQ(s.installer_uid, my_uid());
}

TEST(Delete, RemovesExactlyTheFirstMatchingRecord)
{
    const std::string a = record_xml("urn:a"), b1 = as_saved(record_xml("urn:b", "urn:p", my_uid(), "B1")),
                      b2 = as_saved(record_xml("urn:b", "urn:p", my_uid(), "B2")), c = record_xml("urn:c");
    Registry reg(a + "\n" + b1 + "<!-- note -->" + b2 + c);
    const std::string before = as_saved(reg.content());
    ASSERT_EQ(zo_delete("urn:b", &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_EQ(reg.content(), erase_once(before, b1));
    ASSERT_EQ(zo_delete("urn:b", &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_EQ(reg.content(), erase_once(erase_once(before, b1), b2));
    EXPECT_EQ(zo_delete("urn:b", &reg.env), ZO_ERR_REC_NOT_FOUND);
    EXPECT_TRUE(valid_registry_file(reg.root.registry_file()));
}

TEST(Delete, ArgumentChecks)
{
    Registry reg(record_xml("urn:a"));
    const std::string before = reg.content();
    EXPECT_EQ(zo_delete(nullptr, &reg.env), ZO_ERR_MISSING_FIELD);
    EXPECT_EQ(zo_delete("", &reg.env), ZO_ERR_MISSING_FIELD);
    EXPECT_EQ(zo_delete(std::string(256, 'u').c_str(), &reg.env), ZO_ERR_MAX_LEN_EXCEEDED);
    EXPECT_EQ(zo_delete(std::string(255, 'u').c_str(), &reg.env), ZO_ERR_REC_NOT_FOUND);
    zo_env_t fresh{};
    EXPECT_EQ(zo_delete("urn:a", &fresh), ZO_ERR_NOT_INIT);
    EXPECT_EQ(reg.content(), before);
}

TEST(Ownership, OnlyRootTheAccountOrTheOwnerMayChange)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    Registry reg(record_xml("urn:root-owned", "urn:p", 0) +
                 record_xml("urn:theirs", "urn:p", static_cast<int>(nobody_uid)) +
                 record_xml("urn:also-theirs", "urn:p", static_cast<int>(nobody_uid)));
    open_to_all_users(reg.root);
    const std::string before = reg.content();
    EXPECT_EQ(as_unprivileged([&] {
                  zo_t s{};
                  ZT_SET(s, instance_urn, "urn:root-owned");
                  ZT_SET(s, product_parent_urn, "x");
                  if (zo_update(&s, &reg.env) != ZO_ERR_NOT_AUTH)
                      return 1;
                  return zo_delete("urn:root-owned", &reg.env) == ZO_ERR_NOT_AUTH ? 0 : 2;
              }),
              0);
    EXPECT_EQ(reg.content(), before);

    EXPECT_EQ(as_unprivileged([&] {
                  zo_t s{};
                  ZT_SET(s, instance_urn, "urn:theirs");
                  ZT_SET(s, product_parent_urn, "by the owner");
                  if (zo_update(&s, &reg.env) != ZO_ERR_NO_ERROR || s.installer_uid != static_cast<int>(nobody_uid))
                      return 1;
                  return zo_delete("urn:also-theirs", &reg.env) == ZO_ERR_NO_ERROR ? 0 : 2;
              }),
              0);

    // Once root has updated it, the record is root's.
    zo_t s{};
    ZT_SET(s, instance_urn, "urn:theirs");
    ZT_SET(s, product_defined_inst_id, "by root");
    ASSERT_EQ(zo_update(&s, &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_EQ(s.installer_uid, 0);
    EXPECT_EQ(as_unprivileged([&] { return zo_delete("urn:theirs", &reg.env) == ZO_ERR_NOT_AUTH ? 0 : 1; }), 0);
}

TEST(Ownership, TheZorbelAccountIsLookedUpOnEveryCall)
{
    if (const std::string why = private_mounts_unavailable(); !why.empty())
        GTEST_SKIP() << why << ", for a private /etc/passwd";
    constexpr uid_t account = 4242;
    TempRoot scratch;
    const std::string passwd = scratch.root() + "/passwd";
    const std::string without_account = read_file("/etc/passwd");
    write_file(passwd, without_account + "zorbel:x:4242:4242::/:/bin/false\n");
    ASSERT_EQ(chown(passwd.c_str(), account, account), 0);
    std::filesystem::permissions(scratch.root(), std::filesystem::perms::all);
    Registry reg(record_xml("urn:root-owned", "urn:p", 0));
    open_to_all_users(reg.root);

    EXPECT_EQ(in_child([&] {
                  if (!enter_private_mounts() || mount(passwd.c_str(), "/etc/passwd", nullptr, MS_BIND, nullptr) != 0)
                      return 90;
                  if (!become_user(account, account))
                      return 91;
                  if (zorbel::is_authorized("1") != 1)
                      return 1;
                  zo_t s{};
                  ZT_SET(s, instance_urn, "urn:root-owned");
                  ZT_SET(s, product_parent_urn, "by the account");
                  if (zo_update(&s, &reg.env) != ZO_ERR_NO_ERROR)
                      return 2;
                  write_file(passwd, without_account);  // the account is gone from now on
                  if (zorbel::is_authorized("1") != 0)
                      return 3;
                  return zorbel::is_authorized(std::to_string(account)) == 1 ? 0 : 4;
              }),
              0);
}

TEST(Ownership, IsAuthorizedComparesTheOwnerText)
{
    EXPECT_EQ(zorbel::is_authorized(std::to_string(getuid())), 1);
    if (geteuid() != 0)
        return;
    EXPECT_EQ(zorbel::is_authorized(""), 1);  // root may change anything
    EXPECT_EQ(as_unprivileged([] {
                  const std::string me = std::to_string(getuid());
                  // An empty installer_uid belongs to nobody; only the exact text is the owner.
                  for (const std::string &other : std::vector<std::string>{"", "0" + me, "+" + me, " " + me, me + "0", "-1"}) {
                      if (zorbel::is_authorized(other) != 0)
                          return 1;
                  }
                  return zorbel::is_authorized(me) == 1 ? 0 : 2;
              }),
              0);
}

// Users whose ids take nine digits or more, or do not fit an int: each id
// is stored in full, its owner keeps its records and nobody else gets them.
TEST(Ownership, EveryUidIsStoredAndComparedInFull)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as other users";
    struct Case {
        uid_t owner;
        uid_t intruder;      // shares a prefix or a cut text with the owner
        bool written_before; // the record comes from an older registry
        int read_back;       // the record's installer_uid as zo_get reads it
    };
    const Case cases[] = {
        {1234567890, 123456789, false, 1234567890},
        {123456789, 1234567890, false, 123456789},
        {123456789, 1234567891, true, 123456789},
        {4000000000u, 123456789, false, -1},
        {2147483648u, 2147483647, false, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("owner " + std::to_string(c.owner));
        Registry reg(c.written_before ? record_xml("urn:u", "urn:p", static_cast<int>(c.owner)) : "");
        open_to_all_users(reg.root);
        const auto as = [&](uid_t uid, const std::function<int()> &body) {
            return in_child([&] { return become_user(uid, uid) ? body() : 90; });
        };
        if (!c.written_before) {
            ASSERT_EQ(as(c.owner, [&] {
                          zo_t s = full_record("urn:u");
                          return zo_add(&s, &reg.env) == ZO_ERR_NO_ERROR && s.installer_uid == c.read_back ? 0 : 1;
                      }),
                      0);
        }
        EXPECT_NE(reg.content().find("<installer_uid>" + std::to_string(c.owner) + "</installer_uid>"),
                  std::string::npos);
        const std::string before = reg.content();
        EXPECT_EQ(as(c.intruder, [&] {
                      zo_t s{};
                      ZT_SET(s, instance_urn, "urn:u");
                      ZT_SET(s, product_parent_urn, "intruder");
                      if (zo_update(&s, &reg.env) != ZO_ERR_NOT_AUTH)
                          return 1;
                      return zo_delete("urn:u", &reg.env) == ZO_ERR_NOT_AUTH ? 0 : 2;
                  }),
                  0);
        EXPECT_EQ(reg.content(), before);
        EXPECT_EQ(as(c.owner, [&] {
                      zo_t s{};
                      ZT_SET(s, instance_urn, "urn:u");
                      if (zo_get(&s, &reg.env) != ZO_ERR_NO_ERROR || s.installer_uid != c.read_back)
                          return 1;
                      ZT_SET(s, product_parent_urn, "owner");
                      if (zo_update(&s, &reg.env) != ZO_ERR_NO_ERROR || s.installer_uid != c.read_back)
                          return 2;
                      return zo_delete("urn:u", &reg.env) == ZO_ERR_NO_ERROR ? 0 : 3;
                  }),
                  0);
    }
}

// Two users whose ids share their first nine digits have a quota each.
TEST(Ownership, QuotaIsPerFullUid)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as other users";
    Registry reg(many_records(500, "urn:q:", "urn:p", 1000000001));
    open_to_all_users(reg.root);
    for (const auto &[uid, expected] : {std::pair{1000000002u, ZO_ERR_NO_ERROR},
                                       std::pair{1000000001u, ZO_ERR_MAX_REC_PER_USER_EXCEEDED}}) {
        EXPECT_EQ(in_child([&, uid = uid, expected = expected] {
                      zo_t s = full_record();
                      return become_user(uid, uid) ? (zo_add(&s, &reg.env) == expected ? 0 : 1) : 90;
                  }),
                  0)
            << uid;
    }
}

TEST(Locking, UnwritableRegistryIsReportedAfterEveryOtherCheck)
{
    Registry reg(record_xml("urn:a", "urn:p", geteuid() == 0 ? 0 : my_uid() + 1));
    open_to_all_users(reg.root);
    chmod(reg.root.registry_file().c_str(), 0444);
    const std::string before = reg.content();
    EXPECT_EQ(as_unprivileged([&] {
                  zo_t s = full_record();
                  ZT_SET(s, container, "");
                  if (zo_add(&s, &reg.env) != ZO_ERR_MISSING_FIELD)
                      return 1;
                  s = full_record("urn:a");
                  if (zo_add(&s, &reg.env) != ZO_ERR_DUP_REC)
                      return 2;
                  s = full_record();
                  if (zo_add(&s, &reg.env) != ZO_ERR_FILE_ERR)
                      return 3;
                  zo_t u{};
                  ZT_SET(u, instance_urn, "urn:missing");
                  ZT_SET(u, product_parent_urn, "p");
                  if (zo_update(&u, &reg.env) != ZO_ERR_REC_NOT_FOUND)
                      return 4;
                  ZT_SET(u, instance_urn, "urn:a");
                  if (zo_update(&u, &reg.env) != ZO_ERR_NOT_AUTH)
                      return 5;
                  return zo_delete("urn:missing", &reg.env) == ZO_ERR_REC_NOT_FOUND ? 0 : 6;
              }),
              0);
    EXPECT_EQ(reg.content(), before);
}

TEST(Locking, DirectoryWithoutRoomForATemporaryFileIsRewrittenInPlace)
{
    Registry reg(record_xml("urn:a", "urn:p", static_cast<int>(geteuid() == 0 ? nobody_uid : getuid())));
    open_to_all_users(reg.root);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(reg.root.registry_file().c_str(), nobody_uid, nobody_gid), 0);
    }
    chmod(reg.root.registry_dir().c_str(), 0555);
    chmod(reg.root.registry_file().c_str(), 0604);
    struct stat before {};
    stat(reg.root.registry_file().c_str(), &before);
    EXPECT_EQ(as_unprivileged([&] {
                  zo_t s = full_record("urn:in-place");
                  if (zo_add(&s, &reg.env) != ZO_ERR_NO_ERROR)
                      return 1;
                  return zo_delete("urn:a", &reg.env) == ZO_ERR_NO_ERROR ? 0 : 2;
              }),
              0);
    chmod(reg.root.registry_dir().c_str(), 0755);
    struct stat after {};
    stat(reg.root.registry_file().c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
    auto doc = valid_registry_file(reg.root.registry_file());
    ASSERT_TRUE(doc);
    EXPECT_EQ(instance_urns_of(doc.get()), std::vector<std::string>{"urn:in-place"});
}

}  // namespace
