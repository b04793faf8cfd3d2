#include "timestamp.h"

#include "strl.h"

#include <cstdio>
#include <ctime>

void zorbel::get_timestamp(char *gmt)
{
    const time_t now = time(nullptr);
    struct tm tm {};
    gmtime_r(&now, &tm);
    char text[64];
    snprintf(text, sizeof text, "%4d-%02d-%02d %02d:%02d:%02d GMT", tm.tm_year + 1900, tm.tm_mon + 1,
             tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    // 23 characters for any four-digit year; the caller's buffer holds 24.
    strlcpy(gmt, text, 24);
}
