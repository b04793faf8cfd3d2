// Time-based UUIDs: layout, uniqueness, text form, parsing, comparison and
// the host sources they are made from.
#include "isolation.h"
#include "process.h"
#include "sysdep.h"
#include "zorbel.h"
#include "zorbel_uuid.h"

#include <gtest/gtest.h>

#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

using zorbel::test::Child;

uuid_time_t timestamp_of(const uuid_t &u)
{
    return static_cast<uuid_time_t>(u.time_low) | (static_cast<uuid_time_t>(u.time_mid) << 32) |
           (static_cast<uuid_time_t>(u.time_hi_and_version & 0x0FFF) << 48);
}

unsigned clock_seq_of(const uuid_t &u)
{
    return static_cast<unsigned>((u.clock_seq_hi_and_reserved & 0x3F) << 8) | u.clock_seq_low;
}

std::string bytes_of(const uuid_t &u)
{
    static_assert(sizeof(uuid_t) == 16);
    return std::string(reinterpret_cast<const char *>(&u), sizeof u);
}

std::string text_of(const uuid_t &u)
{
    char buf[37];
    uuid_tostring(&u, buf);
    return buf;
}

bool all_distinct(const std::vector<uuid_t> &uuids)
{
    std::vector<std::array<byte, 16>> keys(uuids.size());
    for (size_t i = 0; i < uuids.size(); ++i)
        memcpy(keys[i].data(), &uuids[i], 16);
    std::sort(keys.begin(), keys.end());
    return std::adjacent_find(keys.begin(), keys.end()) == keys.end();
}

uuid_t make_uuid()
{
    uuid_t u{};
    // A fresh clock sequence of 0 fails the call (one draw in 65536).
    for (int i = 0; i < 3 && !uuid_create(&u); ++i) {
    }
    return u;
}

// The node text: the host identifier's top byte, "0020", its three low bytes.
std::string expected_node_text()
{
    char buf[16];
    const auto h = static_cast<uint32_t>(gethostid());
    snprintf(buf, sizeof buf, "%02x0020%06x", h >> 24, h & 0xFFFFFF);
    return buf;
}

TEST(UuidCreate, VersionVariantAndNodeFromTheHostIdentifier)
{
    const auto h = static_cast<uint32_t>(gethostid());
    const byte node[6] = {static_cast<byte>(h >> 24), 0x00, 0x20, static_cast<byte>(h >> 16),
                          static_cast<byte>(h >> 8), static_cast<byte>(h)};
    for (int i = 0; i < 100; ++i) {
        uuid_t u{};
        ASSERT_EQ(uuid_create(&u) || uuid_create(&u), 1);
        EXPECT_EQ(u.time_hi_and_version >> 12, 1);
        EXPECT_EQ(u.clock_seq_hi_and_reserved & 0xC0, 0x80);
        EXPECT_EQ(memcmp(u.node, node, 6), 0);
        const std::string text = text_of(u);
        EXPECT_EQ(text[14], '1');
        EXPECT_NE(std::string("89ab").find(text[19]), std::string::npos) << text;
        EXPECT_EQ(text.substr(24), expected_node_text());
    }
    uuid_node_t n1{}, n2{};
    get_ieee_node_identifier(&n1);
    get_ieee_node_identifier(&n2);
    EXPECT_EQ(memcmp(n1.id, node, 6), 0);
    EXPECT_EQ(memcmp(n2.id, node, 6), 0);
}

TEST(UuidCreate, TimestampIsTheClockInHundredsOfNanoseconds)
{
    constexpr uuid_time_t to_1970 = 0x01B21DD213814000ULL;
    timeval before{}, after{};
    gettimeofday(&before, nullptr);
    const uuid_t u = make_uuid();
    uuid_time_t clock = 0;
    get_system_time(&clock);
    gettimeofday(&after, nullptr);
    const auto as_uuid_time = [&](const timeval &tv) {
        return static_cast<uuid_time_t>(tv.tv_sec) * 10000000 + static_cast<uuid_time_t>(tv.tv_usec) * 10 +
               to_1970;
    };
    EXPECT_EQ(clock % 10, 0u);
    EXPECT_GE(clock, as_uuid_time(before));
    EXPECT_LE(clock, as_uuid_time(after));
    // The UUID's time is its clock reading plus at most 1024 counts.
    EXPECT_GE(timestamp_of(u), as_uuid_time(before));
    EXPECT_LE(timestamp_of(u), as_uuid_time(after) + 1024);
}

