// Diagnostic dump of an environment and a record, and the UTC time stamp
// that the writers put on records.
#include "internal.h"

#include "strl.h"

#include <cstdio>
#include <ctime>

extern "C" void zo_debug(const zo_env_t *env, const zo_t *s)
{
    if (env != nullptr) {
        printf("root_dir=%s\n", env->root_dir);
        printf("registry_path=%s\n", env->registry_path);
        printf("registry=%s\n", env->registry);
        printf("registry_urn=%s\n", env->registry_urn);
        printf("registry_version=%s\n", env->registry_version);
        printf("initialized_flag=%d\n", env->initialized_flag);
    }
    if (s != nullptr) {
        printf("instance_urn=%s\n", s->instance_urn);
        printf("product_name=%s\n", s->product_name);
        printf("product_version=%s\n", s->product_version);
        printf("product_urn=%s\n", s->product_urn);
        printf("product_parent_urn=%s\n", s->product_parent_urn);
        printf("product_parent=%s\n", s->product_parent);
        printf("product_defined_inst_id=%s\n", s->product_defined_inst_id);
        printf("product_vendor=%s\n", s->product_vendor);
        printf("platform_arch=%s\n", s->platform_arch);
        printf("timestamp=%s\n", s->timestamp);
        printf("container=%s\n", s->container);
        printf("source=%s\n", s->source);
        printf("installer_uid=%d\n", s->installer_uid);
    }
}

void get_timestamp(char *gmt)
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
