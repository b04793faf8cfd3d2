#include "base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

int ntop(const std::string &bytes, size_t targsize, std::string *text = nullptr)
{
    std::vector<char> out(targsize + 1, 'X');
    const int n = b64_ntop(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), out.data(), targsize);
    if (text && n >= 0)
        *text = out.data();
    return n;
}

int pton(const char *text, size_t targsize, std::string *bytes = nullptr)
{
    std::vector<unsigned char> out(targsize + 1);
    const int n = b64_pton(text, out.data(), targsize);
    if (bytes && n >= 0)
        bytes->assign(reinterpret_cast<char *>(out.data()), size_t(n));
    return n;
}

TEST(Base64Encode, SizesAndPadding)
{
    std::string text;
    EXPECT_EQ(ntop("", 1, &text), 0);
    EXPECT_EQ(text, "");
    EXPECT_EQ(ntop("", 0), -1);
    EXPECT_EQ(ntop("A", 5, &text), 4);
    EXPECT_EQ(text, "QQ==");
    EXPECT_EQ(ntop("A", 4), -1);  // no room for the NUL
    EXPECT_EQ(ntop("AB", 5, &text), 4);
    EXPECT_EQ(text, "QUI=");
    EXPECT_EQ(ntop("foobar", 9, &text), 8);
    EXPECT_EQ(text, "Zm9vYmFy");
    EXPECT_EQ(ntop("foobar", 8), -1);
    EXPECT_EQ(ntop("\xff\xfe\xfd", 5, &text), 4);
    EXPECT_EQ(text, "//79");
}

TEST(Base64Decode, RoundTripsEveryLength)
{
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += char(i);
    for (size_t len = 0; len < bytes.size(); len += 7) {
        std::string text, back;
        const std::string part = bytes.substr(0, len);
        ASSERT_GE(ntop(part, 4 * (len / 3 + 1) + 1, &text), 0);
        ASSERT_EQ(pton(text.c_str(), len + 1, &back), int(len));  // a partial group writes one byte ahead
        EXPECT_EQ(back, part);
        EXPECT_EQ(b64_pton(text.c_str(), nullptr, 0), int(len));
    }
}

TEST(Base64Decode, TargetSizeRules)
{
    EXPECT_EQ(pton("QQ==", 1), -1);
    EXPECT_EQ(pton("QQ==", 2), 1);
    EXPECT_EQ(pton("QUI=", 2), -1);
    EXPECT_EQ(pton("QUI=", 3), 2);
    EXPECT_EQ(pton("QUJD", 2), -1);
    EXPECT_EQ(pton("QUJD", 3), 3);
}

TEST(Base64Decode, RejectsMalformedText)
{
    EXPECT_EQ(pton("", 4), 0);
    EXPECT_EQ(pton(" \t\r\n", 4), 0);
    for (const char *bad : {"QU", "QUI", "QUJDR", "QUJDRE", "QUJDREV", "=QUI", "Q=UI", "QU=", "QUI==", "QQ==x",
                            "QQ=x=", "QU-_", "QQ\x01=", "Q\xc3\xa9="})
        EXPECT_EQ(pton(bad, 16), -1) << bad;
}

TEST(Base64Decode, WhitespaceAroundPadding)
{
    std::string bytes;
    EXPECT_EQ(pton(" Q U\nI = \t", 8, &bytes), 2);
    EXPECT_EQ(bytes, "AB");
    EXPECT_EQ(pton("QQ = =\n", 8), 1);
}

TEST(Base64Decode, NonZeroTrailingBits)
{
    EXPECT_EQ(pton("QR==", 8), -1);
    EXPECT_EQ(b64_pton("QR==", nullptr, 0), 1);
    EXPECT_EQ(pton("QUJ=", 8), -1);
}

}  // namespace
