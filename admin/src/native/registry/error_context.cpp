#include "registry/error_context.h"

#include "cli/cli_error.h"
#include "registry_problem.h"
#include "zorbel/support/record_field_table.h"

#include <unistd.h>

#include <array>
#include <cstring>
#include <span>
#include <string>

namespace zorbel::cli {

namespace {

// The names of the fields `pick` selects, joined with ", ".
// The timestamp is the library's own and never named.
template <class Pick>
std::string field_names(const zo_t &record, Pick pick)
{
    std::string names;
    for (const RecordField &f : record_text_fields)
        if (f.role != FieldRole::stamp && pick(f, f.of(record)))
            names += (names.empty() ? "" : ", ") + std::string(f.name);
    return names;
}

[[noreturn]] void fail(std::string_view object, int status, const std::string &reason = "")
{
    throw Failure(diagnostics::object_message(object, zo_error(status), reason));
}

}  // namespace

int check_registry(int status, const zo_env_t &env)
{
    if (status < 0)
        throw Failure(diagnostics::registry_problem(env, status));
    return status;
}

int check_record(int status, const zo_env_t &env, std::string_view urn, const zo_t *record)
{
    if (status >= 0)
        return status;
    switch (status) {
    case ZO_ERR_REC_NOT_FOUND:
    case ZO_ERR_DUP_REC:
    case ZO_ERR_NOT_AUTH:
        fail(urn, status);
    case ZO_ERR_MISSING_FIELD:
        fail("instance_urn", status);
    case ZO_ERR_MAX_LEN_EXCEEDED:
        if (record == nullptr)
            fail("instance_urn", status);
        fail(field_names(*record, [](const RecordField &, auto v) { return std::memchr(v.data(), '\0', v.size()) == nullptr; }),
             status);
    case ZO_ERR_MAX_REC_PER_USER_EXCEEDED:
        fail("uid " + std::to_string(getuid()), status, std::to_string(ZO_MAX_RECS_PER_USER) + " records");
    default:
        return check_registry(status, env);
    }
}

int check_add(int status, const zo_env_t &env, const zo_t &record)
{
    if (status == ZO_ERR_MISSING_FIELD)
        fail(field_names(record, [](const RecordField &f, auto v) { return f.role == FieldRole::required && v[0] == '\0'; }), status);
    return check_record(status, env, record.instance_urn, &record);
}

}  // namespace zorbel::cli
