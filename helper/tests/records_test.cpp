// The diagnostic dump of an environment and a record, and the UTC stamp.
#include "timestamp.h"
#include "zorbel.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <regex>
#include <string>

namespace {

std::string dump(const zo_env_t *env, const zo_t *s)
{
    testing::internal::CaptureStdout();
    zo_debug(env, s);
    return testing::internal::GetCapturedStdout();
}

zo_t sample_record()
{
    zo_t s{};
    strcpy(s.instance_urn, "urn:zo:i");
    strcpy(s.product_name, "Name <&>");
    strcpy(s.product_version, "1.0");
    strcpy(s.product_urn, "urn:p");
    strcpy(s.product_parent, "Parent");
    strcpy(s.product_vendor, "Vendor");
    strcpy(s.platform_arch, "x86_64");
    strcpy(s.timestamp, "2026-12-07 05:31:11 GMT");
    strcpy(s.container, "c");
    strcpy(s.source, "s");
    s.installer_uid = 1000;
    return s;
}

TEST(ZoDebug, NothingForTwoNulls)
{
    EXPECT_EQ(dump(nullptr, nullptr), "");
}

TEST(ZoDebug, RecordAloneIsThirteenLinesAsStored)
{
    const zo_t s = sample_record();
    EXPECT_EQ(dump(nullptr, &s), "instance_urn=urn:zo:i\n"
                                 "product_name=Name <&>\n"
                                 "product_version=1.0\n"
                                 "product_urn=urn:p\n"
                                 "product_parent_urn=\n"
                                 "product_parent=Parent\n"
                                 "product_defined_inst_id=\n"
                                 "product_vendor=Vendor\n"
                                 "platform_arch=x86_64\n"
                                 "timestamp=2026-12-07 05:31:11 GMT\n"
                                 "container=c\n"
                                 "source=s\n"
                                 "installer_uid=1000\n");
}

TEST(ZoDebug, EnvironmentThenRecord)
{
    zo_env_t env{};
    strcpy(env.root_dir, "/r");
    strcpy(env.registry_path, "/r/var/sadm/zorbel/registry");
    strcpy(env.registry, "/r/var/sadm/zorbel/registry/zorbel.xml");
    strcpy(env.registry_urn, "urn:zo:x");
    strcpy(env.registry_version, "1.1.4");
    env.initialized_flag = 1;
    zo_t s{};
    s.installer_uid = -1;
    const std::string env_lines = "root_dir=/r\n"
                                  "registry_path=/r/var/sadm/zorbel/registry\n"
                                  "registry=/r/var/sadm/zorbel/registry/zorbel.xml\n"
                                  "registry_urn=urn:zo:x\n"
                                  "registry_version=1.1.4\n"
                                  "initialized_flag=1\n";
    EXPECT_EQ(dump(&env, nullptr), env_lines);
    const std::string both = dump(&env, &s);
    EXPECT_EQ(both.substr(0, env_lines.size()), env_lines);
    EXPECT_EQ(both.substr(env_lines.size(), 14), "instance_urn=\n");
    EXPECT_TRUE(both.ends_with("\nsource=\ninstaller_uid=-1\n")) << both;
}

TEST(ZoDebug, UnterminatedFieldStopsAtItsWidth)
{
    zo_t s{};
    memset(s.container, 'c', sizeof s.container);  // no terminator
    const std::string out = dump(nullptr, &s);
    EXPECT_NE(out.find("\ncontainer=" + std::string(sizeof s.container, 'c') + "\nsource=\n"), std::string::npos);
}

// Sets TZ for one test and restores it afterwards.
class LocalZone {
public:
    explicit LocalZone(const char *tz)
    {
        if (const char *old = getenv("TZ"))
            saved_ = old, had_ = true;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~LocalZone()
    {
        if (had_)
            setenv("TZ", saved_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string saved_;
    bool had_ = false;
};

std::string utc_text(time_t t)
{
    struct tm tm {};
    gmtime_r(&t, &tm);
    char buf[64];
    strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S GMT", &tm);
    return buf;
}

TEST(GetTimestamp, IsUtcWhateverTheLocalZone)
{
    for (const char *tz : {"UTC0", "JST-9", "EST5EDT", "NZST-12NZDT"}) {
        const LocalZone zone(tz);
        char gmt[25];
        memset(gmt, 'x', sizeof gmt);
        const time_t before = time(nullptr);
        zorbel::get_timestamp(gmt);
        const time_t after = time(nullptr);
        ASSERT_NE(memchr(gmt, '\0', sizeof gmt), nullptr);
        EXPECT_EQ(strlen(gmt), 23u);
        EXPECT_TRUE(std::regex_match(gmt, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d GMT)"))) << gmt;
        EXPECT_TRUE(gmt == utc_text(before) || gmt == utc_text(after)) << tz << ": " << gmt;
    }
}

TEST(GetTimestamp, WritesNoMoreThanTwentyFourBytes)
{
    char gmt[32];
    memset(gmt, 'x', sizeof gmt);
    zorbel::get_timestamp(gmt);
    for (size_t i = 24; i < sizeof gmt; ++i)
        EXPECT_EQ(gmt[i], 'x') << i;
}

}  // namespace
