// A writer killed at any moment leaves a registry that parses, validates
// and holds exactly the adds that completed before the kill, and nothing
// else in the registry directory once the next writer has run; the new
// content is on disk before it is renamed into place.
#include "proc_files.h"
#include "registry_test_util.h"

#include <sys/stat.h>

#include <fstream>
#include <random>
#include <set>

using namespace zorbel::test;

namespace {

std::set<std::string> names_in(const std::string &dir)
{
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

// True once a tracer has attached to the calling process (bounded wait).
bool wait_for_tracer()
{
    return eventually(
        [] {
            const std::string line = proc_status_line(getpid(), "TracerPid");
            return line.starts_with("TracerPid:") && std::stoi(line.substr(10)) != 0;
        },
        10s);
}

struct Traced {
    int status;         // as Child::wait_status gives it
    std::vector<std::string> lines;  // the system calls strace saw
};

// Runs `body` in a child process traced by `strace -f -y` with `options`.
Traced under_strace(const std::vector<std::string> &options, const std::function<int()> &body)
{
    const TempRoot scratch(bare_root);
    const std::string out = scratch.root() + "/trace";
    auto child = Child::fork_call([&] { return wait_for_tracer() ? body() : 97; });
    std::vector<std::string> argv{"/usr/bin/strace", "-f", "-qq", "-y", "-o", out, "-p", std::to_string(child.pid())};
    argv.insert(argv.end(), options.begin(), options.end());
    auto tracer = Child::spawn(argv);
    Traced result{child.wait_status(std::chrono::seconds(30)), {}};
    tracer.wait_status(std::chrono::seconds(10));
    std::ifstream trace(out);
    for (std::string line; std::getline(trace, line);)
        result.lines.push_back(line);
    return result;
}

TEST(CrashSafety, KilledWriterLeavesAPrefixOfItsAdds)
{
    Registry reg;
    const unsigned seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> random_delay_us(0, 15000);
    size_t stored = 0;
    // 30 kills at random moments; then, while no add has finished yet (a
    // slow machine or a sanitizer build), up to 12 more, each waiting twice
    // as long as the one before (30 ms to about a minute).
    int patient_delay_us = 15000;
    for (int kill_no = 0; kill_no < 30 || (stored == 0 && kill_no < 42); ++kill_no) {
        const int delay_us = kill_no < 30 ? random_delay_us(random) : patient_delay_us *= 2;
        auto writer = zorbel::test::Child::fork_call([&, first = stored] {
            for (size_t n = first; n < first + 100000; ++n) {
                zo_t s = full_record("urn:crash:" + std::to_string(n));
                if (zo_add(&s, &reg.env) != ZO_ERR_NO_ERROR)
                    return 1;
            }
            return 0;
        });
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
        kill(writer.pid(), SIGKILL);
        ASSERT_EQ(writer.wait_status(std::chrono::seconds(10)), 128 + SIGKILL) << "seed " << seed;

        auto doc = valid_registry_file(reg.root.registry_file());
        ASSERT_TRUE(doc) << "kill " << kill_no << ", seed " << seed;
        const std::vector<std::string> urns = instance_urns_of(doc.get());
        ASSERT_GE(urns.size(), stored);
        for (size_t n = 0; n < urns.size(); ++n)
            ASSERT_EQ(urns[n], "urn:crash:" + std::to_string(n)) << "kill " << kill_no << ", seed " << seed;
        stored = urns.size();
    }
    EXPECT_GT(stored, 0u);

    // The next writer, once the killed writers' files are old enough that
    // no live writer could own them, leaves the registry alone in its directory.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    zo_t s = full_record("urn:after");
    ASSERT_EQ(zo_add(&s, &reg.env), ZO_ERR_NO_ERROR);
    EXPECT_EQ(names_in(reg.root.registry_dir()), (std::set<std::string>{"zorbel.dtd", "zorbel.xml"}));
}

// The temporary file is synced after its last write and before the rename,
// and the directory is synced after the rename.
TEST(CrashSafety, NewContentIsOnDiskBeforeAndAfterTheRename)
{
    Registry reg(record_xml("urn:a", "urn:p", my_uid()));
    const Traced t = under_strace({"-e", "trace=write,pwrite64,fsync,fdatasync,rename,renameat,renameat2"}, [&] {
        zo_t s = full_record("urn:new");
        return zo_add(&s, &reg.env);
    });
    ASSERT_EQ(t.status, 0);
    const auto first = [&](size_t from, auto pred) {
        for (size_t i = from; i < t.lines.size(); ++i)
            if (pred(t.lines[i]))
                return i;
        return t.lines.size();
    };
    const auto has = [](const std::string &line, std::initializer_list<std::string_view> parts) {
        return std::all_of(parts.begin(), parts.end(), [&](std::string_view p) { return line.find(p) != std::string::npos; });
    };
    const size_t rename_at = first(0, [&](const std::string &l) { return has(l, {"rename", "/.zorbel.xml.", "/zorbel.xml\""}); });
    ASSERT_LT(rename_at, t.lines.size()) << "no rename seen";
    size_t last_write = 0, temp_sync = t.lines.size();
    for (size_t i = 0; i < rename_at; ++i) {
        if (has(t.lines[i], {"write", "/.zorbel.xml."}))
            last_write = i;
        if (has(t.lines[i], {"sync(", "/.zorbel.xml."}))
            temp_sync = i;
    }
    EXPECT_TRUE(temp_sync < rename_at && temp_sync > last_write) << "the temporary file is not synced before the rename";
    const std::string dir_sync = "sync(" ;
    EXPECT_LT(first(rename_at, [&](const std::string &l) { return has(l, {dir_sync, "/var/sadm/zorbel/registry>"}); }),
              t.lines.size())
        << "the directory is not synced after the rename";
}

// A writer that may write the registry but not its directory rewrites it in
// place; killed at its write or at its final cut, it leaves a registry that
// parses: the old one, or the new one followed by white space.
TEST(CrashSafety, InPlaceRewriteKilledAtAnyStepStillParses)
{
    const struct {
        const char *syscall;
        std::vector<std::string> urns;  // in the registry after the kill
    } cases[] = {
        {"pwrite64", {"urn:a", "urn:b"}},
        {"fsync", {"urn:b"}},
        {"ftruncate", {"urn:b"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.syscall);
        const uid_t owner = geteuid() == 0 ? nobody_uid : getuid();
        Registry reg(record_xml("urn:a", "urn:p", static_cast<int>(owner)) +
                     record_xml("urn:b", "urn:p", static_cast<int>(owner)));
        open_to_all_users(reg.root);
        if (geteuid() == 0) {
            ASSERT_EQ(chown(reg.root.registry_file().c_str(), owner, owner), 0);
        }
        chmod(reg.root.registry_dir().c_str(), 0555);  // no room for a temporary file
        const Traced t = under_strace({"-e", std::string("inject=") + c.syscall + ":signal=KILL"}, [&] {
            if (geteuid() == 0 && !become_user(nobody_uid, nobody_gid))
                return 90;
            return zo_delete("urn:a", &reg.env);
        });
        chmod(reg.root.registry_dir().c_str(), 0755);
        EXPECT_EQ(t.status, 128 + SIGKILL);
        auto doc = valid_registry_file(reg.root.registry_file());
        ASSERT_TRUE(doc) << reg.content();
        EXPECT_EQ(instance_urns_of(doc.get()), c.urns);
    }
}

}  // namespace
