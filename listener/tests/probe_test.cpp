#include "probe.h"

#include "zorbel/support/stdio_ptr.h"

#include <gtest/gtest.h>

#include <sys/utsname.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <memory>
#include <regex>
#include <string>

namespace {

// The four values read_psn_stream gives for a file with `content`
// (serial number, manufacturer, CPU manufacturer, product name).
std::array<std::string, 4> psn(std::string content, int max_len = PROBE_FIELD_LEN)
{
    std::array<std::array<char, PROBE_FIELD_LEN>, 4> out;
    for (auto &o : out)
        std::memset(o.data(), 'X', o.size());
    const zorbel::FilePtr in(content.empty() ? nullptr : fmemopen(content.data(), content.size(), "r"));
    zorbel::probe::read_psn_stream(in.get(), out[0].data(), out[1].data(), out[2].data(), out[3].data(), max_len);
    return {out[0].data(), out[1].data(), out[2].data(), out[3].data()};
}

using Values = std::array<std::string, 4>;

TEST(PsnFile, LinesFillTheirFields)
{
    EXPECT_EQ(psn(""), (Values{"", "", "", ""}));
    EXPECT_EQ(psn("SN1\nMaker\nCPU Co\nProduct\nfifth\nsixth\n"), (Values{"SN1", "Maker", "CPU Co", "Product"}));
    EXPECT_EQ(psn("SN1\nMaker\n"), (Values{"SN1", "Maker", "", ""}));
    EXPECT_EQ(psn("\nMaker\r\n\nP"), (Values{"", "Maker\r", "", "P"}));
}

TEST(PsnFile, NoneMarkers)
{
    EXPECT_EQ(psn("__NONE__\n __NONE__x\n  __NONE__\n__NONE\n"), (Values{"", "", "  __NONE__", "__NONE"}));
}

TEST(PsnFile, LongValuesAndLongLines)
{
    const std::string v300(300, 'v');
    EXPECT_EQ(psn(v300 + "\n")[0], std::string(256, 'v'));
    EXPECT_EQ(psn("abcdef\n", 4)[0], "abc");
    const std::string l1030(1030, 'w');
    EXPECT_EQ(psn(l1030 + "\nM\n"), (Values{std::string(256, 'w'), "wwwwwww", "M", ""}));
}

TEST(Cpuinfo, CountsProcessorLines)
{
    const std::string saved = cpubuffer;
    std::strcpy(cpubuffer, "processor\t: 0\nmodel : x\n\nprocessor:1\nprocessors : 2\nprocessor : \nxprocessor : 3\n");
    // "processors" fails at the "s"; "processor : " ends before the word,
    // which the scan reports as end of input and so counts.
    EXPECT_EQ(getNumProcs(), 3);
    EXPECT_STREQ(cpubuffer, "processor\t: 0\nmodel : x\n\nprocessor:1\nprocessors : 2\nprocessor : \nxprocessor : 3\n");
    cpubuffer[0] = '\0';
    EXPECT_EQ(getNumProcs(), 0);
    std::strcpy(cpubuffer, saved.c_str());
}

TEST(Probe, FillsUnameHostidAndCpuinfo)
{
    probeStruct p;
    std::memset(&p, 'X', sizeof p);
    get_probe_data(&p);
    utsname u{};
    uname(&u);
    EXPECT_STREQ(p.sysconf[0], u.sysname);
    EXPECT_STREQ(p.sysconf[1], u.nodename);
    EXPECT_STREQ(p.sysconf[2], u.release);
    EXPECT_STREQ(p.sysconf[3], u.machine);
    EXPECT_TRUE(std::regex_match(p.sysconf[8], std::regex("[1-9a-f][0-9a-f]{0,7}|0")));
    for (const auto &slot : p.sysconf)
        EXPECT_NE(std::memchr(slot, '\0', PROBE_FIELD_LEN), nullptr);
    EXPECT_GE(getNumProcs(), 1);
    EXPECT_LT(std::strlen(cpubuffer), size_t(CPUBUFFER_LEN));
    EXPECT_STREQ(sysconfField[5], "manufacturer");
    EXPECT_STREQ(sysconfField[6], "cpu_manufacturer");
}

}  // namespace
