// Queries answered from a kept parse: never older than the last change
// completed before the query, whoever changes the registry and however.
#include "registry_cache.h"
#include "registry_test_util.h"
#include "zorbel/support/unique_fd.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <random>

using namespace zorbel::test;

namespace {

// The registry with one record, owned by the caller so that its writes
// are allowed, whose product name carries `version` in a fixed width, so
// every version has the same size.
std::string versioned(const TempRoot &root, long version)
{
    char name[16];
    snprintf(name, sizeof name, "v%08ld", version);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE registry SYSTEM \"" + root.dtd_file() +
           "\">\n<registry urn=\"urn:zo:00000000-0000-1000-8000-000000000000\" version=\"1.1.4\">" +
           record_xml("urn:r", "urn:p", my_uid(), name) + "</registry>\n";
}

// The product name's version, or the instance id the library's writer set.
long version_of(const zo_t &s)
{
    if (s.product_defined_inst_id[0] != '\0')
        return std::atol(s.product_defined_inst_id);
    return s.product_name[0] == 'v' ? std::atol(s.product_name + 1) : -1;
}

long query_version(zo_env_t &env)
{
    zo_t s{};
    ZT_SET(s, instance_urn, "urn:r");
    return zo_get(&s, &env) == ZO_ERR_NO_ERROR ? version_of(s) : -1;
}

// Replaces the file the way the library's writers do: a new file renamed
// over it.
void write_by_rename(const TempRoot &root, const std::string &content)
{
    const std::string tmp = root.registry_dir() + "/.next";
    write_file(tmp, content);
    std::filesystem::rename(tmp, root.registry_file());
}

// Overwrites a file in place; `pause` lets the tail land later than the head.
bool overwrite(const std::string &path, const std::string &content, std::chrono::microseconds pause = {})
{
    const zorbel::UniqueFd fd(open(path.c_str(), O_WRONLY | O_CLOEXEC));
    const size_t half = content.size() / 2;
    const bool head = pwrite(fd.get(), content.data(), half, 0) == static_cast<ssize_t>(half);
    if (pause.count() > 0)
        std::this_thread::sleep_for(pause);
    return head && pwrite(fd.get(), content.data() + half, content.size() - half, static_cast<off_t>(half)) ==
                       static_cast<ssize_t>(content.size() - half);
}

// True when this process holds a descriptor of `path` open.
bool holds_open(const std::string &path)
{
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(entry.path(), ec) == path)
            return true;
    }
    return false;
}

struct CachedRegistry : Registry {
    CachedRegistry() : Registry("")
    {
        write_file(root.registry_file(), versioned(root, 0));
        zorbel::set_registry_cache(true);
    }
    ~CachedRegistry() { zorbel::set_registry_cache(false); }
};

TEST(RegistryCache, EveryKindOfChangeIsSeenByTheNextQuery)
{
    CachedRegistry reg;
    long version = 0;
    const std::vector<std::pair<const char *, std::function<void(long)>>> changes{
        {"rename", [&](long v) { write_by_rename(reg.root, versioned(reg.root, v)); }},
        {"in place", [&](long v) { EXPECT_TRUE(overwrite(reg.root.registry_file(), versioned(reg.root, v))); }},
        {"through another link",
         [&](long v) {
             const std::string link = reg.root.root() + "/other-link";
             std::filesystem::create_hard_link(reg.root.registry_file(), link);
             EXPECT_TRUE(overwrite(link, versioned(reg.root, v)));
             std::filesystem::remove(link);
         }},
        {"by the library's writer",
         [&](long v) {
             zo_env_t writer{};
             ASSERT_EQ(zo_initialize(reg.root.root().c_str(), &writer), ZO_ERR_NO_ERROR);
             zo_t s{};
             ZT_SET(s, instance_urn, "urn:r");
             ZT_SET(s, product_defined_inst_id, std::to_string(v));
             EXPECT_EQ(zo_update(&s, &writer), ZO_ERR_NO_ERROR);
         }},
    };
    for (const auto &[what, change] : changes) {
        for (int round = 0; round < 3; ++round) {
            // Settle, so that the parse is kept before the change.
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
            EXPECT_EQ(query_version(reg.env), version) << what;
            EXPECT_EQ(query_version(reg.env), version) << what;
            change(++version);
            EXPECT_EQ(query_version(reg.env), version) << what;
        }
    }
    // A DTD changed in place so that the registry no longer validates.
    std::string dtd = read_file(reg.root.dtd_file());
    dtd.replace(dtd.find("product_name"), 12, "product_NAME");
    EXPECT_TRUE(overwrite(reg.root.dtd_file(), dtd));
    EXPECT_EQ(query_version(reg.env), -1);
}

