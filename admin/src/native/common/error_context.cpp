#include "error_context.h"

#include "cli_error.h"
#include "registry_problem.h"

#include <unistd.h>

#include <array>
#include <cstring>
#include <span>
#include <string>

namespace zorbel::cli {

namespace {

struct Field {
    const char *name;
    bool required;  // by zo_add
    std::span<const char> (*of)(const zo_t &);
};

template <std::size_t N>
std::span<const char> span_of(const char (&field)[N])
{
    return std::span<const char>(field, N);
}

constexpr std::array<Field, 11> fields{{
    {"instance_urn", false, [](const zo_t &r) { return span_of(r.instance_urn); }},
    {"product_name", true, [](const zo_t &r) { return span_of(r.product_name); }},
    {"product_version", true, [](const zo_t &r) { return span_of(r.product_version); }},
    {"product_urn", true, [](const zo_t &r) { return span_of(r.product_urn); }},
    {"product_parent_urn", false, [](const zo_t &r) { return span_of(r.product_parent_urn); }},
    {"product_parent", true, [](const zo_t &r) { return span_of(r.product_parent); }},
    {"product_defined_inst_id", false, [](const zo_t &r) { return span_of(r.product_defined_inst_id); }},
    {"product_vendor", true, [](const zo_t &r) { return span_of(r.product_vendor); }},
    {"platform_arch", true, [](const zo_t &r) { return span_of(r.platform_arch); }},
    {"container", true, [](const zo_t &r) { return span_of(r.container); }},
    {"source", true, [](const zo_t &r) { return span_of(r.source); }},
}};

// The names of the fields `pick` selects, joined with ", ".
template <class Pick>
std::string field_names(const zo_t &record, Pick pick)
{
    std::string names;
    for (const auto &f : fields)
        if (pick(f, f.of(record)))
            names += (names.empty() ? "" : ", ") + std::string(f.name);
    return names;
}

[[noreturn]] void fail(std::string_view object, int status, const std::string &reason = "")
{
    std::string text = std::string(object) + ": " + zo_error(status);
    if (!reason.empty())
        text += " (" + reason + ")";
    throw Failure(text);
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
        fail(field_names(*record, [](const Field &, auto v) { return std::memchr(v.data(), '\0', v.size()) == nullptr; }),
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
        fail(field_names(record, [](const Field &f, auto v) { return f.required && v[0] == '\0'; }), status);
    return check_record(status, env, record.instance_urn, &record);
}

}  // namespace zorbel::cli
