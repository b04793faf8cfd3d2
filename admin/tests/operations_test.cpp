// What an operator installs besides the programs: the layout of
// cmake --install, the systemd units, the manual pages, and the inetd
// lines served for real by an inetd.
#include "cli_run.h"
#include "isolation.h"
#include "proc_files.h"
#include "temp_root.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/socket.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace zorbel::test {
namespace {

const std::vector<std::string> units{"tavish.socket",    "tavish@.service",         "tavish.service",
                                     "brenloch.socket",  "brenloch.service",        "zorbel-textfile.service",
                                     "zorbel-textfile.timer"};
const std::vector<std::string> man_pages{"share/man/man1/zorbel.1", "share/man/man3/zorbel.3",
                                         "share/man/man8/tavish.8", "share/man/man8/brenloch.8"};

bool executable(const std::string &path)
{
    return access(path.c_str(), X_OK) == 0;
}

bool exists(const std::string &path)
{
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

TEST(Install, PutsEveryOperatorFileInPlace)
{
    for (const std::string p : {"bin/zorbel", "sbin/tavish", "sbin/brenloch"})
        EXPECT_TRUE(executable(installed(p))) << p;
    for (const auto &u : units)
        EXPECT_TRUE(exists(installed("lib/systemd/system/" + u))) << u;
    for (const auto &m : man_pages)
        EXPECT_TRUE(exists(installed(m))) << m;
    EXPECT_TRUE(exists(installed("share/doc/zorbel/inetd.conf")));
}

TEST(Install, UnitsAndInetdLinesStartTheInstalledPrograms)
{
    const std::string tavish = installed("sbin/tavish"), brenloch = installed("sbin/brenloch");
    const auto unit = [](const std::string &name) { return read_file(installed("lib/systemd/system/" + name)); };
    EXPECT_NE(unit("tavish@.service").find("\nExecStart=" + tavish + " -i\n"), std::string::npos);
    EXPECT_NE(unit("tavish.service").find("\nExecStart=" + tavish + " -f\n"), std::string::npos);
    EXPECT_NE(unit("brenloch.service").find("\nExecStart=" + brenloch + " -i\n"), std::string::npos);
    const std::string inetd = read_file(installed("share/doc/zorbel/inetd.conf"));
    EXPECT_NE(inetd.find("\t" + tavish + "\ttavish -i"), std::string::npos) << inetd;
    EXPECT_NE(inetd.find("\t" + brenloch + "\tbrenloch -i"), std::string::npos) << inetd;
    // The sources keep the standard paths.
    EXPECT_NE(read_file(std::string(ZORBEL_SOURCE_DIR) + "/contrib/systemd/tavish@.service")
                  .find("ExecStart=/opt/quesk/zorbel/sbin/tavish -i\n"),
              std::string::npos);
}

// verify with the installed pages on the manual path (Documentation= is
// checked too), and an exposure of at most 2.5 for every service.
TEST(SystemdUnits, PassVerifyAndScoreLow)
{
    const std::string analyze = "/usr/bin/systemd-analyze";
    if (!executable(analyze))
        GTEST_SKIP() << "systemd-analyze is not installed";
    std::vector<std::string> argv{"/usr/bin/env", "MANPATH=" + installed("share/man"), analyze, "verify"};
    for (const auto &u : units)
        argv.push_back(installed("lib/systemd/system/" + u));
    auto r = run(argv, 60s);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err + r.out, "");
    for (const auto &u : units) {
        if (!u.ends_with(".service"))
            continue;
        r = run({analyze, "security", "--offline=yes", installed("lib/systemd/system/" + u)}, 60s);
        const auto at = r.out.find("Overall exposure level for ");
        ASSERT_NE(at, std::string::npos) << u << ": " << r.out << r.err;
        const double score = std::stod(r.out.substr(r.out.find(": ", at) + 2));
        EXPECT_LE(score, 2.5) << u << ": " << r.out.substr(at);
    }
}

// What the units grant is enough: a user of no account of its own, with
// only CAP_DAC_READ_SEARCH, serves a registry that only root may read.
TEST(SystemdUnits, ResponderServesWithTheUnitsIdentity)
{
    if (geteuid() != 0 || !executable("/usr/bin/setpriv"))
        GTEST_SKIP() << "needs root and setpriv";
    TempRoot root;
    root.write_registry("", "urn:zo:11111111-2222-1333-8444-555555555555");
    chmod(root.registry_file().c_str(), 0600);
    chmod(root.registry_dir().c_str(), 0700);
    const int port = free_port(SOCK_STREAM);
    Child tavish = Child::spawn({"/usr/bin/setpriv", "--reuid", "61234", "--regid", "61234", "--clear-groups",
                                 "--inh-caps=-all,+dac_read_search", "--ambient-caps=-all,+dac_read_search",
                                 "--bounding-set=-all,+dac_read_search", "--no-new-privs",
                                 installed("sbin/tavish"), "-f", "-v", "-t", std::to_string(port), "-r", root.root()},
                                logging_to(root.root() + "/tavish.err"));
    ASSERT_TRUE(wait_serving(SOCK_STREAM, port)) << read_file(root.root() + "/tavish.err");
    const auto r = zorbel({"query", "127.0.0.1:" + std::to_string(port), "agent"});
    EXPECT_NE(r.out.find("urn:zo:11111111-2222-1333-8444-555555555555"), std::string::npos)
        << r.out << read_file(root.root() + "/tavish.err");
}

// Every installed page (the links to zorbel(3) aside) passes both
// formatters' checks without a word: mandoc's lint, and groff with every
// warning on, at 80 columns on a terminal (man's 78 of text there, and 80)
// and with the same line length in its default typesetting device.
struct ManCheck {
    const char *name;
    std::vector<std::string> argv;  // the page's path is appended
};

const ManCheck man_checks[] = {
    {"mandoc lint", {"/usr/bin/mandoc", "-T", "lint", "-W", "warning"}},
    {"groff", {"/usr/bin/groff", "-ww", "-z", "-mandoc", "-rLL=80n"}},
    {"groff, 80 columns", {"/usr/bin/groff", "-ww", "-z", "-mandoc", "-Tutf8", "-rLL=80n"}},
    {"groff, 80 columns as man sets them", {"/usr/bin/groff", "-ww", "-z", "-mandoc", "-Tutf8", "-rLL=78n"}},
};

TEST(ManPages, RenderWithoutWarningsAt80Columns)
{
    std::vector<std::string> pages;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(installed("share/man")))
        if (entry.is_regular_file() && !entry.is_symlink())
            pages.push_back(entry.path());
    EXPECT_GE(pages.size(), man_pages.size());
    for (const ManCheck &check : man_checks)
        if (!executable(check.argv[0]))
            GTEST_SKIP() << check.argv[0] << " is not installed";
    for (const ManCheck &check : man_checks) {
        for (const auto &page : pages) {
            std::vector<std::string> argv = check.argv;
            argv.push_back(page);
            const auto r = run(argv, 60s);
            EXPECT_EQ(r.status, 0) << check.name << ": " << page << ": " << r.out << r.err;
            EXPECT_EQ(r.out + r.err, "") << check.name << ": " << page;
        }
    }
}

