// Diagnostic dump of an environment and a record, and the UTC time stamp
// that the writers put on records.
#include "c_boundary.h"
#include "internal.h"

#include "strl.h"
#include "zorbel/support/fixed_text.h"

#include <cstdio>
#include <ctime>
#include <span>
#include <string_view>

namespace {

// One "name=value" line.  The value stops at the field's terminator, or at
// its width when a caller left it unterminated, never beyond the field.
void print_field(const char *name, std::span<const char> field)
{
    const std::string_view value = zorbel::field_text(field);
    printf("%s=%.*s\n", name, static_cast<int>(value.size()), value.data());
}

}  // namespace

extern "C" void zo_debug(const zo_env_t *env, const zo_t *s)
{
    zorbel::c_entry_void([&] {
        if (env != nullptr) {
            print_field("root_dir", env->root_dir);
            print_field("registry_path", env->registry_path);
            print_field("registry", env->registry);
            print_field("registry_urn", env->registry_urn);
            print_field("registry_version", env->registry_version);
            printf("initialized_flag=%d\n", env->initialized_flag);
        }
        if (s != nullptr) {
            print_field("instance_urn", s->instance_urn);
            print_field("product_name", s->product_name);
            print_field("product_version", s->product_version);
            print_field("product_urn", s->product_urn);
            print_field("product_parent_urn", s->product_parent_urn);
            print_field("product_parent", s->product_parent);
            print_field("product_defined_inst_id", s->product_defined_inst_id);
            print_field("product_vendor", s->product_vendor);
            print_field("platform_arch", s->platform_arch);
            print_field("timestamp", s->timestamp);
            print_field("container", s->container);
            print_field("source", s->source);
            printf("installer_uid=%d\n", s->installer_uid);
        }
    });
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
