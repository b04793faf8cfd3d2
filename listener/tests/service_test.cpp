// The real responder's command line, listening modes and connection handling.
#include "loopback.h"
#include "proc_files.h"
#include "tavish_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <filesystem>
#include <future>
#include <thread>

namespace {

using namespace zorbel::test;
using Clock = std::chrono::steady_clock;

const std::string version_response =
    http_head + response_open + " <agent_version>1.1.4</agent_version>\n</zo1:response>\n";

const std::string usage_tail =
    " [options]\nOptions:\n"
    "  -f                     do not fork() from the calling shell\n"
    "  -l logfile             redirect stderr to specified file\n"
    "  -i                     run under control of inetd(1M)\n"
    "  -L                     only respond to requests from the local loopback address\n"
    "  -s                     only respond to requests in the local subnet\n"
    "  -v                     provide verbose output\n"
    "  -p password_file       use the password contained in the file (must be 5 to 16 characters long) for AES "
    "encryption\n"
    "  -r alt_root_dir        look for Zorbel Registry under specified dir\n"
    "  -t tcp_port            use the specified udp port for communication\n"
    "  -U user                setuid to specified user\n"
    "  -G group               setgid to specified group\n";

int connect_to(const char *address, int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address, &a.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0)
        return fd;
    close(fd);
    return -1;
}