// The shipped inetd lines with the port moved to a free loopback port and
// the responders pointed at a temporary registry.
std::string private_inetd_conf(const std::string &root, int tcp_port, int udp_port)
{
    std::istringstream in(read_file(installed("share/doc/zorbel/inetd.conf")));
    std::string conf;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const bool stream = line.find("\tstream\t") != std::string::npos;
        EXPECT_TRUE(line.starts_with("6481\t")) << line;
        conf += "127.0.0.1:" + std::to_string(stream ? tcp_port : udp_port) + line.substr(4) + " -r " + root;
        conf += stream ? "\n" : " -t " + std::to_string(tcp_port) + "\n";
    }
    return conf;
}

TEST(Inetd, ServesBothRespondersThroughTheShippedLines)
{
    const std::string inetd = "/usr/sbin/inetd";
    if (!executable(inetd) || !executable("/usr/bin/unshare"))
        GTEST_SKIP() << "inetd (openbsd-inetd) or unshare is not installed";
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: the inetd lines run the responders as root";
    if (const std::string why = private_mounts_unavailable(); !why.empty())
        GTEST_SKIP() << why << ", for inetd's private mounts";

    TempRoot root;
    const auto add = zorbel({"-r", root.root(), "add", "--product-name", "Inetd Demo", "--product-version", "1",
                             "--product-urn", "urn:product:i", "--product-parent", "P", "--vendor", "V", "--arch",
                             "x86_64", "--container", "c", "--source", "s"});
    ASSERT_EQ(add.status, 0) << add.err;
    const std::string urn = add.out.substr(0, add.out.find('\n'));
    const std::string registry_urn = zorbel({"-r", root.root(), "urn"}).out;

    const int tcp_port = free_port(SOCK_STREAM), udp_port = free_port(SOCK_DGRAM);
    const std::string conf = root.root() + "/inetd.conf";
    write_file(conf, private_inetd_conf(root.root(), tcp_port, udp_port));

    // inetd in the foreground, as init of its own pid namespace (its end
    // ends the responders it started) with private /run and /var/log.
    Child inetd_child = Child::spawn(
        {"/usr/bin/unshare", "--mount", "--pid", "--fork", "--kill-child", "/bin/sh", "-c",
         "mount -t tmpfs tmpfs /run && mount -t tmpfs tmpfs /var/log && exec " + inetd + " -d -i " + conf},
        logging_to(root.root() + "/inetd.log"));
    ASSERT_TRUE(wait_serving(SOCK_STREAM, tcp_port)) << read_file(root.root() + "/inetd.log");

    const std::string at = "127.0.0.1:" + std::to_string(tcp_port);
    auto r = zorbel({"query", at, "version"});
    EXPECT_EQ(r.status, 0) << r.err << read_file(root.root() + "/inetd.log");
    EXPECT_TRUE(r.out.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n")) << r.out;
    r = zorbel({"query", at, "list"});
    EXPECT_NE(r.out.find("href=\"/zov1/zorbel/" + urn + "\""), std::string::npos) << r.out << r.err;

    // The first probe has inetd start brenloch; the second finds it running.
    for (const char *seconds : {"3", "1"}) {
        r = zorbel({"discover", "--port", std::to_string(udp_port), "--timeout", seconds, "127.0.0.1"});
        EXPECT_EQ(r.status, 0) << r.err << read_file(root.root() + "/inetd.log");
        EXPECT_EQ(r.out, "127.0.0.1 " + registry_urn.substr(0, registry_urn.size() - 1) + " " +
                             std::to_string(tcp_port) + "\n");
    }
    // unshare waits for inetd with SIGTERM blocked: end inetd itself.
    for (const pid_t pid : children_of(inetd_child.pid()))
        kill(pid, SIGKILL);
    EXPECT_TRUE(inetd_child.wait(5s).has_value());
}

}  // namespace
}  // namespace zorbel::test
