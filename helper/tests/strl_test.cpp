// Bounded copy and append with the BSD semantics, and the field helpers.
#include "strl.h"
#include "zorbel/support/fixed_text.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

TEST(Strlcpy, CopiesAndReturnsTheSourceLength)
{
    char buf[8];
    EXPECT_EQ(strlcpy(buf, "abc", sizeof buf), 3u);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(strlcpy(buf, "", sizeof buf), 0u);
    EXPECT_STREQ(buf, "");
}

TEST(Strlcpy, CutsToSizeMinusOneAndTerminates)
{
    char buf[8];
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(strlcpy(buf, "abcdefghij", sizeof buf), 10u);
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(strlcpy(buf, "abcdefgh", sizeof buf), 8u);  // exactly one too long
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(strlcpy(buf, "abcdefg", sizeof buf), 7u);   // fits exactly
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(strlcpy(buf, "abc", 1), 3u);
    EXPECT_STREQ(buf, "");
}

TEST(Strlcpy, SizeZeroTouchesNothing)
{
    char buf[4] = {'x', 'y', 'z', 'w'};
    EXPECT_EQ(strlcpy(buf, "hello", 0), 5u);
    EXPECT_EQ(memcmp(buf, "xyzw", 4), 0);
}

TEST(Strlcat, AppendsAndReturnsTheCombinedLength)
{
    char buf[16] = "abc";
    EXPECT_EQ(strlcat(buf, "def", sizeof buf), 6u);
    EXPECT_STREQ(buf, "abcdef");
    EXPECT_EQ(strlcat(buf, "", sizeof buf), 6u);
    EXPECT_STREQ(buf, "abcdef");
}

TEST(Strlcat, CutsAtTheBound)
{
    char buf[8] = "abc";
    EXPECT_EQ(strlcat(buf, "defghij", sizeof buf), 10u);
    EXPECT_STREQ(buf, "abcdefg");
    // A full buffer takes nothing more but still reports what was wanted.
    EXPECT_EQ(strlcat(buf, "xy", sizeof buf), 9u);
    EXPECT_STREQ(buf, "abcdefg");
}

TEST(Strlcat, SizeZeroOrNoTerminatorTouchesNothing)
{
    char buf[4] = {'x', 'y', 'z', 'w'};
    EXPECT_EQ(strlcat(buf, "hello", 0), 5u);
    EXPECT_EQ(memcmp(buf, "xyzw", 4), 0);
    EXPECT_EQ(strlcat(buf, "hello", sizeof buf), 4u + 5u);
    EXPECT_EQ(memcmp(buf, "xyzw", 4), 0);
    char small[8] = "abcdefg";  // the NUL lies just past a size of 7
    EXPECT_EQ(strlcat(small, "hi", 7), 7u + 2u);
    EXPECT_STREQ(small, "abcdefg");
}

TEST(FieldHelpers, CopyCutReportsCutting)
{
    std::array<char, 4> f{};
    EXPECT_FALSE(zorbel::copy_cut(f, "abc"));
    EXPECT_STREQ(f.data(), "abc");
    EXPECT_TRUE(zorbel::copy_cut(f, "abcd"));
    EXPECT_STREQ(f.data(), "abc");
    EXPECT_FALSE(zorbel::copy_cut(f, ""));
    EXPECT_STREQ(f.data(), "");
    EXPECT_TRUE(zorbel::copy_cut(std::span<char>(), "a"));
    EXPECT_FALSE(zorbel::copy_cut(std::span<char>(), ""));
}

TEST(FieldHelpers, TextStopsAtTheTerminatorOrTheWidth)
{
    const char terminated[6] = "ab\0cd";
    EXPECT_EQ(zorbel::field_text(terminated), "ab");
    EXPECT_FALSE(zorbel::field_overflows(terminated));
    const char full[3] = {'x', 'y', 'z'};
    EXPECT_EQ(zorbel::field_text(full), "xyz");
    EXPECT_TRUE(zorbel::field_overflows(full));
}

}  // namespace