// A few hundred thousand UUIDs in a tight loop (many per microsecond): all
// distinct.  Between two of them, a timestamp that does not rise must raise
// the clock sequence by one; one that rises without being a fresh reading
// (a multiple of 10) is the previous one plus 1.
TEST(UuidCreate, UniqueInATightLoop)
{
    constexpr size_t count = 300000;
    std::vector<uuid_t> made(count + 1);
    made[0] = make_uuid();
    for (size_t i = 1; i <= count; ++i)
        ASSERT_EQ(uuid_create(&made[i]), 1);

    size_t rises_by_one = 0, repeats_of_time = 0;
    for (size_t i = 1; i <= count; ++i) {
        const uuid_t &u = made[i], &prev = made[i - 1];
        const uuid_time_t ts = timestamp_of(u), last = timestamp_of(prev);
        if (ts <= last) {
            ASSERT_EQ(clock_seq_of(u), (clock_seq_of(prev) + 1) & 0x3FFF) << i;
            repeats_of_time += ts == last;
        } else {
            ASSERT_EQ(clock_seq_of(u), clock_seq_of(prev)) << i;
            ASSERT_TRUE(ts % 10 == 0 || ts == last + 1) << i << ": " << ts << " after " << last;
            rises_by_one += ts == last + 1;
        }
    }
    EXPECT_GT(rises_by_one, 0u);
    RecordProperty("repeated_timestamps", static_cast<int>(repeats_of_time));

    EXPECT_TRUE(all_distinct(made));
}

TEST(UuidCreate, UniqueAcrossThreads)
{
    constexpr size_t threads = 4, each = 20000;
    std::vector<uuid_t> made(threads * each);
    std::vector<std::thread> workers;
    std::atomic<size_t> failed{0};
    for (size_t t = 0; t < threads; ++t)
        workers.emplace_back([&made, &failed, t] {
            for (size_t i = 0; i < each; ++i)
                failed += uuid_create(&made[t * each + i]) ? 0 : 1;
        });
    for (auto &w : workers)
        w.join();
    EXPECT_EQ(failed, 0u);
    EXPECT_TRUE(all_distinct(made));
}

// A forked child draws its own clock sequence instead of carrying on with
// its parent's, which would repeat the parent's UUIDs.
TEST(UuidCreate, ForkedChildDrawsItsOwnClockSequence)
{
    const uuid_t parent = make_uuid();
    const unsigned cs = clock_seq_of(parent);
    int carried_on = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        Child child = Child::fork_call([cs] {
            const unsigned mine = clock_seq_of(make_uuid());
            return mine == cs || mine == ((cs + 1) & 0x3FFF) ? 1 : 0;
        });
        carried_on += child.wait_exit_code();
    }
    EXPECT_LT(carried_on, 3);  // a fresh draw matches by chance once in 8192
}

TEST(UuidCreate, NullOutputFails)
{
    EXPECT_EQ(uuid_create(nullptr), 0);
}

TEST(GenerateUrn, FortyThreeCharactersWithTheNamespace)
{
    char urn[256];
    ASSERT_EQ(generate_urn(urn, "zo"), ZO_ERR_NO_ERROR);
    const std::string s = urn;
    EXPECT_EQ(s.size(), 43u);
    EXPECT_EQ(s.substr(0, 7), "urn:zo:");
    EXPECT_EQ(s.substr(7 + 14, 1), "1");
    EXPECT_EQ(s.substr(7 + 24), expected_node_text());
    uuid_t u{};
    EXPECT_EQ(uuid_fromstring(&u, urn + 7), 0);

    ASSERT_EQ(generate_urn(urn, "other"), ZO_ERR_NO_ERROR);
    EXPECT_EQ(std::string(urn).substr(0, 10), "urn:other:");
    EXPECT_EQ(strlen(urn), 46u);
    char second[256];
    ASSERT_EQ(generate_urn(second, "other"), ZO_ERR_NO_ERROR);
    EXPECT_STRNE(urn, second);
}

