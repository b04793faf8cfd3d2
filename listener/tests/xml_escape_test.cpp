// Escaping for XML and HTML answers.
#include "xml_escape.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string encoded(const std::string &in, int len = 4096)
{
    std::string out(size_t(len), 'X');
    encode_chars(in.c_str(), out.data(), len);
    return out.c_str();
}

TEST(EncodeChars, EscapesMarkupAndPassesKnownEntities)
{
    EXPECT_EQ(encoded("a<b>&c"), "a&lt;b&gt;&amp;c");
    EXPECT_EQ(encoded("x&amp;y"), "x&amp;y");
    EXPECT_EQ(encoded("&lt;"), "&lt;");
    EXPECT_EQ(encoded("&gt;"), "&gt;");
    EXPECT_EQ(encoded("&quot;"), "&amp;quot;");
    EXPECT_EQ(encoded("&#38;"), "&amp;#38;");
    EXPECT_EQ(encoded("&am"), "&amp;am");
    EXPECT_EQ(encoded("&LT;"), "&amp;LT;");
    EXPECT_EQ(encoded("'\""), "'\"");
}

TEST(EncodeChars, CutsOnlyAtItemBoundaries)
{
    EXPECT_EQ(encoded("<<", 5), "&lt;");
    EXPECT_EQ(encoded("<", 4), "");
    EXPECT_EQ(encoded("abc", 3), "ab");
    EXPECT_EQ(encoded("a&b", 6), "a");
}

TEST(EncodeAttribute, QuotesDoubleQuotes)
{
    EXPECT_EQ(zorbel::tavish::encode_attribute("urn:zo:\"a\"<&"), "urn:zo:&quot;a&quot;&lt;&amp;");
}

TEST(HtmlText, EscapesEveryMarkupCharacterAndReplacesWhatXmlCannotCarry)
{
    const std::pair<std::string, std::string> cases[] = {
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
        {"a&b &amp; &lt;", "a&amp;b &amp;amp; &amp;lt;"},  // every "&", known entity or not
        {"\"x\" 'y'", "&quot;x&quot; &#39;y&#39;"},
        {"\x01\xff\xc3\xa9", "\xEF\xBF\xBD\xEF\xBF\xBD\xc3\xa9"},
        {std::string("cut\0<b>", 7), "cut"},
    };
    for (const auto &[in, out] : cases)
        EXPECT_EQ(zorbel::tavish::html_text(in), out) << in;
}

}  // namespace