TEST(Options, ErrorsCountAndPrintTheUsage)
{
    TempRoot root;
    auto r = run({tavish_binary, "-f", "-t"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Option -t requires an operand\nUsage: tavish" + usage_tail);

    r = run({tavish_binary, "-x", "-f", "-q", "-L"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Unrecognized option: -x\nUnrecognized option: -q\nUsage: tavish" + usage_tail);
}

// A lone --help or --version answers on standard output and exits; nothing
// is written into the working directory (the letters would read -h -e -l p).
TEST(Options, LoneHelpAndVersionAnswerOnStandardOutput)
{
    TempRoot dir(bare_root);
    const std::pair<std::string, std::string> cases[] = {{"--help", "Usage: tavish" + usage_tail},
                                                         {"--version", "tavish 1.1.4\n"}};
    for (const auto &[arg, out] : cases) {
        const auto r = run_shell("cd " + dir.root() + " && " + tavish_binary + " " + arg + " 2>&1");
        EXPECT_EQ(r.status, 0) << arg;
        EXPECT_EQ(r.out, out);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.root()));
}

TEST(Options, AcceptedOptionsStartTheService)
{
    // A refused log: the responder runs on with its standard error.
    const std::string refused = "/nonexistent/dir/log";
    {
        Responder r({"-l", refused});
        EXPECT_EQ(r.get("GET /zov1/agent/version/ HTTP/1.0"), version_response);
        EXPECT_EQ(r.stderr_text(), "Unable to open log file: " + refused + "\n");
    }

    TempRoot logs(bare_root);
    const std::string log = logs.root() + "/tavish.log";
    write_file(log, "earlier\n");
    // -L takes no operand; -u, -D and -N are accepted and ignored; -p only warns.
    Responder r({"-L", "-u", "x", "-D", "y", "-N", "z", "-p", logs.root() + "/no-such-key", "-l", log, "-v"});
    EXPECT_EQ(r.get("GET /zov1/agent/version/ HTTP/1.0"), version_response);
    EXPECT_EQ(r.stderr_text(), "Encryption support not enabled, ignoring encryption key\n");
    EXPECT_TRUE(eventually([&] { return read_file(log).find("GET agent version\n") != std::string::npos; }));
    EXPECT_EQ(read_file(log).rfind("earlier\ngot TCP connection: (fd=", 0), 0u) << read_file(log);
}

TEST(Options, VerboseReportsARegistryThatCannotBeOpenedOnce)
{
    TempRoot bare(bare_root);
    Responder quiet({"-r", bare.root()});
    Responder verbose({"-v", "-r", bare.root()});
    EXPECT_EQ(verbose.get("GET /zov1/agent/version/ HTTP/1.0"), version_response);
    EXPECT_EQ(quiet.stderr_text(), "");
    EXPECT_TRUE(verbose.stderr_text().starts_with("zo_initialize: " + bare.registry_dir() +
                                                  ": Unable to open directory or file (No such file or directory)\n"))
        << verbose.stderr_text();
}

TEST(Listen, PortIsTakenModulo65536AndLoopbackOnlyWithL)
{
    TempRoot root;
    root.write_registry("");
    const int fd = connect_to("127.0.0.1", 4464);
    if (fd >= 0)
        close(fd);
    else {
        Child c = Child::spawn({tavish_binary, "-f", "-L", "-t", "70000", "-r", root.root()});
        ASSERT_TRUE(wait_serving(SOCK_STREAM, 4464));
        EXPECT_EQ(tcp_exchange(4464, "GET /zov1/agent/version/ HTTP/1.0\n"), version_response);
        EXPECT_EQ(connect_to("127.0.0.2", 4464), -1);  // bound to 127.0.0.1 only
    }

    Responder open;
    const int other = connect_to("127.0.0.2", open.port);
    EXPECT_GE(other, 0);
    if (other >= 0)
        close(other);
    // A second responder on the same port cannot bind: status 1, the reason only with -v.
    const auto quiet = run(open.argv({}));
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(quiet.err, "");
    const auto verbose = run(open.argv({"-v"}));
    EXPECT_EQ(verbose.status, 1);
    EXPECT_EQ(verbose.err, "bind (tcp): Address already in use\n");
}

TEST(Listen, DetachesUnlessToldNotTo)
{
    TempRoot root;
    root.write_registry("");
    const int port = free_port(SOCK_STREAM);
    Child starter = Child::spawn({tavish_binary, "-t", std::to_string(port), "-r", root.root()});
    EXPECT_EQ(starter.wait_exit_code(5s), 0);  // the calling process returns at once
    EXPECT_EQ(tcp_exchange(port, "GET /zov1/agent/version/ HTTP/1.0\n"), version_response);
    const auto daemons = processes_with(root.root());
    ASSERT_EQ(daemons.size(), 1u);
    kill(daemons[0], SIGKILL);
}

// Reads until the peer ends its side; the time that took, or nullopt.
std::optional<Clock::duration> time_to_eof(int fd, std::string &got, Clock::duration limit)
{
    const auto start = Clock::now();
    char buf[4096];
    while (Clock::now() - start < limit) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return Clock::now() - start;
        got.append(buf, static_cast<size_t>(n));
    }
    return std::nullopt;
}

TEST(Connections, SlowClientsCannotHoldTheResponder)
{
    // 100 clients that send nothing, one that asks for a large list and never
    // reads it, and one that keeps sending after its request: the others are
    // still answered at once.
    Responder r({}, many_records(4000, "urn:zo:"));
    const auto start = Clock::now();
    std::vector<int> quiet;
    for (int i = 0; i < 100; ++i)
        quiet.push_back(connect_tcp(r.port));
    ASSERT_EQ(std::count(quiet.begin(), quiet.end(), -1), 0);

    const int stuck = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int small = 4096;
    setsockopt(stuck, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    const sockaddr_in a = loopback_address(r.port);
    ASSERT_EQ(connect(stuck, reinterpret_cast<const sockaddr *>(&a), sizeof a), 0);
    const std::string list_request = "GET /zov1/zorbel/ HTTP/1.0\r\n\r\n";
    send(stuck, list_request.data(), list_request.size(), MSG_NOSIGNAL);

    const int chatty = connect_tcp(r.port);
    ASSERT_GE(chatty, 0);
    const std::string request = "GET /zov1/agent/version/ HTTP/1.0\r\n";
    send(chatty, request.data(), request.size(), 0);
    std::atomic<bool> stop{false};
    std::thread talker([&] {
        for (int i = 0; i < 80 && !stop; ++i) {  // a header line every 50 ms, for up to 4 s
            send(chatty, "X-More: 1\r\n", 11, MSG_NOSIGNAL);
            std::this_thread::sleep_for(50ms);
        }
    });
    std::string got;
    const auto eof = time_to_eof(chatty, got, 3s);

    std::this_thread::sleep_for(200ms);  // the large answer has filled what the network holds
    Clock::duration slowest{};
    for (const std::string line : {"GET /zov1/agent/version/ HTTP/1.0\n", "GET /zov1/zorbel/urn:zo:3999 HTTP/1.0\n",
                                   "GET /zov1/zorbel/ HTTP/1.0\n"}) {
        const auto asked = Clock::now();
        const std::string answer = tcp_exchange(r.port, line, 5s);
        slowest = std::max(slowest, Clock::now() - asked);
        EXPECT_NE(answer.find("</z"), std::string::npos) << line;
    }
    stop = true;
    talker.join();
    close(chatty);

    ASSERT_TRUE(eof.has_value());
    EXPECT_LT(*eof, 1800ms);  // the end of the response, before the drain (2 s) ends
    EXPECT_EQ(got, version_response);
    EXPECT_LT(slowest, 3s);  // not after the idle clients' 5 s

    // The idle clients are closed without a byte once their 5 s are up.
    std::string idle_got;
    const auto idle_eof = time_to_eof(quiet[0], idle_got, 8s);
    ASSERT_TRUE(idle_eof.has_value());
    EXPECT_GT(Clock::now() - start, 4500ms);
    EXPECT_LT(Clock::now() - start, 8s);
    EXPECT_EQ(idle_got, "");
    for (const int fd : quiet)
        close(fd);
    close(stuck);
}

// With 512 connections open, a new one closes the one that has waited
// longest for its client, and is served.
TEST(Connections, TheOldestIdleConnectionMakesRoom)
{
    Responder r;
    std::vector<int> idle;
    for (int i = 0; i < 512; ++i)
        idle.push_back(connect_tcp(r.port));
    ASSERT_EQ(std::count(idle.begin(), idle.end(), -1), 0);
    std::this_thread::sleep_for(300ms);  // all of them accepted
    EXPECT_EQ(tcp_exchange(r.port, "GET /zov1/agent/version/ HTTP/1.0\n", 3s), version_response);
    std::string got;
    EXPECT_TRUE(time_to_eof(idle.front(), got, 1s).has_value()) << "the oldest is closed";
    EXPECT_EQ(got, "");
    EXPECT_FALSE(time_to_eof(idle.back(), got, 100ms).has_value()) << "the newest stays open";
    for (const int fd : idle)
        close(fd);
}

// A connection to 127.0.0.1:port from 127.0.0.2:source_port, not waiting
// for the handshake; -1 when none can be made.  It ends with a reset when
// closed, so no closed one holds its port.  (The source ports are fixed,
// outside the range from which the kernel hands out free ports, so that
// the flood takes no port another test is about to bind.)
int connect_from_other_address(int source_port, int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int on = 1;
    const linger reset{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    sockaddr_in from = loopback_address(source_port);
    inet_pton(AF_INET, "127.0.0.2", &from.sin_addr);
    const sockaddr_in to = loopback_address(port);
    if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr *>(&from), sizeof from) == 0 &&
        (connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0 || errno == EINPROGRESS))
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

// While another address opens 5,000 connections a second and sends
// nothing (keeping 700 open, more than the responder's table holds),
// every request from 127.0.0.1 is still answered; so is a small request
// while 40 clients read a large list slowly.
TEST(Connections, FloodsAndSlowReadersPushNoOneOut)
{
    Responder r({}, many_records(20000, "urn:zo:"));
    std::atomic<bool> stop{false};
    std::atomic<long> opened{0};
    std::thread attacker([&] {
        // 5,000 connections a second: the table is full within a tenth of a
        // second, while the kernel's listening queue stays short enough
        // that an honest connection attempt is not dropped before the
        // responder sees it (that queue is first in, first out: at full
        // speed on a loaded machine it can drop a client's SYNs for longer
        // than any bound a test may set).
        const auto start = std::chrono::steady_clock::now();
        std::deque<int> held;
        for (int i = 0; !stop && i < 1000000; ++i) {
            if (i % 50 == 0)
                std::this_thread::sleep_until(start + std::chrono::microseconds(200) * i);
            if (const int fd = connect_from_other_address(10000 + i % 20000, r.port); fd >= 0)
                held.push_back(fd), ++opened;
            if (held.size() > 700)
                close(held.front()), held.pop_front();
        }
        for (const int fd : held)
            close(fd);
    });
    // The honest client starts once the flood has filled the table.
    EXPECT_TRUE(eventually([&] { return opened > 2000; }, 20s));
    int answered = 0;
    for (int i = 0; i < 10; ++i)
        answered += tcp_exchange(r.port, "GET /zov1/agent/version/ HTTP/1.0\n", 10s) == version_response;
    stop = true;
    attacker.join();
    EXPECT_EQ(answered, 10);
    EXPECT_GT(opened, 2000);  // the flood really filled the table
    // What the flood left in the listening queue is taken, and the list
    // parsed and rendered once, before the next part.
    EXPECT_NE(tcp_exchange(r.port, "GET /zov1/zorbel/ HTTP/1.0\n", 60s).find("</zorbels>"), std::string::npos);

    std::vector<std::thread> readers;
    std::atomic<int> whole{0};
    for (int i = 0; i < 40; ++i)
        readers.emplace_back([&] {
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const int small = 16384;
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
            const sockaddr_in a = loopback_address(r.port);
            if (connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0) {
                send(fd, "GET /zov1/zorbel/ HTTP/1.0\n", 27, MSG_NOSIGNAL);
                size_t got = 0;
                char buf[16384];
                for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0; std::this_thread::sleep_for(10ms))
                    got += static_cast<size_t>(n);
                whole += got > 1000000;
            }
            close(fd);
        });
    std::this_thread::sleep_for(300ms);
    for (int i = 0; i < 10; ++i) {
        const auto asked = Clock::now();
        EXPECT_EQ(tcp_exchange(r.port, "GET /zov1/agent/version/ HTTP/1.0\n", 10s), version_response);
        EXPECT_LT(Clock::now() - asked, 5s);
    }
    for (auto &t : readers)
        t.join();
    EXPECT_EQ(whole, 40);
}

// A client that sends its headers and ends its side at once still has
// them read (and echoed at -v -v) after its response.
TEST(Connections, HeadersOfAClientThatFinishedSendingAreDrained)
{
    Responder r({"-v", "-v"});
    const int fd = connect_tcp(r.port);
    ASSERT_GE(fd, 0);
    const std::string request = "GET /zov1/agent/version/ HTTP/1.0\r\nHost: x\r\n\r\n";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    shutdown(fd, SHUT_WR);
    std::string got;
    EXPECT_TRUE(time_to_eof(fd, got, 3s).has_value());
    close(fd);
    EXPECT_EQ(got, version_response);
    EXPECT_TRUE(eventually([&] {
        return r.stderr_text().find("</zo1:response>\\x0a\nsock_gets: Host: x\\x0d\nsock_gets: \\x0d\n") !=
               std::string::npos;
    })) << r.stderr_text();
}

// How a client behaves towards tavish -i.
enum class Client {
    reads,       // reads the answer to its end, then closes
    gone,        // closes at once after its request
    stays_open,  // reads, and keeps its side open until tavish has ended
    stuck,       // never reads (a small receive buffer), open until tavish has ended
};

struct InetdRun {
    std::string got;  // what the client received
    int status;       // how tavish ended
    Clock::duration took;
};

// tavish -i on a connection handed over as descriptors 0, 1 and 2, as a
// classic inetd does (one open file, blocking).
InetdRun inetd_exchange(const TempRoot &root, const std::string &request, Client client)
{
    int sv[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    if (client == Client::stuck) {
        const int small = 4096;
        setsockopt(sv[0], SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    }
    SpawnOptions o;
    o.stdin_fd = o.stdout_fd = o.stderr_fd = sv[1];
    const auto start = Clock::now();
    Child tavish = Child::spawn({tavish_binary, "-i", "-r", root.root()}, o);
    close(sv[1]);
    send(sv[0], request.data(), request.size(), MSG_NOSIGNAL);
    InetdRun run;
    if (client == Client::reads || client == Client::stays_open)
        time_to_eof(sv[0], run.got, 10s);
    if (client == Client::reads || client == Client::gone)
        close(sv[0]);
    run.status = tavish.wait_status(30s);
    run.took = Clock::now() - start;
    if (client == Client::stays_open || client == Client::stuck)
        close(sv[0]);
    return run;
}

TEST(Inetd, NeitherAGoneClientNorDiagnosticsSpoilTheConnection)
{
    // A client gone before its large answer is written: a failed send, not SIGPIPE.
    TempRoot big;
    big.write_registry(many_records(3000, "urn:zo:"));
    EXPECT_EQ(inetd_exchange(big, "GET /zov1/zorbel/ HTTP/1.0\n", Client::gone).status, 0);

    // A registry the XML library complains about: its diagnostics never
    // reach the client's socket, which carries the answer alone.
    TempRoot invalid;
    invalid.write_registry("<zorbel><secret>canary-text</secret></zorbel>");
    const InetdRun run = inetd_exchange(invalid, "GET /zov1/agent/version/ HTTP/1.0\n", Client::reads);
    EXPECT_EQ(run.got, version_response);
    EXPECT_EQ(run.status, 0);
}

// The limits of every connection hold in inetd mode too: a client that
// sends no line is let go after 5 s, one that keeps its side open after
// its answer after the drain, one that never takes its answer after 10 s
// without progress.
TEST(Inetd, EveryConnectionLimitHolds)
{
    TempRoot root;
    root.write_registry(many_records(4000, "urn:zo:"));
    struct Case {
        const char *name;
        std::string request;
        Client client;
        bool answered;
        Clock::duration at_least, below;
    };
    const Case cases[] = {
        {"no request line", "", Client::stays_open, false, 4500ms, 9s},
        {"open after its request", "GET /zov1/agent/version/ HTTP/1.0\n", Client::stays_open, true, 0s, 4s},
        {"never reads its answer", "GET /zov1/zorbel/ HTTP/1.0\n", Client::stuck, false, 9500ms, 25s},
    };
    std::vector<std::future<InetdRun>> runs;
    for (const Case &c : cases)
        runs.push_back(std::async(std::launch::async, [&] { return inetd_exchange(root, c.request, c.client); }));
    for (size_t i = 0; i < runs.size(); ++i) {
        const Case &c = cases[i];
        const InetdRun run = runs[i].get();
        EXPECT_EQ(run.status, 0) << c.name;
        EXPECT_EQ(run.got, c.answered ? version_response : "") << c.name;
        EXPECT_GE(run.took, c.at_least) << c.name;
        EXPECT_LT(run.took, c.below) << c.name;
    }
}

TEST(Inetd, ServesTheConnectionOnDescriptorZero)
{
    TempRoot root;
    root.write_registry(record_xml("urn:zo:1"));
    const int port = free_port(SOCK_STREAM);
    const std::string err = root.root() + "/inetd.err";
    Child activate = Child::spawn({"/usr/bin/systemd-socket-activate", "--accept", "--inetd", "-l", "127.0.0.1:" + std::to_string(port),
                                   tavish_binary, "-i", "-v", "-L", "-r", root.root()},
                                  logging_to(err));
    ASSERT_TRUE(wait_serving(SOCK_STREAM, port));
    EXPECT_EQ(tcp_exchange(port, "GET /zov1/agent/version/ HTTP/1.0\n"), version_response);
    EXPECT_NE(tcp_exchange(port, "GET /zov1/zorbel/ HTTP/1.0\n").find("href=\"/zov1/zorbel/urn:zo:1\""),
              std::string::npos);

    // -L in inetd mode: an IPv6 peer is turned away without a byte.
    const int port6 = free_port(SOCK_STREAM);
    Child activate6 = Child::spawn({"/usr/bin/systemd-socket-activate", "--accept", "--inetd", "-l", "[::1]:" + std::to_string(port6),
                                    tavish_binary, "-i", "-L", "-r", root.root()});
    const int fd6 = connect_tcp6(port6);
    ASSERT_GE(fd6, 0);
    send(fd6, "GET /zov1/agent/version/ HTTP/1.0\n", 34, MSG_NOSIGNAL);
    std::string got;
    EXPECT_TRUE(time_to_eof(fd6, got, 3s).has_value());
    EXPECT_EQ(got, "");
    close(fd6);
    // Verbosity is forced to 0 in inetd mode.
    EXPECT_EQ(read_file(err).find("GET agent version"), std::string::npos);
}

}  // namespace
