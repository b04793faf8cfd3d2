// Writers in several processes at once: no change is lost, no URN is added
// twice, and the lock stays held for the whole of each change.
#include "registry_write.h"
#include "gate.h"
#include "registry_test_util.h"
#include "zorbel/support/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <set>

using namespace zorbel::test;

namespace {

// Runs body(0) ... body(count - 1) in as many child processes, released
// together once all have started; their exit statuses.
std::vector<int> all_at_once(int count, const std::function<int(int)> &body)
{
    Gate gate;
    std::vector<zorbel::test::Child> children;
    for (int k = 0; k < count; ++k)
        children.push_back(zorbel::test::Child::fork_call([&, k] { return gate.wait() ? body(k) : 96; }));
    gate.open(count);
    const auto deadline = after(std::chrono::seconds(120));
    std::vector<int> statuses;
    for (auto &child : children) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        statuses.push_back(child.wait_status(std::max(left, std::chrono::milliseconds(0))));
    }
    return statuses;
}

TEST(Concurrency, FourWritersLoseNothing)
{
    Registry reg;
    constexpr int writers = 4, adds = 50;
    const std::vector<int> statuses = all_at_once(writers, [&](int k) {
        for (int i = 0; i < adds; ++i) {
            zo_t s = full_record("urn:w" + std::to_string(k) + ":" + std::to_string(i));
            if (zo_add(&s, &reg.env) != ZO_ERR_NO_ERROR)
                return 1;
        }
        return 0;
    });
    EXPECT_EQ(statuses, std::vector<int>(writers, 0));

    auto doc = valid_registry_file(reg.root.registry_file());
    ASSERT_TRUE(doc);
    const std::vector<std::string> urns = instance_urns_of(doc.get());
    EXPECT_EQ(urns.size(), static_cast<size_t>(writers * adds));
    EXPECT_EQ(std::set<std::string>(urns.begin(), urns.end()).size(), urns.size());
    for (int k = 0; k < writers; ++k) {  // each writer's records in the order it added them
        const std::string prefix = "urn:w" + std::to_string(k) + ":";
        int next = 0;
        for (const std::string &urn : urns) {
            if (urn.rfind(prefix, 0) == 0) {
                EXPECT_EQ(urn, prefix + std::to_string(next++));
            }
        }
        EXPECT_EQ(next, adds);
    }
}

TEST(Concurrency, RacingAddsOfOneUrnStoreItOnce)
{
    Registry reg;
    constexpr int writers = 4, urns = 20;
    const std::vector<int> added = all_at_once(writers, [&](int) {
        int count = 0;
        for (int i = 0; i < urns; ++i) {
            zo_t s = full_record("urn:shared:" + std::to_string(i));
            const int rc = zo_add(&s, &reg.env);
            if (rc != ZO_ERR_NO_ERROR && rc != ZO_ERR_DUP_REC)
                return 100;
            count += rc == ZO_ERR_NO_ERROR;
        }
        return count;
    });
    int total = 0;
    for (const int n : added)
        total += n;
    EXPECT_EQ(total, urns);
    auto doc = valid_registry_file(reg.root.registry_file());
    ASSERT_TRUE(doc);
    EXPECT_EQ(instance_urns_of(doc.get()).size(), static_cast<size_t>(urns));
}

// Another process probes the registry file it opened before the change
// with a non-blocking lockf(): from the moment the writer holds the lock
// the probe must fail, until the writer has renamed its new file over the
// registry.  A writer that lost its lock early (for instance by closing a
// second descriptor of the file while reading it) is caught with the old
// file still in place.
void expect_lock_held_throughout(Registry &reg, const std::function<int()> &change)
{
    const zorbel::UniqueFd probe(open(reg.root.registry_file().c_str(), O_RDWR));
    ASSERT_TRUE(probe);
    struct stat old_file {};
    fstat(probe.get(), &old_file);
    Gate gate;
    auto writer = zorbel::test::Child::fork_call([&] { return gate.wait() ? change() : 96; });
    gate.open();
    bool held = false, replaced_before_release = false;
    int probes = 0;
    for (const auto deadline = after(std::chrono::seconds(20)); std::chrono::steady_clock::now() < deadline;) {
        ++probes;
        if (lockf(probe.get(), F_TLOCK, 0) != 0) {
            held = true;
            continue;
        }
        lockf(probe.get(), F_ULOCK, 0);
        if (held) {
            struct stat now {};
            replaced_before_release =
                stat(reg.root.registry_file().c_str(), &now) == 0 && now.st_ino != old_file.st_ino;
            break;
        }
    }
    EXPECT_EQ(writer.wait_status(std::chrono::seconds(20)), 0);
    EXPECT_TRUE(held) << "the lock was never seen held in " << probes << " probes";
    EXPECT_TRUE(replaced_before_release);
}

