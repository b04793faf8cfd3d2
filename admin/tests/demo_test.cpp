// The README's demo command, run on the installed tree: it starts both
// responders on a demo registry, answers what it tells the user to try,
// and stops both on Ctrl-C (SIGINT).
#include "cli_run.h"
#include "temp_root.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <sys/socket.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace zorbel::test {
namespace {

std::map<std::string, std::string> read_settings(const std::string &path)
{
    std::map<std::string, std::string> m;
    std::istringstream in(read_file(path));
    for (std::string line; std::getline(in, line);)
        if (const auto eq = line.find('='); eq != std::string::npos)
            m[line.substr(0, eq)] = line.substr(eq + 1);
    return m;
}

TEST(Demo, ServesWhatItPrintsAndStopsOnCtrlC)
{
    TempRoot tmp;
    const std::string dir = tmp.root() + "/demo", out_path = tmp.root() + "/demo.out";
    const int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(out_fd, 0);
    Child demo = Child::spawn({"/bin/bash", std::string(ZORBEL_SOURCE_DIR) + "/scripts/demo", "--installed",
                               installed(""), "--dir", dir},
                              logging_to(tmp.root() + "/demo.err", out_fd));
    close(out_fd);
    ASSERT_TRUE(eventually([&] { return read_file(out_path).find("Press Ctrl-C to stop.") != std::string::npos; },
                           30s))
        << read_file(out_path) << read_file(tmp.root() + "/demo.err");

    auto settings = read_settings(dir + "/ports");
    const std::string tcp = settings["tcp_port"], udp = settings["udp_port"];
    ASSERT_FALSE(tcp.empty());
    ASSERT_FALSE(udp.empty());
    const std::string printed = read_file(out_path);
    EXPECT_NE(printed.find("curl http://127.0.0.1:" + tcp + "/zov1/agent/"), std::string::npos) << printed;
    EXPECT_NE(printed.find("query 127.0.0.1:" + tcp + " list"), std::string::npos) << printed;
    EXPECT_NE(printed.find("discover --port " + udp + " 127.0.0.1"), std::string::npos) << printed;
    EXPECT_NE(printed.find("browser: http://127.0.0.1:" + tcp + "/zov1/zorbel/"), std::string::npos) << printed;
    EXPECT_NE(printed.find("browser: http://127.0.0.1:" + tcp + "/\n"), std::string::npos) << printed;

    // The sample records, through both responders.
    const auto list = zorbel({"query", "127.0.0.1:" + tcp, "list"});
    EXPECT_EQ(list.status, 0) << list.err;
    std::size_t links = 0;
    for (auto at = list.out.find("<link "); at != std::string::npos; at = list.out.find("<link ", at + 1))
        ++links;
    EXPECT_EQ(links, 4u) << list.out;
    const auto records = zorbel({"-r", settings["root"], "list"});
    const std::string first = records.out.substr(0, records.out.find('\n'));
    const auto record = zorbel({"query", "127.0.0.1:" + tcp, first});
    EXPECT_NE(record.out.find("<product_name>Quesk Database Server</product_name>"), std::string::npos)
        << record.out;
    const std::string urn = zorbel({"-r", settings["root"], "urn"}).out;
    const auto found = zorbel({"discover", "--port", udp, "--timeout", "0.5", "127.0.0.1"});
    EXPECT_EQ(found.out, "127.0.0.1 " + urn.substr(0, urn.size() - 1) + " " + tcp + "\n") << found.err;

    kill(demo.pid(), SIGINT);
    EXPECT_EQ(demo.wait_exit_code(10s), 0) << read_file(tmp.root() + "/demo.err");
    // Both responders are gone with it.
    const int fd = connect_tcp(std::stoi(tcp), 200ms);
    EXPECT_LT(fd, 0);
    if (fd >= 0)
        close(fd);
    EXPECT_TRUE(udp_exchange(std::stoi(udp), "after the demo", 200ms).empty());
}

}  // namespace
}  // namespace zorbel::test
