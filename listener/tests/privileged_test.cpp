// What needs root: changing identity, the time-to-live of -s, and the
// system log and serial-number file, each seen through a private mount
// namespace so the machine's own /dev/log and /var/run/psn stay untouched.
#include "isolation.h"
#include "proc_files.h"
#include "tavish_support.h"
#include "zorbel/support/unique_fd.h"

#include <gtest/gtest.h>

#include <netinet/ip.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <map>

namespace {

using namespace zorbel::test;
using zorbel::UniqueFd;

#define REQUIRE_ROOT()  \
    if (!have_root())   \
        GTEST_SKIP() << "needs root";

// Starts `argv` in a private mount namespace, after `setup` ran there.
Child spawn_private(const std::vector<std::string> &argv, const std::string &err_path,
                    const std::function<bool()> &setup)
{
    return Child::spawn(argv, {.stderr_path = err_path, .prepare = [&] { return enter_private_mounts() && setup(); }});
}

TEST(Privileged, UserAndGroupAreDroppedForRealOrNotAtAll)
{
    REQUIRE_ROOT();
    // -G gives the one group; -U alone the user's primary group and none besides.
    const struct {
        std::vector<std::string> options;
        std::string groups;
    } drops[] = {{{"-U", "nobody", "-G", "nogroup"}, "Groups:\t65534 "}, {{"-U", "nobody"}, "Groups:\t "}};
    for (const auto &d : drops) {
        Responder r(d.options);
        ASSERT_TRUE(r.child.running()) << r.stderr_text();
        EXPECT_EQ(proc_status_line(r.child.pid(), "Uid"), "Uid:\t65534\t65534\t65534\t65534");
        EXPECT_EQ(proc_status_line(r.child.pid(), "Gid"), "Gid:\t65534\t65534\t65534\t65534");
        EXPECT_EQ(proc_status_line(r.child.pid(), "Groups"), d.groups);
    }
    Responder r;

    const auto no_user = run(r.argv({"-U", "no-such-user"}));
    EXPECT_EQ(no_user.status, 1);
    EXPECT_EQ(no_user.err, "WARNING: no such user exists: no-such-user\n");
}

// The time-to-live of each TCP segment with data seen on a raw socket, by
// source port.  (Bare acknowledgements after the close come from the
// kernel's own socket, whatever the connection's time-to-live was.)
std::map<int, std::vector<int>> ttls_by_port(int raw)
{
    std::map<int, std::vector<int>> ttls;
    unsigned char packet[65536];
    for (ssize_t n; (n = recv(raw, packet, sizeof packet, MSG_DONTWAIT)) > 0;) {
        const auto *ip = reinterpret_cast<const iphdr *>(packet);
        const size_t tcp = static_cast<size_t>(ip->ihl) * 4;
        if (static_cast<size_t>(n) < tcp + 13)
            continue;
        const size_t data = ntohs(ip->tot_len) - tcp - (packet[tcp + 12] >> 4) * 4u;
        if (data > 0)
            ttls[(packet[tcp] << 8) | packet[tcp + 1]].push_back(ip->ttl);
    }
    return ttls;
}

TEST(Privileged, SubnetOptionSetsTimeToLiveOne)
{
    REQUIRE_ROOT();
    const UniqueFd raw(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_TCP));
    ASSERT_TRUE(raw);
    // Every TCP segment on the host passes this socket: room for the
    // others' traffic too, so that none of ours is dropped.
    const int room = 8 << 20;
    setsockopt(raw.get(), SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);
    Responder limited({"-s"});
    Responder plain;
    EXPECT_NE(limited.get("GET /zov1/agent/version/ HTTP/1.0"), "");
    EXPECT_NE(plain.get("GET /zov1/agent/version/ HTTP/1.0"), "");
    auto ttls = ttls_by_port(raw.get());
    ASSERT_FALSE(ttls[limited.port].empty());
    for (const int ttl : ttls[limited.port])
        EXPECT_EQ(ttl, 1);
    ASSERT_FALSE(ttls[plain.port].empty());
    EXPECT_GT(ttls[plain.port].front(), 1);
}