TEST(Concurrency, LockIsHeldFromLookupToReplacement)
{
    // Big enough that each stage of a change takes many probes.
    const int me = my_uid();
    Registry reg(many_records(3000, "urn:big:", "urn:p", me + 1) + record_xml("urn:mine:1", "urn:p", me) +
                 record_xml("urn:mine:2", "urn:p", me));
    expect_lock_held_throughout(reg, [&] {
        zo_t s = full_record("urn:new");
        return zo_add(&s, &reg.env);
    });
    expect_lock_held_throughout(reg, [&] {
        zo_t s{};
        ZT_SET(s, instance_urn, "urn:mine:1");
        ZT_SET(s, product_parent_urn, "urn:changed");
        return zo_update(&s, &reg.env);
    });
    expect_lock_held_throughout(reg, [&] { return zo_delete("urn:mine:2", &reg.env); });
}

// A user who may only read the registry holds a read lock on it: writers,
// root included, give up after their bounded wait and change nothing.
TEST(Concurrency, ReadLockOfAnotherUserBoundsTheWait)
{
    Registry reg(record_xml("urn:a", "urn:p", my_uid()));
    open_to_all_users(reg.root);
    chmod(reg.root.registry_file().c_str(), 0644);
    Gate ready;
    auto holder = zorbel::test::Child::fork_call([&] {
        if (geteuid() == 0 && !become_user(nobody_uid, nobody_gid))
            return 90;
        const zorbel::UniqueFd fd(open(reg.root.registry_file().c_str(), O_RDONLY));
        struct flock fl {};
        fl.l_type = F_RDLCK;
        fl.l_whence = SEEK_SET;
        if (!fd || fcntl(fd.get(), F_SETLK, &fl) != 0)
            return 91;
        ready.open();
        pause();
        return 0;
    });
    ASSERT_TRUE(ready.wait());
    const std::string before = reg.content();
    const auto writers = [&] {
        zorbel::set_lock_wait_for_tests(std::chrono::milliseconds(300));
        zo_t s = full_record("urn:new");
        if (zo_add(&s, &reg.env) != ZO_ERR_LOCKF_ERR)
            return 1;
        zo_t u{};
        ZT_SET(u, instance_urn, "urn:a");
        ZT_SET(u, product_parent_urn, "p");
        if (zo_update(&u, &reg.env) != ZO_ERR_LOCKF_ERR)
            return 2;
        return zo_delete("urn:a", &reg.env) == ZO_ERR_LOCKF_ERR ? 0 : 3;
    };
    EXPECT_EQ(in_child(writers, std::chrono::seconds(20)), 0);
    EXPECT_EQ(reg.content(), before);
    holder.stop(SIGKILL);
    zo_t s = full_record("urn:after");
    EXPECT_EQ(zo_add(&s, &reg.env), ZO_ERR_NO_ERROR);
}

}  // namespace

// Threads of one process reading registries at once, in a program that
// uses the XML library for its own documents too: every registry read
// keeps the entity rules (a registry naming a FIFO as its DTD is refused),
// and the program's own entity loader still serves the program's own
// parses afterwards, however the reads interleaved.  (With the rules
// swapped in and out around each read, two overlapping reads left the
// rules in place for good, and the program's loader was never called
// again; closing one environment while another thread read freed the XML
// library's state under that read.)
xmlExternalEntityLoader program_default_loader = nullptr;
std::atomic<int> program_loads{0};
xmlParserInputPtr program_loader(const char *url, const char *id, xmlParserCtxtPtr ctxt)
{
    ++program_loads;
    return program_default_loader(url, id, ctxt);
}

TEST(Concurrency, ThreadsReadingAtOnceKeepTheEntityRulesToThemselves)
{
    const TempRoot good, hostile;
    good.write_registry("");
    ASSERT_EQ(mkfifo((hostile.root() + "/fifo").c_str(), 0600), 0);
    write_file(hostile.registry_file(), "<?xml version=\"1.0\"?>\n<!DOCTYPE registry SYSTEM \"" + hostile.root() +
                                            "/fifo\">\n<registry urn=\"urn:zo:d\" version=\"1\"/>\n");
    Child child = Child::fork_call([&] {
        if (!freopen("/dev/null", "w", stderr))
            return 100;
        // The program reads a registry once, then puts in a loader of its
        // own that calls the one it found.
        zo_env_t first{};
        if (zo_initialize(good.root().c_str(), &first) != ZO_ERR_NO_ERROR)
            return 3;
        zo_close(&first);
        program_default_loader = xmlGetExternalEntityLoader();
        xmlSetExternalEntityLoader(program_loader);
        std::atomic<int> wrong{0};
        const auto reads = [&wrong](const TempRoot &r, int expected) {
            for (int i = 0; i < 2000; ++i) {
                zo_env_t env{};
                wrong += zo_initialize(r.root().c_str(), &env) != expected;
                zo_close(&env);
            }
        };
        std::thread a(reads, std::cref(good), ZO_ERR_NO_ERROR);
        std::thread b(reads, std::cref(hostile), ZO_ERR_XML_INVALID_REG);
        a.join();
        b.join();
        if (wrong != 0)
            return 1;
        const std::string own = "<!DOCTYPE registry SYSTEM \"" + good.dtd_file() + "\"><registry/>";
        const zorbel::xml::DocPtr doc(xmlReadMemory(own.data(), static_cast<int>(own.size()), "own.xml", nullptr,
                                                    XML_PARSE_DTDLOAD));
        return doc && program_loads > 0 ? 0 : 2;
    });
    EXPECT_EQ(child.wait_status(std::chrono::seconds(60)), 0);
}