TEST(RegistryCache, KeepsOnlyValidParsesAndOnlyWhenAskedTo)
{
    Registry plain;
    zo_t s{};
    ZT_SET(s, instance_urn, "urn:none");
    zo_get(&s, &plain.env);
    EXPECT_FALSE(holds_open(plain.root.registry_file())) << "a third-party caller reads afresh";

    CachedRegistry reg;
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
    EXPECT_EQ(query_version(reg.env), 0);
    EXPECT_TRUE(holds_open(reg.root.registry_file())) << "a kept parse holds its descriptor";

    // An invalid registry is never kept; the next valid one is read.
    std::string invalid = versioned(reg.root, 1);
    invalid.replace(invalid.find("<container>"), 11, "<containex>");
    invalid.replace(invalid.find("</container>"), 12, "</containex>");
    write_by_rename(reg.root, invalid);
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
    EXPECT_EQ(query_version(reg.env), -1);
    EXPECT_EQ(query_version(reg.env), -1);
    write_by_rename(reg.root, versioned(reg.root, 2));
    EXPECT_EQ(query_version(reg.env), 2);

    std::this_thread::sleep_for(std::chrono::milliseconds(15));
    EXPECT_EQ(query_version(reg.env), 2);
    EXPECT_TRUE(holds_open(reg.root.registry_file()));
    zo_close(&reg.env);
    EXPECT_FALSE(holds_open(reg.root.registry_file())) << "zo_close drops the kept parse";
}

// Writers change the registry by rename and in place (with and without
// the writers' lock), with same-size values, in bursts within one clock
// tick and with pauses, while this
// process queries: every answer must be at least as new as the last
// change completed before its query began.  "" or what went wrong.
std::string stress()
{
    CachedRegistry reg;
    auto *completed = static_cast<std::atomic<long> *>(
        mmap(nullptr, sizeof(std::atomic<long>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    if (completed == MAP_FAILED)
        return "mmap failed";
    new (completed) std::atomic<long>(0);
    const auto run_for = std::chrono::milliseconds(2000);

    Child writer = Child::fork_call([&] {
        std::mt19937 random(42);
        const auto end = std::chrono::steady_clock::now() + run_for;
        for (long v = 1; std::chrono::steady_clock::now() < end; ++v) {
            const std::string content = versioned(reg.root, v);
            const auto pause = std::chrono::microseconds(random() % 10000);
            bool written = true;
            switch (random() % 4) {
            case 0: write_by_rename(reg.root, content); break;
            case 1: written = overwrite(reg.root.registry_file(), content); break;
            case 2: written = overwrite(reg.root.registry_file(), content, pause); break;
            default: {  // in place under the writers' lock, as the library's in-place path writes
                const zorbel::UniqueFd lock(open(reg.root.registry_file().c_str(), O_RDWR | O_CLOEXEC));
                written = lockf(lock.get(), F_LOCK, 0) == 0 && overwrite(reg.root.registry_file(), content, pause);
                break;
            }
            }
            if (!written)
                return 1;
            completed->store(v, std::memory_order_release);
            if (random() % 2 == 0)  // else the next change follows in the same tick
                std::this_thread::sleep_for(pause);
        }
        return 0;
    });

    long queries = 0, answered = 0, stale = 0, worst = 0;
    const auto end = std::chrono::steady_clock::now() + run_for;
    while (std::chrono::steady_clock::now() < end) {
        const long before = completed->load(std::memory_order_acquire);
        const long seen = query_version(reg.env);
        ++queries;
        if (seen < 0)
            continue;  // a read of a half-written file fails; it is not stale
        ++answered;
        if (seen < before) {
            ++stale;
            worst = std::max(worst, before - seen);
        }
    }
    const long changes = completed->load();
    munmap(completed, sizeof(std::atomic<long>));
    if (writer.wait_status(std::chrono::seconds(10)) != 0)
        return "the writer failed";
    if (stale != 0)
        return std::to_string(stale) + " of " + std::to_string(answered) + " answers stale, by up to " +
               std::to_string(worst) + " changes";
    if (answered <= queries / 2 || changes < 50)
        return "too few answers (" + std::to_string(answered) + " of " + std::to_string(queries) +
               ") or changes (" + std::to_string(changes) + ")";
    return "";
}

TEST(RegistryCache, StressNoAnswerOlderThanTheLastCompletedChange)
{
    EXPECT_EQ(stress(), "");
}

// The same on a file system whose stamps advance only with the coarse
// clock, so that same-size changes within one tick leave the stat data
// as it was.
TEST(RegistryCache, StressOnCoarseTimestamps)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a file system needs root";
    const int status = in_child([] {
        char dir[] = "/tmp/zorbel-coarse-XXXXXX";
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mkdtemp(dir) == nullptr || mount("none", dir, "ramfs", 0, nullptr) != 0)
            return 77;
        setenv("TMPDIR", dir, 1);
        const std::string failure = stress();
        if (!failure.empty())
            fprintf(stderr, "%s\n", failure.c_str());
        umount(dir);
        rmdir(dir);
        return failure.empty() ? 0 : 1;
    });
    if (status == 77)
        GTEST_SKIP() << "no private ramfs mount here";
    EXPECT_EQ(status, 0);
}

}  // namespace
