// One connection's lifecycle, served alone on a socket pair as inetd mode
// serves descriptor 0 (the standalone loop runs the same Connection): what
// the client receives, what is echoed at -v -v, and when it ends.
#include "connection.h"
#include "globals.h"
#include "resources.h"
#include "tavish_support.h"
#include "zorbel/support/unique_fd.h"

#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

using namespace zorbel::test;
using zorbel::UniqueFd;
using zorbel::tavish::Clock;

const std::string version_response =
    http_head + response_open + " <agent_version>1.1.4</agent_version>\n</zo1:response>\n";
const std::string version_request = "GET /zov1/agent/version/ HTTP/1.0";

// Short limits, so that every case ends quickly.
const zorbel::tavish::ConnectionLimits short_limits{300ms, 300ms, 400ms, 125ms};

struct Client {
    std::string input;
    bool ends = true;     // ends its sending side after the input
    bool reads = true;    // reads the answer (else: a small receive buffer, never read)
    bool gone = false;    // closes its socket before the answer
    bool chatty = false;  // keeps sending a header line every 50 ms
};

struct Served {
    std::string got;
    std::string err;
    Clock::duration took;
};

Served serve(const Client &c, zo_env_t *env = nullptr, int verbosity = 0,
             const zorbel::tavish::ConnectionLimits &limits = short_limits)
{
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    UniqueFd ours(fds[0]), theirs(fds[1]);
    if (!c.reads) {
        const int small = 4096;
        setsockopt(ours.get(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        setsockopt(theirs.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    }
    EXPECT_EQ(write(theirs.get(), c.input.data(), c.input.size()), static_cast<ssize_t>(c.input.size()));
    if (c.ends)
        shutdown(theirs.get(), SHUT_WR);
    if (c.gone)
        theirs.reset();

    Served s;
    tavish_verbose = verbosity;
    testing::internal::CaptureStderr();
    const auto start = Clock::now();
    zorbel::tavish::Connection connection(std::move(ours), start, limits);
    std::thread server([&] {
        zorbel::tavish::serve_alone(connection, env);
        s.took = Clock::now() - start;
    });
    std::atomic<bool> stop{false};
    std::thread talker([&] {
        for (int i = 0; c.chatty && i < 100 && !stop; ++i) {
            send(theirs.get(), "X-More: 1\r\n", 11, MSG_NOSIGNAL);
            std::this_thread::sleep_for(50ms);
        }
    });
    char buf[65536];
    for (ssize_t n; c.reads && !c.gone && (n = read(theirs.get(), buf, sizeof buf)) > 0;)
        s.got.append(buf, static_cast<size_t>(n));
    server.join();
    stop = true;
    talker.join();
    s.err = testing::internal::GetCapturedStderr();
    tavish_verbose = 0;
    return s;
}

TEST(Connection, RequestLineAnswerAndEnd)
{
    struct Case {
        const char *name;
        Client client;
        std::string answer;
        Clock::duration at_least, below;
    };
    const Case cases[] = {
        {"request and headers", {version_request + "\r\nHost: x\r\n\r\n"}, version_response, {}, 3s},
        {"line ended by the end of the stream", {version_request}, version_response, {}, 3s},
        {"overlong line: its first 16383 bytes", {"GET /zov1/agent/version/ HTTP/" + std::string(20000, 'x') + "\n"},
         version_response, {}, 3s},
        {"unmatched line", {"GET /zov1/agent HTTP/1.0\n"}, "", {}, 3s},
        {"nothing sent", {""}, "", {}, 3s},
        {"no line end in time: no answer", {version_request, false}, "", 300ms, 4s},
        {"client gone before its answer", {version_request + "\n", true, true, true}, "", {}, 3s},
        {"client that keeps sending: the drain ends", {version_request + "\r\n", false, true, false, true},
         version_response, 400ms, 4s},
    };
    for (const Case &c : cases) {
        const Served s = serve(c.client);
        EXPECT_EQ(s.got, c.answer) << c.name;
        EXPECT_GE(s.took, c.at_least) << c.name;
        EXPECT_LT(s.took, c.below) << c.name;
    }
}

// At -v -v every line read is echoed, cut as its buffer cuts it (16384
// bytes for the request line, 4096 in the drain), and so is every piece
// of the answer.
TEST(Connection, LinesReadAreEchoedAtVerbosityTwo)
{
    const std::string a16383(16383, 'a'), d4095(4095, 'd');
    const std::pair<std::string, std::string> cases[] = {
        {"GET /a HTTP/1.0\r\nsecond\nlast",
         "sock_gets: GET /a HTTP/1.0\\x0d\ngot TCP msg: GET /a HTTP/1.0\\x0d\nsock_gets: second\nsock_gets: last\n"},
        {a16383 + "\n", "sock_gets: " + a16383 + "\ngot TCP msg: " + a16383 + "\n"},
        {a16383 + "ab\n", "warning: sock_gets reached end of buffer, truncation likely\ngot TCP msg: " + a16383 +
                              "\nsock_gets: b\n"},
        {"GET /x\n" + std::string(5000, 'd') + "\n",
         "sock_gets: GET /x\ngot TCP msg: GET /x\nsock_gets: " + d4095 + "\nsock_gets: " + std::string(904, 'd') + "\n"},
        {version_request + "\n",
         "sock_gets: " + version_request + "\ngot TCP msg: " + version_request +
             "\nGET agent version\nHTTP/1.0 200 OK\\x0d\\x0a\nContent-type: text/xml;charset=UTF-8\\x0d\\x0a\n"
             "Connection: Close\\x0d\\x0a\n\\x0d\\x0a\n<?xml version=\"1.0\" encoding=\"UTF-8\"?>\\x0a\n"
             "<zo1:response xmlns:zo1=\"http://www.quesk.com/zov1/zorbel\">\\x0a\n"
             " <agent_version>1.1.4</agent_version>\\x0a\n</zo1:response>\\x0a\n"},
    };
    for (const auto &[input, err] : cases)
        EXPECT_EQ(serve({input}, nullptr, 2).err, err) << input.substr(0, 40);
}

// A large answer arrives whole and in order; a client that never reads it
// is dropped once it has taken nothing for the send limit.
TEST(Connection, LargeAnswersAreSentOrDroppedWhenNotTaken)
{
    TempRoot root;
    root.write_registry(many_records(6000, "urn:zo:"));
    zo_env_t env{};
    ASSERT_EQ(zo_initialize(root.root().c_str(), &env), ZO_ERR_NO_ERROR);
    const std::string list = "GET /zov1/zorbel/ HTTP/1.0\n";
    const std::string expected = zorbel::tavish::answer_request(&env, list).text();
    ASSERT_GT(expected.size(), 300000u);
    EXPECT_EQ(serve({list}, &env, 0, {}).got, expected);  // the default send limit: a loaded machine reads late

    const Served stalled = serve({list, true, false}, &env);
    EXPECT_GE(stalled.took, 300ms);
    EXPECT_LT(stalled.took, 6s);

    // Whatever the socket could take, one readiness event sends one slice.
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    UniqueFd ours(fds[0]), theirs(fds[1]);
    const int large = 2 << 20;
    setsockopt(ours.get(), SOL_SOCKET, SO_SNDBUF, &large, sizeof large);
    setsockopt(theirs.get(), SOL_SOCKET, SO_RCVBUF, &large, sizeof large);
    ASSERT_EQ(write(theirs.get(), list.data(), list.size()), static_cast<ssize_t>(list.size()));
    zorbel::tavish::Connection connection(std::move(ours), Clock::now());
    connection.on_ready(Clock::now(), &env);
    int arrived = 0;
    ioctl(theirs.get(), FIONREAD, &arrived);
    EXPECT_EQ(static_cast<size_t>(arrived), zorbel::tavish::ConnectionLimits{}.send_slice);
    EXPECT_TRUE(connection.wants_write());
    zo_close(&env);
}

}  // namespace
