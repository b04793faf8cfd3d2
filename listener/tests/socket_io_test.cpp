#include "globals.h"
#include "socket_io.h"
#include "zorbel/support/unique_fd.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace {

using zorbel::UniqueFd;

struct Pair {
    UniqueFd ours, theirs;
    Pair()
    {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        ours.reset(fds[0]);
        theirs.reset(fds[1]);
    }
    void send_text(const std::string &s) { ASSERT_EQ(write(theirs.get(), s.data(), s.size()), ssize_t(s.size())); }
    std::string drain()
    {
        shutdown(ours.get(), SHUT_WR);
        std::string out;
        char buf[4096];
        for (ssize_t n; (n = read(theirs.get(), buf, sizeof buf)) > 0;)
            out.append(buf, size_t(n));
        return out;
    }
};

std::string encoded(const std::string &in, int len = 4096)
{
    std::string out(size_t(len), 'X');
    encode_chars(in.c_str(), out.data(), len);
    return out.c_str();
}

TEST(SockGets, ReadsOneLineAtATimeKeepingCarriageReturn)
{
    Pair p;
    p.send_text("GET /a HTTP/1.0\r\nsecond\nlast");
    shutdown(p.theirs.get(), SHUT_WR);
    char buf[64];
    ASSERT_NE(sock_gets(p.ours.get(), buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "GET /a HTTP/1.0\r");
    ASSERT_NE(sock_gets(p.ours.get(), buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "second");
    ASSERT_NE(sock_gets(p.ours.get(), buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "last");  // ended by end of stream
    EXPECT_EQ(sock_gets(p.ours.get(), buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "");
}

TEST(SockGets, LongLinesAreCutToTheBufferAndTheRestStaysUnread)
{
    Pair p;
    p.send_text("abcd\nabcde\n");
    char buf[5];
    ASSERT_NE(sock_gets(p.ours.get(), buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "abcd");  // n - 1 bytes and the line feed: whole
    ASSERT_NE(sock_gets(p.ours.get(), buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "abcd");  // n bytes: the n-th is dropped
    ASSERT_NE(sock_gets(p.ours.get(), buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "");      // what was left of the line
}

TEST(SockGets, GivesUpAtTheDeadline)
{
    Pair p;
    p.send_text("no line end");
    char buf[64];
    bool timed_out = false;
    const auto start = zorbel::tavish::Clock::now();
    EXPECT_EQ(zorbel::tavish::sock_gets_until(p.ours.get(), buf, sizeof buf, start + std::chrono::milliseconds(100),
                                              &timed_out),
              nullptr);
    EXPECT_TRUE(timed_out);
    EXPECT_GE(zorbel::tavish::Clock::now() - start, std::chrono::milliseconds(100));
}

TEST(SockPrintf, SendsAtMost16383BytesPerPiece)
{
    Pair p;
    const std::string big(20000, 'x');
    EXPECT_EQ(sock_printf(p.ours.get(), 1, "%s", big.c_str()), 0);
    EXPECT_EQ(p.drain(), std::string(16383, 'x'));
}

TEST(SockPrintf, BatchedPiecesArriveUnchangedAndInOrder)
{
    Pair p;
    std::string expected;
    {
        zorbel::tavish::ResponseBatch batch(p.ours.get());
        for (int i = 0; i < 3000; ++i) {  // more than one flush
            EXPECT_EQ(sock_printf(p.ours.get(), 1, "line %d\n", i), 0);
            expected += "line " + std::to_string(i) + "\n";
        }
    }
    EXPECT_EQ(p.drain(), expected);
}

TEST(SockPrintf, FailedSendIsReported)
{
    signal(SIGPIPE, SIG_IGN);  // as the responder does outside inetd mode
    Pair p;
    p.theirs.reset();
    EXPECT_EQ(sock_printf(p.ours.get(), 0, "x"), -1);
}

// Within a batch too, every piece that cannot be sent reports "send".
TEST(SockPrintf, EveryPieceAfterAFailedBatchSendIsReported)
{
    signal(SIGPIPE, SIG_IGN);
    Pair p;
    p.theirs.reset();
    tavish_verbose = 1;
    int failures = 0;
    testing::internal::CaptureStderr();
    {
        zorbel::tavish::ResponseBatch batch(p.ours.get());
        for (int i = 0; i < 10000; ++i)  // enough for a flush before the end
            failures += sock_printf(p.ours.get(), 1, "line %d\n", i) == -1;
    }
    const std::string err = testing::internal::GetCapturedStderr();
    tavish_verbose = 0;
    int messages = 0;
    for (size_t at = 0; (at = err.find("send: ", at)) != std::string::npos; ++at)
        ++messages;
    EXPECT_GT(failures, 1);
    EXPECT_EQ(messages, failures);
}

TEST(EncodeChars, EscapesMarkupAndPassesKnownEntities)
{
    EXPECT_EQ(encoded("a<b>&c"), "a&lt;b&gt;&amp;c");
    EXPECT_EQ(encoded("x&amp;y"), "x&amp;y");
    EXPECT_EQ(encoded("&lt;"), "&lt;");
    EXPECT_EQ(encoded("&gt;"), "&gt;");
    EXPECT_EQ(encoded("&quot;"), "&amp;quot;");
    EXPECT_EQ(encoded("&#38;"), "&amp;#38;");
    EXPECT_EQ(encoded("&am"), "&amp;am");
    EXPECT_EQ(encoded("&LT;"), "&amp;LT;");
    EXPECT_EQ(encoded("'\""), "'\"");
}

TEST(EncodeChars, CutsOnlyAtItemBoundaries)
{
    EXPECT_EQ(encoded("<<", 5), "&lt;");
    EXPECT_EQ(encoded("<", 4), "");
    EXPECT_EQ(encoded("abc", 3), "ab");
    EXPECT_EQ(encoded("a&b", 6), "a");
}

TEST(EncodeAttribute, QuotesDoubleQuotes)
{
    EXPECT_EQ(zorbel::tavish::encode_attribute("urn:zo:\"a\"<&"), "urn:zo:&quot;a&quot;&lt;&amp;");
}

}  // namespace
