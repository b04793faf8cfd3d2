// zo_debug: the diagnostic dump of an environment and a record.
#include "c_boundary.h"
#include "record_fields.h"

#include "zorbel/support/fixed_text.h"

#include <cstdio>
#include <span>
#include <string_view>

namespace {

// One "name=value" line.  The value stops at the field's terminator, or at
// its width when a caller left it unterminated, never beyond the field.
void print_field(std::string_view name, std::span<const char> field)
{
    const std::string_view value = zorbel::field_text(field);
    printf("%.*s=%.*s\n", static_cast<int>(name.size()), name.data(), static_cast<int>(value.size()),
           value.data());
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
            zo_t record = *s;  // the table's accessors take a modifiable record
            for (const zorbel::RecordField &f : zorbel::record_text_fields)
                print_field(f.name, f.in(record));
            printf("%.*s=%d\n", static_cast<int>(zorbel::uid_element.size()), zorbel::uid_element.data(),
                   s->installer_uid);
        }
    });
}
