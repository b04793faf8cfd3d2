// No C++ exception crosses the C interface: with allocations failing at
// every point in turn, each entry point returns ZO_ERR_NO_MEM (or
// succeeds, when it needed no more memory) and the registry stays valid.
#include "registry_test_util.h"

#include <cstdlib>
#include <new>

// The replacements below pair malloc with free; GCC cannot see that through
// the inlined standard library and would warn at every delete.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

// Allocations left before operator new starts throwing; negative: never.
long allocations_left = -1;

}  // namespace

void *operator new(size_t size)
{
    if (allocations_left == 0)
        throw std::bad_alloc();
    if (allocations_left > 0)
        --allocations_left;
    if (void *p = malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void operator delete(void *p) noexcept
{
    free(p);
}

void operator delete(void *p, size_t) noexcept
{
    free(p);
}

using namespace zorbel::test;

namespace {

TEST(CBoundary, FailedAllocationsBecomeNoMem)
{
    Registry reg(record_xml("urn:a", "urn:p", my_uid()));
    const std::string root = reg.root.root();
    const std::vector<std::pair<const char *, std::function<int()>>> calls{
        {"zo_initialize",
         [&] {
             zo_env_t env{};
             const int rc = zo_initialize(root.c_str(), &env);
             zo_close(&env);
             return rc;
         }},
        {"zo_get",
         [&] {
             zo_t s{};
             ZT_SET(s, instance_urn, "urn:a");
             return zo_get(&s, &reg.env);
         }},
        {"zo_get_instance_urns",
         [&] {
             char **urns = nullptr;
             const int rc = zo_get_instance_urns("urn:p", &urns, &reg.env);
             zo_free_instance_urns(urns);
             return rc == 1 ? ZO_ERR_NO_ERROR : rc;
         }},
        {"zo_get_registry_xml",
         [&] {
             char *text = nullptr;
             const int rc = zo_get_registry_xml(&text, &reg.env);
             zo_free_xml(text);
             return rc;
         }},
        {"zo_add",
         [&] {
             zo_t s = full_record("urn:b");
             const int rc = zo_add(&s, &reg.env);
             return rc == ZO_ERR_DUP_REC ? ZO_ERR_NO_ERROR : rc;
         }},
        {"zo_update",
         [&] {
             zo_t s{};
             ZT_SET(s, instance_urn, "urn:a");
             ZT_SET(s, product_parent_urn, "urn:changed");
             return zo_update(&s, &reg.env);
         }},
        {"zo_delete",
         [&] {
             const int rc = zo_delete("urn:b", &reg.env);
             return rc == ZO_ERR_REC_NOT_FOUND ? ZO_ERR_NO_ERROR : rc;
         }},
    };
    for (const auto &[name, call] : calls) {
        int no_mem = 0;
        for (long k = 0; k < 400; ++k) {
            int rc = 1;
            bool escaped = false;
            allocations_left = k;
            try {
                rc = call();
            } catch (...) {
                escaped = true;
            }
            allocations_left = -1;
            ASSERT_FALSE(escaped) << name << " let an exception through after " << k << " allocations";
            ASSERT_TRUE(rc == ZO_ERR_NO_ERROR || rc == ZO_ERR_NO_MEM) << name << " after " << k << ": " << rc;
            no_mem += rc == ZO_ERR_NO_MEM;
        }
        EXPECT_GT(no_mem, 0) << name << " never allocated";
        EXPECT_TRUE(valid_registry_file(reg.root.registry_file())) << name;
    }
}

}  // namespace
