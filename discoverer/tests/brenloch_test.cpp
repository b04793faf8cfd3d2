// The real brenloch binary on loopback UDP ports, with a temporary registry.
#include "loopback.h"
#include "proc_files.h"
#include "process.h"
#include "run.h"
#include "temp_root.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace {

using namespace zorbel::test;
using ::testing::HasSubstr;

const std::string urn = "urn:zo:00000000-0000-1000-8000-000000000000";

// Sends probes from one socket of its own and reads the replies.
class Prober {
public:
    explicit Prober(int port) : port_(port), fd_(bound_udp_socket()) {}
    ~Prober() { close(fd_); }
    // The first reply to `text` within `wait`; nullopt when none comes.
    std::optional<std::string> ask(const std::string &text, std::chrono::milliseconds wait = 3s)
    {
        sockaddr_in to = loopback_address(port_);
        sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(wait.count())) <= 0)
            return std::nullopt;
        char buf[1024];
        const ssize_t n = recv(fd_, buf, sizeof buf, 0);
        return std::string(buf, static_cast<size_t>(std::max<ssize_t>(n, 0)));
    }
    std::optional<std::string> ignored(const std::string &text) { return ask(text, 200ms); }

private:
    int port_, fd_;
};

// A running brenloch (-f) on a free port, its standard error in a file.
struct Brenloch {
    explicit Brenloch(std::vector<std::string> args = {}, bool registry = true)
        : root(TempRoot::Options{.make_registry_dir = registry}), port(free_port(SOCK_DGRAM)),
          err_path(root.root() + "/stderr")
    {
        if (registry)
            root.write_registry("", urn);
        std::vector<std::string> argv = {BRENLOCH_PATH, "-f", "-r", root.root(), "-u", std::to_string(port)};
        argv.insert(argv.end(), args.begin(), args.end());
        child = Child::spawn(argv, logging_to(err_path));
        for (size_t i = 0; i + 1 < args.size(); ++i)  // a later -u wins
            if (args[i] == "-u")
                port = std::stoi(args[i + 1]) % 65536;
        wait_serving(SOCK_DGRAM, port);
    }
    std::string trace() const { return read_file(err_path); }

    TempRoot root;
    int port;
    std::string err_path;
    Child child;
};

TEST(Brenloch, AnswersEachNewProbeOnceWithUrnAndPort)
{
    Brenloch b({"-t", "4242", "-N", "anything"});
    Prober p(b.port);
    EXPECT_EQ(p.ask("hello"), urn + " 4242\n");
    EXPECT_EQ(p.ignored("hello"), std::nullopt);
    EXPECT_THAT(b.trace(), HasSubstr("NOTICE: ignoring due to scache hit: hello\n"));
    // A probe text longer than the cache keeps is never recognised.
    const std::string long_probe(600, 'x');
    EXPECT_EQ(p.ask(long_probe), urn + " 4242\n");
    EXPECT_EQ(p.ask(long_probe), urn + " 4242\n");
    // Only the text up to the first NUL counts.
    EXPECT_EQ(p.ask(std::string("abc\0x", 5)), urn + " 4242\n");
    EXPECT_EQ(p.ignored(std::string("abc\0y", 5)), std::nullopt);
    EXPECT_EQ(p.ignored(""), std::nullopt);  // the empty text: empty slots remain
    EXPECT_EQ(p.ignored(std::string("\0z", 2)), std::nullopt);
}

TEST(Brenloch, The33rdTextPushesTheFirstOut)
{
    Brenloch b;
    Prober p(b.port);
    for (int i = 0; i <= 32; ++i)
        ASSERT_TRUE(p.ask("probe " + std::to_string(i))) << i;
    EXPECT_EQ(p.ignored("probe 32"), std::nullopt);
    EXPECT_EQ(p.ask("probe 0"), urn + " 6481\n");
}

TEST(Brenloch, EmptyProbeAtStartIsIgnored)
{
    Brenloch b;
    Prober p(b.port);
    EXPECT_EQ(p.ignored(""), std::nullopt);
    EXPECT_THAT(b.trace(), HasSubstr("NOTICE: ignoring due to scache hit: \n"));
}

