// Every status code has its fixed message; everything else is unknown.
#include "zorbel.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

namespace {

const std::vector<std::pair<int, std::string>> known = {
    {0, ""},
    {-32000, "Environment already initialized"},
    {-32001, "Environment not initialized"},
    {-32002, "Unable to generate UUID"},
    {-32005, "Unable to allocate memory"},
    {-32010, "Unable to open directory or file"},
    {-32011, "Not authorized"},
    {-32020, "Unable to parse XML"},
    {-32021, "XML file is empty"},
    {-32022, "xmlNewDoc failed"},
    {-32023, "xmlNewNode failed"},
    {-32024, "xmlCreateIntSubset failed"},
    {-32025, "xmlSaveFileEnc failed; unable to save registry"},
    {-32026, "Invalid XML"},
    {-32030, "Duplicate record"},
    {-32031, "Record not found"},
    {-32032, "Missing required field(s)"},
    {-32033, "Max. field length exceeded"},
    {-32035, "Max. number of records exceeded"},
    {-32050, "File error"},
    {-32051, "File lock error"},
    {-32052, "Max. number of records per user exceeded"},
};

TEST(ZoError, EveryCodeHasItsMessage)
{
    for (const auto &[code, text] : known)
        EXPECT_EQ(zo_error(code), text) << code;
}

// The values callers compiled against are fixed; a changed header fails
// the build.
static_assert(ZO_ERR_NO_ERROR == 0);
static_assert(ZO_ERR_ALREADY_INIT == -32000);
static_assert(ZO_ERR_NO_MEM == -32005);
static_assert(ZO_ERR_NO_DIR == -32010);
static_assert(ZO_ERR_XML_INVALID_REG == -32026);
static_assert(ZO_ERR_MAX_LEN_EXCEEDED == -32033);
static_assert(ZO_ERR_MAX_REC_EXCEEDED == -32035);
static_assert(ZO_ERR_MAX_REC_PER_USER_EXCEEDED == -32052);
static_assert(ZO_NOT_INITIALIZED == 0);
static_assert(ZO_INITIALIZED == 1);

TEST(ZoError, UnassignedValuesAreUnknown)
{
    // Every gap in the range, the values around it, and the extremes.
    for (int code = -32060; code <= 10; ++code) {
        bool assigned = false;
        for (const auto &entry : known)
            assigned = assigned || entry.first == code;
        if (!assigned) {
            EXPECT_STREQ(zo_error(code), "Unknown error") << code;
        }
    }
    EXPECT_STREQ(zo_error(INT_MIN), "Unknown error");
    EXPECT_STREQ(zo_error(INT_MAX), "Unknown error");
}

TEST(ZoError, MessagesAreStaticText)
{
    EXPECT_EQ(zo_error(ZO_ERR_DUP_REC), zo_error(ZO_ERR_DUP_REC));
    EXPECT_EQ(zo_error(12345), zo_error(-1));
    for (const auto &entry : known)
        EXPECT_EQ(std::string(zo_error(entry.first)).find('\n'), std::string::npos);
}

}  // namespace
