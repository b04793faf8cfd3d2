// Bounded copy and append with the BSD semantics, and the field helpers.
#include "strl.h"
#include "zorbel/support/fixed_text.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <ostream>
#include <string>

namespace {

// One call on a 16-byte buffer holding `before` (NUL bytes after it): the
// returned length, and the whole buffer afterwards: `after` and its
// terminator over what was there, so a byte written past the size or the
// terminator shows as well.
struct StrlCase {
    const char *what;
    size_t (*call)(char *, const char *, size_t);
    const char *before;
    const char *src;
    size_t size;
    size_t returned;
    const char *after;
};

void PrintTo(const StrlCase &c, std::ostream *os)
{
    *os << c.what;
}

class Strl : public testing::TestWithParam<StrlCase> {};

TEST_P(Strl, ReturnsTheWantedLengthAndStaysInBounds)
{
    const StrlCase &c = GetParam();
    std::array<char, 16> buf{};
    std::memcpy(buf.data(), c.before, std::strlen(c.before));
    std::array<char, 16> expected = buf;
    std::memcpy(expected.data(), c.after, std::strlen(c.after) + 1);
    EXPECT_EQ(c.call(buf.data(), c.src, c.size), c.returned);
    EXPECT_EQ(std::string(buf.data(), buf.size()), std::string(expected.data(), expected.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Bsd, Strl,
    testing::Values(
        StrlCase{"strlcpy copies", strlcpy, "", "abc", 8, 3, "abc"},
        StrlCase{"strlcpy copies empty text", strlcpy, "xyz", "", 8, 0, ""},
        StrlCase{"strlcpy cuts to size - 1", strlcpy, "xxxxxxxx", "abcdefghij", 8, 10, "abcdefg"},
        StrlCase{"strlcpy cuts one too long", strlcpy, "", "abcdefgh", 8, 8, "abcdefg"},
        StrlCase{"strlcpy fits exactly", strlcpy, "", "abcdefg", 8, 7, "abcdefg"},
        StrlCase{"strlcpy size one", strlcpy, "x", "abc", 1, 3, ""},
        StrlCase{"strlcpy size zero touches nothing", strlcpy, "xyzw", "hello", 0, 5, "xyzw"},
        StrlCase{"strlcat appends", strlcat, "abc", "def", 16, 6, "abcdef"},
        StrlCase{"strlcat appends empty text", strlcat, "abcdef", "", 16, 6, "abcdef"},
        StrlCase{"strlcat cuts at the bound", strlcat, "abc", "defghij", 8, 10, "abcdefg"},
        // A full buffer takes nothing more but still reports what was wanted.
        StrlCase{"strlcat full buffer", strlcat, "abcdefg", "xy", 8, 9, "abcdefg"},
        StrlCase{"strlcat size zero touches nothing", strlcat, "xyzw", "hello", 0, 5, "xyzw"},
        // No terminator within the size: the text is not read beyond it.
        StrlCase{"strlcat no terminator within size", strlcat, "xyzw", "hello", 4, 4 + 5, "xyzw"},
        StrlCase{"strlcat terminator just past size", strlcat, "abcdefg", "hi", 7, 7 + 2, "abcdefg"}));

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