TEST(Brenloch, ReplyCarriesPortAndUrnAsConfigured)
{
    struct Case { std::vector<std::string> args; bool registry; std::string reply; };
    const Case cases[] = {
        {{}, false, " 6481\n"},  // registry cannot be opened: empty URN
        {{"-v"}, false, " 6481\n"},  // ... said once at start-up
        {{"-t", "0"}, true, urn + " 0\n"},
        {{"-t", "70000"}, true, urn + " 70000\n"},
        {{"-t", "-5x"}, true, urn + " -5\n"},
        {{"-t", "none"}, true, urn + " 0\n"},
    };
    for (const auto &c : cases) {
        Brenloch b(c.args, c.registry);
        EXPECT_EQ(Prober(b.port).ask("q"), c.reply) << ::testing::PrintToString(c.args);
        const std::string said = "zo_initialize: " + b.root.registry_dir() +
                                 ": Unable to open directory or file (No such file or directory)\n";
        EXPECT_EQ(b.trace().starts_with(said), !c.registry && !c.args.empty()) << b.trace();
    }
}

TEST(Brenloch, UdpPortKeepsItsLow16Bits)
{
    const int port = free_port(SOCK_DGRAM);
    Brenloch b({"-u", std::to_string(port + 65536)});
    EXPECT_EQ(Prober(port).ask("q"), urn + " 6481\n");
}

TEST(Brenloch, ProbeTextsAreEscapedInEveryTraceLine)
{
    Brenloch b({"-v"});
    Prober p(b.port);
    ASSERT_TRUE(p.ask("a\nb\\c\x1b[2J\x7f"));
    EXPECT_EQ(p.ignored("a\nb\\c\x1b[2J\x7f"), std::nullopt);
    const std::string shown = R"(a\x0ab\\c\x1b[2J\x7f)";
    const std::string trace = b.trace();
    const auto got = trace.find(" got   10 bytes from ");
    ASSERT_NE(got, std::string::npos) << trace;
    EXPECT_TRUE(trace.substr(got, trace.find('\n', got) - got).ends_with(": " + shown)) << trace;
    EXPECT_THAT(trace, HasSubstr("got msg: " + shown + "\n"));
    EXPECT_THAT(trace, HasSubstr("NOTICE: ignoring due to scache hit: " + shown + "\n"));
    EXPECT_THAT(trace, HasSubstr("udp response: " + urn + " 6481\n\n"));
}

std::vector<int> delays(const std::string &trace)
{
    std::vector<int> out;
    const std::regex line(R"(\(random sleep: (\d+) microseconds\))");
    for (std::sregex_iterator it(trace.begin(), trace.end(), line), end; it != end; ++it)
        out.push_back(std::stoi((*it)[1]));
    return out;
}

TEST(Brenloch, ProcessesStartedTogetherDrawDifferentDelays)
{
    Brenloch a, b;
    Prober pa(a.port), pb(b.port);
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(pa.ask("p" + std::to_string(i)));
        ASSERT_TRUE(pb.ask("p" + std::to_string(i)));
    }
    const auto da = delays(a.trace()), db = delays(b.trace());
    ASSERT_EQ(da.size(), 20u);
    EXPECT_NE(da, db);
    for (const int d : da)
        EXPECT_LT(d, 1000);
}

const std::string usage =
    "Usage: brenloch [options]\n"
    "Options:\n"
    "  -f                     do not fork() from the calling shell\n"
    "  -l logfile             redirect stderr to specified file\n"
    "  -i                     run under control of inetd(1M)\n"
    "  -v                     provide verbose output\n"
    "  -r alt_root_dir        look for Zorbel Registry under specified dir\n"
    "  -u udp_port            use the specified udp port for zo-disc discovery\n"
    "  -t tcp_port            advertise this TCP port for zo-disc discovery\n"
    "  -U user                setuid to specified user\n"
    "  -G group               setgid to specified group\n";