TEST(UuidText, FixedLowerCaseLayout)
{
    uuid_t u{};
    u.time_low = 0x0123abcd;
    u.time_mid = 0x00ef;
    u.time_hi_and_version = 0x1002;
    u.clock_seq_hi_and_reserved = 0x8a;
    u.clock_seq_low = 0x05;
    const byte node[6] = {0x00, 0x00, 0x20, 0xfe, 0x0d, 0x01};
    memcpy(u.node, node, 6);
    char buf[40];
    memset(buf, 'x', sizeof buf);
    uuid_tostring(&u, buf);
    EXPECT_STREQ(buf, "0123abcd-00ef-1002-8a05-000020fe0d01");
    EXPECT_EQ(buf[37], 'x');
}

const char *const sample = "0123abcd-00ef-1002-8a05-000020fe0d01";

uuid_t sentinel()
{
    uuid_t u;
    memset(&u, 0x5a, sizeof u);
    return u;
}

TEST(UuidFromString, RoundTripsAndCompareEqual)
{
    for (int i = 0; i < 20; ++i) {
        const uuid_t made = make_uuid();
        uuid_t back = sentinel();
        ASSERT_EQ(uuid_fromstring(&back, text_of(made).c_str()), 0);
        EXPECT_EQ(uuid_compare(&made, &back), 0);
        EXPECT_EQ(bytes_of(made), bytes_of(back));
    }
    uuid_t u{};
    ASSERT_EQ(uuid_fromstring(&u, "0123ABCD-00EF-1002-8A05-000020FE0D01"), 0);
    EXPECT_EQ(text_of(u), sample);
}

TEST(UuidFromString, LengthRules)
{
    uuid_t u = sentinel();
    const std::string s = sample;
    EXPECT_EQ(uuid_fromstring(&u, (s + "abcd").c_str()), 0);  // 40: the rest is not examined
    EXPECT_EQ(text_of(u), s);
    u = sentinel();
    EXPECT_EQ(uuid_fromstring(&u, (s + "abcde").c_str()), 1);  // 41
    EXPECT_EQ(bytes_of(u), bytes_of(sentinel()));
    // 35 characters: the last group is cut short by the end and converts as far as it goes.
    EXPECT_EQ(uuid_fromstring(&u, s.substr(0, 35).c_str()), 0);
    EXPECT_EQ(u.node[5], 0x00);
    EXPECT_EQ(u.node[4], 0x0d);
    // A group that would begin at or past the end fails.
    u = sentinel();
    EXPECT_EQ(uuid_fromstring(&u, s.substr(0, 34).c_str()), 1);
    EXPECT_EQ(uuid_fromstring(&u, s.substr(0, 23).c_str()), 1);
    EXPECT_EQ(uuid_fromstring(&u, s.substr(0, 8).c_str()), 1);
    EXPECT_EQ(uuid_fromstring(&u, ""), 1);
    EXPECT_EQ(bytes_of(u), bytes_of(sentinel()));
}

TEST(UuidFromString, DashesAtFixedPositions)
{
    for (size_t pos : {8u, 13u, 18u, 23u}) {
        std::string s = sample;
        s[pos] = '0';
        uuid_t u = sentinel();
        EXPECT_EQ(uuid_fromstring(&u, s.c_str()), 1) << pos;
        EXPECT_EQ(bytes_of(u), bytes_of(sentinel()));
    }
    // The two clock-sequence groups are adjacent: position 21 is not a
    // dash position, so "-5" is read as minus five, cut to a byte.
    uuid_t u{};
    EXPECT_EQ(uuid_fromstring(&u, "0123abcd-00ef-1002-8a-5-000020fe0d01"), 0);
    EXPECT_EQ(u.clock_seq_low, 0xfb);
}

