#include "random_sleep.h"
#include "scache.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class Scache : public ::testing::Test {
protected:
    // Every case starts from the state of a fresh process.
    void SetUp() override
    {
        scache_init();
        next_scache_entry = 0;
    }
    static void add(const std::string &s) { scache_add(s.c_str()); }
    static bool has(const std::string &s) { return scache_contains(s.c_str()) == 1; }
};

TEST_F(Scache, EmptyTextIsFoundUntilEverySlotHoldsText)
{
    EXPECT_TRUE(has(""));
    for (int i = 0; i < 31; ++i)
        add("p" + std::to_string(i));
    EXPECT_TRUE(has(""));
    add("p31");
    EXPECT_FALSE(has(""));
}

TEST_F(Scache, ThirtyThirdTextEvictsTheFirstOnly)
{
    for (int i = 0; i < 33; ++i)
        add("p" + std::to_string(i));
    EXPECT_FALSE(has("p0"));
    for (int i = 1; i < 33; ++i)
        EXPECT_TRUE(has("p" + std::to_string(i))) << i;
    EXPECT_EQ(next_scache_entry, 1);
}

TEST_F(Scache, TextsAreCutTo511Bytes)
{
    const std::string long_text(600, 'a');
    add(long_text);
    EXPECT_FALSE(has(long_text));           // never found again
    EXPECT_TRUE(has(long_text.substr(0, 511)));
    EXPECT_FALSE(has(long_text.substr(0, 510)));
    add(long_text);
    EXPECT_EQ(next_scache_entry, 2);        // each addition takes a slot
}

TEST_F(Scache, InitEmptiesSlotsButKeepsThePosition)
{
    add("a");
    add("b");
    scache_init();
    EXPECT_FALSE(has("a"));
    EXPECT_FALSE(has("b"));
    add("c");
    EXPECT_STREQ(scache[2], "c");
}

TEST(RandomSleep, DelaysStayBelowOneMillisecondAndVary)
{
    unsigned lowest = 1000, highest = 0;
    for (int i = 0; i < 5000; ++i) {
        const unsigned d = draw_sleep_time();
        ASSERT_LT(d, 1000u);
        lowest = std::min(lowest, d);
        highest = std::max(highest, d);
    }
    EXPECT_LT(lowest, 50u);
    EXPECT_GT(highest, 950u);
}

}  // namespace