TEST(Brenloch, StartUpRefusals)
{
    const auto repeat = [](const std::string &line, int n) {
        std::string out;
        while (n-- > 0)
            out += line;
        return out;
    };
    struct Case { std::vector<std::string> args; std::string err; int status; std::string out = ""; };
    const Case cases[] = {
        {{"-f", "-u"}, "Option -u requires an operand\n" + usage, 1},
        {std::vector<std::string>(256, "-x"), repeat("Unrecognized option: -x\n", 256) + usage, 255},
        {{"-f", "-U", "no-such-user-zq"}, "WARNING: no such user exists: no-such-user-zq\n", 1},
        {{"--help"}, "", 0, usage},  // a lone --help or --version: standard output, status 0
        {{"--version"}, "", 0, "brenloch 1.1.4\n"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> argv = {BRENLOCH_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const auto r = run(argv);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, c.out);
    }
}

TEST(Brenloch, LogFileMustBeNew)
{
    TempRoot logs;
    const std::string existing = logs.root() + "/old.log", fresh = logs.root() + "/new.log";
    write_file(existing, "keep\n");
    Brenloch b({"-l", existing, "-l", fresh});
    EXPECT_EQ(Prober(b.port).ask("q"), urn + " 6481\n");
    EXPECT_EQ(b.trace(), "Unable to open log file: " + existing + "\n");
    EXPECT_EQ(read_file(existing), "keep\n");
    EXPECT_THAT(read_file(fresh), HasSubstr("got msg: q\n"));
}

TEST(Brenloch, DropsToTheGivenUserAndGroup)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    Brenloch b({"-U", "nobody", "-G", "nogroup"}, false);
    ASSERT_EQ(Prober(b.port).ask("q"), " 6481\n");
    const pid_t pid = b.child.pid();
    EXPECT_EQ(proc_status_line(pid, "Uid"), "Uid:\t65534\t65534\t65534\t65534");
    EXPECT_EQ(proc_status_line(pid, "Gid"), "Gid:\t65534\t65534\t65534\t65534");
}

TEST(Brenloch, InetdModeServesTheSocketOnDescriptorZero)
{
    const int sock = bound_udp_socket(), port = local_port(sock);
    TempRoot root;
    root.write_registry("", urn);
    Child child = Child::spawn({BRENLOCH_PATH, "-i", "-r", root.root(), "-u", "1"}, SpawnOptions{.stdin_fd = sock});
    close(sock);
    EXPECT_EQ(Prober(port).ask("q"), urn + " 6481\n");
    EXPECT_TRUE(child.running());  // -i never detaches
}

TEST(Brenloch, InetdModeRefusesAnythingButAnIpv4Socket)
{
    TempRoot root;
    const std::string err = root.root() + "/err";
    const int v6 = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    Child child = Child::spawn({BRENLOCH_PATH, "-i", "-r", root.root()}, SpawnOptions{.stdin_fd = v6, .stderr_path = err});
    close(v6);
    EXPECT_EQ(child.wait_exit_code(), 1);
    EXPECT_EQ(read_file(err), "Unknown address family: 10\n");

    Child not_socket = Child::spawn({BRENLOCH_PATH, "-i", "-f"}, logging_to(err + "2"));
    EXPECT_EQ(not_socket.wait_exit_code(), 1);
    EXPECT_THAT(read_file(err + "2"), HasSubstr("getsockname: "));
}

TEST(Brenloch, RunsUnderSocketActivation)
{
    const char *activate = "/usr/bin/systemd-socket-activate";
    if (access(activate, X_OK) != 0)
        GTEST_SKIP() << "no systemd-socket-activate";
    TempRoot root;
    root.write_registry("", urn);
    const int port = free_port(SOCK_DGRAM);
    Child child = Child::spawn({activate, "--datagram", "--inetd", "-l", "127.0.0.1:" + std::to_string(port),
                                BRENLOCH_PATH, "-i", "-r", root.root(), "-t", "7"});
    Prober p(port);
    std::optional<std::string> reply;
    int attempt = 0;  // until the activator listens; a new text each time
    eventually([&] { return (reply = p.ask("q" + std::to_string(++attempt), 200ms)).has_value(); });
    EXPECT_EQ(reply, urn + " 7\n");
}

// Without -f the program forks, and the parent exits with status 0.
TEST(Brenloch, DetachesUnlessTold)
{
    prctl(PR_SET_CHILD_SUBREAPER, 1);  // the detached daemon stays ours to reap
    TempRoot root;
    root.write_registry("", urn);
    const int port = free_port(SOCK_DGRAM);
    Child parent = Child::spawn({BRENLOCH_PATH, "-r", root.root(), "-u", std::to_string(port)});
    EXPECT_EQ(parent.wait_exit_code(), 0);
    wait_serving(SOCK_DGRAM, port);
    EXPECT_EQ(Prober(port).ask("q"), urn + " 6481\n");
    pid_t daemon = -1;
    for (const pid_t pid : children_of(getpid()))
        if (proc_status_line(pid, "Name") == "Name:\tbrenloch")
            daemon = pid;
    ASSERT_GT(daemon, 0);
    kill(daemon, SIGKILL);
    waitpid(daemon, nullptr, 0);
}

}  // namespace