TEST(UuidFromString, GroupsReadLikeScanfHex)
{
    uuid_t u{};
    // Leading white space and a 0x prefix are accepted within a group.
    ASSERT_EQ(uuid_fromstring(&u, " 0x23abc-00ef-1002-8a05-000020fe0d01"), 0);
    EXPECT_EQ(u.time_low, 0x23abcu);
    // The conversion stops at the first non-digit; the rest of the group is ignored.
    ASSERT_EQ(uuid_fromstring(&u, "12zzzzzz-00ef-1002-8a05-000020fe0d01"), 0);
    EXPECT_EQ(u.time_low, 0x12u);
    // A sign is accepted and the value is cut to the field's width.
    ASSERT_EQ(uuid_fromstring(&u, "-0000001-00ef-1002-8a05-000020fe0d01"), 0);
    EXPECT_EQ(u.time_low, 0xFFFFFFFFu);
    // A group without any digit fails, and nothing is stored.
    u = sentinel();
    EXPECT_EQ(uuid_fromstring(&u, "0123abcd-00ef-1002-8a05-0000zzfe0d01"), 1);
    EXPECT_EQ(uuid_fromstring(&u, "zzzzzzzz-00ef-1002-8a05-000020fe0d01"), 1);
    EXPECT_EQ(bytes_of(u), bytes_of(sentinel()));
    EXPECT_EQ(uuid_fromstring(&u, nullptr), 1);
    EXPECT_EQ(uuid_fromstring(nullptr, sample), 1);
}

TEST(UuidCompare, FieldByFieldFirstDifferenceDecides)
{
    uuid_t a{}, b{};
    ASSERT_EQ(uuid_fromstring(&a, sample), 0);
    b = a;
    EXPECT_EQ(uuid_compare(&a, &b), 0);
    b.node[5] = 0x02;
    EXPECT_EQ(uuid_compare(&a, &b), -1);
    EXPECT_EQ(uuid_compare(&b, &a), 1);
    // time_low first: a smaller time_low wins over every later field.
    b = a;
    b.time_low = a.time_low + 1;
    b.time_mid = 0;
    b.time_hi_and_version = 0;
    memset(b.node, 0, 6);
    EXPECT_EQ(uuid_compare(&a, &b), -1);
    // Fields compare as unsigned numbers.
    b = a;
    b.clock_seq_hi_and_reserved = 0xff;
    EXPECT_EQ(uuid_compare(&a, &b), -1);
    b = a;
    b.time_mid = 0xffff;
    EXPECT_EQ(uuid_compare(&b, &a), 1);
}

TEST(HostDescriptions, NodeIdentifierIsTheHostIdInHex)
{
    char buf[12];
    get_node_identifier(buf);
    char expected[32];
    snprintf(expected, sizeof expected, "%lx", static_cast<unsigned long>(static_cast<uint32_t>(gethostid())));
    EXPECT_STREQ(buf, expected);
}

TEST(HostDescriptions, DomainIsTheSystemsOrUnknown)
{
    char buf[1024];
    get_node_domain(buf);
    char expected[1024];
    if (getdomainname(expected, sizeof expected) != 0)
        strcpy(expected, "unknown");
    EXPECT_STREQ(buf, expected);
}

TEST(HostDescriptions, TimezoneIsTheStandardZoneName)
{
    const char *old = getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "EST5EDT", 1);
    tzset();
    char buf[128];
    get_node_timezone(buf);
    EXPECT_STREQ(buf, "EST");
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

// Without /dev/urandom the clock sequence comes from the C library's
// generator, seeded once: draws in quick succession still differ.
TEST(TrueRandom, FallsBackToTheSeededGenerator)
{
    if (const std::string why = zorbel::test::private_mounts_unavailable(); !why.empty())
        GTEST_SKIP() << why;
    Child child = Child::fork_call([] {
        if (!zorbel::test::enter_private_mounts() || !zorbel::test::mount_tmpfs("/dev"))
            return 2;
        if (access("/dev/urandom", F_OK) == 0)
            return 3;
        const unsigned16 a = zorbel::true_random(), b = zorbel::true_random(), c = zorbel::true_random();
        if (a == b && b == c) {
            fprintf(stderr, "three equal draws: %u\n", a);
            return 4;
        }
        uuid_t u{};
        if (!uuid_create(&u) && !uuid_create(&u))
            return 5;
        return (u.clock_seq_hi_and_reserved & 0xC0) == 0x80 ? 0 : 6;
    });
    EXPECT_EQ(child.wait_exit_code(), 0);
}

}  // namespace
