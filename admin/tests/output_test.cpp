// What the output formats make of hostile values: a spreadsheet formula
// in CSV, terminal controls and reordering marks in text for a person.
#include "output/output_format.h"
#include "output/terminal_text.h"

#include <gtest/gtest.h>

namespace zorbel::test {
namespace {

using cli::display_escape;
using cli::Layout;

TEST(DisplayEscape, ControlsReorderingMarksAndInvalidBytesAreShownEscaped)
{
    struct Case {
        const char *text, *line, *document;
    };
    const Case cases[] = {
        {"plain \xc3\xa9 \xf0\x9f\x98\x80", "plain \xc3\xa9 \xf0\x9f\x98\x80", "plain \xc3\xa9 \xf0\x9f\x98\x80"},
        {"a\x1b[2Jb\x7f", "a\\x1b[2Jb\\x7f", "a\\x1b[2Jb\\x7f"},
        {"t\tn\nr\r", "t\\x09n\\x0ar\\x0d", "t\tn\nr\\x0d"},
        {"back\\x41", "back\\\\x41", "back\\\\x41"},
        {"\xc2\x9b" "31m \xc2\x85 \xc2\x9f \xc2\xa0", "\\u009b31m \\u0085 \\u009f \xc2\xa0", "\\u009b31m \\u0085 \\u009f \xc2\xa0"},
        {"\xe2\x80\xae" "gpj.exe \xe2\x80\x8e\xe2\x80\x8f\xe2\x80\xaa\xe2\x81\xa6\xe2\x81\xa9\xd8\x9c \xe2\x80\x8d",
         "\\u202egpj.exe \\u200e\\u200f\\u202a\\u2066\\u2069\\u061c \xe2\x80\x8d", nullptr},
        // A stray continuation, a truncated, an overlong and a surrogate
        // sequence, and a lead byte beyond U+10FFFF.
        {"\x85|\xc3|\xe0\x80\x80|\xed\xa0\x80|\xf5\x80", "\\x85|\\xc3|\\xe0\\x80\\x80|\\xed\\xa0\\x80|\\xf5\\x80", nullptr},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(display_escape(c.text), c.line) << c.text;
        EXPECT_EQ(display_escape(c.text, Layout::document), c.document ? c.document : c.line) << c.text;
    }
}

TEST(OutputFormats, CsvNeutralisesFormulasAndJsonKeepsEveryByte)
{
    struct Case {
        std::string value, csv;
    };
    const std::vector<Case> cases{
        {"=HYPERLINK(\"http://x\",\"y\")", "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\""},
        {"+cmd|'/c calc'!A1", "'+cmd|'/c calc'!A1"},
        {"-5", "'-5"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\t=1", "'\t=1"},
        {"\r=1", "\"'\r=1\""},
        {"a=b-c", "a=b-c"},
        {"", ""},
        {"x,y", "\"x,y\""},
    };
    for (const auto &c : cases) {
        const cli::Table table{{"product_name"}, {{c.value}}};
        EXPECT_EQ(cli::csv_text(table), "product_name\r\n" + c.csv + "\r\n") << c.value;
        EXPECT_EQ(cli::jsonl_text(table), cli::json_text({{"product_name", c.value}}) + "\n") << c.value;
    }
}

TEST(OutputFormats, TableCellsGoThroughTheDisplayEscaper)
{
    const cli::Table table{{"a", "b"}, {{"\xe2\x80\xae" "x", "\xc2\x9b" "2J\xff"}}};
    EXPECT_EQ(cli::aligned_text(table, {}), "a        b\n\\u202ex  \\u009b2J\\xff\n");
}

}  // namespace
}  // namespace zorbel::test
