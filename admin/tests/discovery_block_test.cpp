// zorbel discover over many addresses: every host's reply is taken in,
// however many answer at once, each comes from the address probed, and no
// host can keep the search going past its time.
#include "cli_run.h"
#include "process.h"
#include "temp_root.h"
#include "zorbel/support/datagram.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

namespace zorbel::test {
namespace {

// One UDP socket on every local address that answers each probe at once,
// from the address the probe was sent to, as a responder on each host of
// the block would; or, hostile, answers probes sent to one address only and
// answers each of them without end.
class BlockResponder {
public:
    struct Hostile {
        in_addr_t only;  // in network order
    };
    explicit BlockResponder(std::optional<Hostile> hostile = std::nullopt) : hostile_(hostile)
    {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int queue = 8 << 20;
        sockaddr_in any{};
        any.sin_family = AF_INET;
        ok_ = fd_ >= 0 && report_arrival_address(fd_) &&
              setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &queue, sizeof queue) == 0 &&
              bind(fd_, reinterpret_cast<const sockaddr *>(&any), sizeof any) == 0;
        socklen_t len = sizeof any;
        if (ok_ && getsockname(fd_, reinterpret_cast<sockaddr *>(&any), &len) == 0)
            port_ = ntohs(any.sin_port);
        if (ok_)
            thread_ = std::thread([this] { answer_all(); });
    }
    ~BlockResponder()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            close(fd_);
    }
    BlockResponder(const BlockResponder &) = delete;
    BlockResponder &operator=(const BlockResponder &) = delete;

    // False when the socket could not be set up (its deep queue needs root).
    bool ok() const { return ok_; }
    int port() const { return port_; }

private:
    void answer_all()
    {
        static constexpr std::string_view reply = "urn:zo:block 6481\n";
        char buf[512];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            Datagram probe;
            if (receive_datagram(fd_, buf, probe) < 0 || !probe.arrived_on)
                continue;
            if (hostile_ && probe.arrived_on->s_addr != hostile_->only)
                continue;
            // The reply leaves from the probed address.
            do
                answer_datagram(fd_, probe, reply);
            while (hostile_ && !stop_);
        }
    }

    std::optional<Hostile> hostile_;
    int fd_ = -1;
    int port_ = 0;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(DiscoverBlock, EveryHostOfABlockThatAnswersAtOnceIsListed)
{
    BlockResponder responder;
    if (!responder.ok())
        GTEST_SKIP() << "needs root for the responder's deep receive queue";
    // 127.1.0.0/21: 2046 host addresses, all of them local.
    const auto r = zorbel({"discover", "--port", std::to_string(responder.port()), "--timeout", "10",
                           "127.1.0.0/21"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2046) << r.err;
    EXPECT_NE(r.out.find("127.1.7.254 urn:zo:block 6481\n"), std::string::npos);
}

// 127.0.0.2 is this host's as much as 127.0.0.1, but the route back to a
// prober on 127.0.0.1 leaves from 127.0.0.1: the reply must still come
// from the address the probe was sent to, or the prober would not know it
// for that target's answer.
TEST(DiscoverBlock, TheReplyComesFromTheAddressProbed)
{
    TempRoot root;
    const int port = free_port(SOCK_DGRAM);
    Child brenloch = Child::spawn({installed("sbin/brenloch"), "-f", "-r", root.root(), "-u", std::to_string(port),
                                   "-t", "6481"},
                                  logging_to(root.root() + "/brenloch.err"));
    ASSERT_TRUE(wait_answering(port));
    const auto r = zorbel({"discover", "--port", std::to_string(port), "--timeout", "10", "127.0.0.2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("127.0.0.2 urn:zo:")) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
}

// A host that answers without end, while another target never answers:
// the search still ends at its time-out.
TEST(DiscoverBlock, AHostThatNeverStopsAnsweringCannotHoldTheSearch)
{
    BlockResponder flood(BlockResponder::Hostile{htonl(INADDR_LOOPBACK)});
    if (!flood.ok())
        GTEST_SKIP() << "needs root for the responder's deep receive queue";
    const auto r = zorbel({"discover", "--port", std::to_string(flood.port()), "--timeout", "0.5", "127.0.0.1",
                           "127.0.0.3"},
                          20s);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("127.0.0.1 urn:zo:block 6481\n"));
}

}  // namespace
}  // namespace zorbel::test