// Datagrams that arrive on `sock` until `count` came or 3 s passed.
std::vector<std::string> receive_lines(int sock, size_t count)
{
    std::vector<std::string> lines;
    eventually(
        [&] {
            char buf[2048];
            for (ssize_t n; (n = recv(sock, buf, sizeof buf, MSG_DONTWAIT)) > 0;)
                lines.emplace_back(buf, static_cast<size_t>(n));
            return lines.size() >= count;
        },
        3s);
    return lines;
}

// A private /dev holding only a datagram socket at /dev/log, bound on `log`.
bool private_dev_log(int log)
{
    if (!mount_tmpfs("/dev"))
        return false;
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, "/dev/log");
    return bind(log, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
}

TEST(Privileged, EveryConnectionIsLoggedUnderTheResponderIdent)
{
    REQUIRE_ROOT();
    TempRoot root;
    root.write_registry("");
    const UniqueFd log(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int port = free_port(SOCK_STREAM);
    Child c = spawn_private({tavish_binary, "-f", "-t", std::to_string(port), "-r", root.root()},
                            root.root() + "/err", [&] { return private_dev_log(log.get()); });
    ASSERT_TRUE(wait_serving(SOCK_STREAM, port));
    EXPECT_NE(tcp_exchange(port, "GET /zov1/agent/version/ HTTP/1.0\n"), "");
    const auto lines = receive_lines(log.get(), 2);
    ASSERT_EQ(lines.size(), 2u);
    const std::string tag = "Zorbel network responder[" + std::to_string(c.pid()) + "]: ";
    for (const auto &line : lines) {
        EXPECT_EQ(line.rfind("<29>", 0), 0u) << line;  // facility daemon, priority notice
        EXPECT_NE(line.find(tag + "Connection from IP address: 127.0.0.1."), std::string::npos) << line;
    }

    // -L in inetd mode: an IPv6 peer is logged, then rejected.
    const int port6 = free_port(SOCK_STREAM);
    const UniqueFd log6(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    Child inetd = spawn_private({"/usr/bin/systemd-socket-activate", "--accept", "--inetd", "-l", "[::1]:" + std::to_string(port6),
                                 tavish_binary, "-i", "-L", "-r", root.root()},
                                root.root() + "/err6", [&] { return private_dev_log(log6.get()); });
    const UniqueFd fd6(connect_tcp6(port6));
    ASSERT_TRUE(fd6);
    const auto rejected = receive_lines(log6.get(), 2);
    ASSERT_EQ(rejected.size(), 2u);
    EXPECT_NE(rejected[0].find("Connection from IP address: ::1."), std::string::npos) << rejected[0];
    EXPECT_NE(rejected[1].find("Rejecting connection (not loopback) from IP address: ::1."), std::string::npos)
        << rejected[1];
    char byte;
    EXPECT_EQ(recv(fd6.get(), &byte, 1, 0), 0);  // closed without a byte
}

TEST(Privileged, SerialNumberFileFillsTheHostDescription)
{
    REQUIRE_ROOT();
    TempRoot root;
    root.write_registry("");
    const int port = free_port(SOCK_STREAM);
    Child c = spawn_private({tavish_binary, "-f", "-t", std::to_string(port), "-r", root.root()}, root.root() + "/err",
                            [] {
                                if (!mount_tmpfs("/run"))
                                    return false;
                                std::ofstream("/var/run/psn") << "SN-1\nMaker & Co\n __NONE__\nProd <X>\nfifth\n";
                                return true;
                            });
    ASSERT_TRUE(wait_serving(SOCK_STREAM, port));
    const std::string agent = body_of(tcp_exchange(port, "GET /zov1/agent/ HTTP/1.0\n"));
    EXPECT_NE(agent.find("    <platform>Prod &lt;X&gt;</platform>\n    <manufacturer>Maker &amp; Co</manufacturer>\n"
                         "    <cpu_manufacturer></cpu_manufacturer>\n    <serial_number>SN-1</serial_number>\n"),
              std::string::npos)
        << agent;
    EXPECT_EQ(xmllint(agent), "");
}

}  // namespace
