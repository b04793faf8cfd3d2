// zorbel discover and zorbel query against the installed responders,
// started on free loopback ports; and the reading of their answers.
#include "cli_run.h"
#include "csv_reader.h"
#include "cli/cli_error.h"
#include "network/discovery_client.h"
#include "fake_responder.h"
#include "network/host_reader.h"
#include "network/responder_answers.h"
#include "network/http_query.h"
#include "network/inet.h"
#include "loopback.h"
#include "network/targets.h"
#include "temp_root.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

namespace zorbel::test {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

using cli::parse_discovery_reply;
using cli::parse_http_response;
using cli::resource_path;

// A responder on free loopback ports below a temporary root.
class CliNetwork : public ::testing::Test {
protected:
    TempRoot root;
    int udp_port = free_port(SOCK_DGRAM);
    int tcp_port = free_port(SOCK_STREAM);

    std::string registry_urn()
    {
        const auto r = zorbel({"-r", root.root(), "urn"});
        return r.out.substr(0, r.out.find('\n'));
    }

    Child start_brenloch(int advertised)
    {
        Child c = Child::spawn({installed("sbin/brenloch"), "-f", "-r", root.root(), "-u",
                                std::to_string(udp_port), "-t", std::to_string(advertised)},
                               logging_to(root.root() + "/brenloch.err"));
        EXPECT_TRUE(wait_answering(udp_port));
        return c;
    }

    Child start_tavish(const std::string &root_dir)
    {
        Child c = Child::spawn({installed("sbin/tavish"), "-f", "-L", "-r", root_dir, "-t", std::to_string(tcp_port)},
                               logging_to(root.root() + "/tavish.err"));
        EXPECT_TRUE(wait_serving(SOCK_STREAM, tcp_port));
        return c;
    }

    std::string add_record(const std::string &name)
    {
        const auto r = zorbel({"-r", root.root(), "add", "--product-name", name, "--product-version", "1",
                               "--product-urn", "urn:product:x", "--product-parent", "P", "--vendor", "V",
                               "--arch", "x86_64", "--container", "c", "--source", "s"});
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out.substr(0, r.out.find('\n'));
    }
};

TEST_F(CliNetwork, DiscoverPrintsAddressUrnAndAdvertisedPortEveryTime)
{
    const std::string urn = registry_urn();
    Child brenloch = start_brenloch(7123);
    // Each run sends a fresh probe text, so the responder's cache of seen
    // probes never swallows a second search.
    for (int i = 0; i < 2; ++i) {
        const auto r = zorbel({"discover", "--port", std::to_string(udp_port), "--timeout", "0.5", "127.0.0.1"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "127.0.0.1 " + urn + " 7123\n");
    }
    // Two addresses of the same responder: two probes, two replies.
    const auto r = zorbel({"discover", "-p", std::to_string(udp_port), "-t", "0.5", "127.0.0.1", "localhost"});
    EXPECT_EQ(r.out, "127.0.0.1 " + urn + " 7123\n127.0.0.1 " + urn + " 7123\n");
}

TEST_F(CliNetwork, DiscoverEndsWhenEveryTargetAnsweredAndReportsNamesThatDoNotResolve)
{
    const std::string urn = registry_urn();
    Child brenloch = start_brenloch(7123);
    // A time-out far beyond the run's bound: only the early end lets it finish.
    const auto r = zorbel({"discover", "-p", std::to_string(udp_port), "-t", "600", "no-such-host.invalid",
                           "127.0.0.1/32"},
                          8s);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "127.0.0.1 " + urn + " 7123\n");
    EXPECT_TRUE(r.err.starts_with("zorbel: no-such-host.invalid: ")) << r.err;
}

TEST_F(CliNetwork, InventoryReadsEveryRecordInEachFormat)
{
    const std::string a = add_record("Tools <&> \"Më\""), b = add_record("Base");
    Child tavish = start_tavish(root.root());
    Child brenloch = start_brenloch(tcp_port);
    const std::vector<std::string> base{"inventory", "-p", std::to_string(udp_port), "-t", "5", "127.0.0.1"};
    const auto with = [&](std::vector<std::string> extra) {
        extra.insert(extra.begin(), base.begin(), base.end());
        return zorbel(extra);
    };

    auto r = with({"--format", "json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    ASSERT_EQ(doc["hosts"].size(), 1u);
    const auto &host = doc["hosts"][0];
    EXPECT_EQ(host["address"], "127.0.0.1");
    EXPECT_EQ(host["registry_urn"], registry_urn());
    EXPECT_EQ(host["tcp_port"], tcp_port);
    EXPECT_TRUE(host["error"].is_null());
    ASSERT_EQ(host["records"].size(), 2u);
    const auto &first = host["records"][a < b ? 0 : 1];
    EXPECT_EQ(first["instance_urn"], a);
    EXPECT_EQ(first["product_name"], "Tools <&> \"Më\"");
    EXPECT_EQ(first.size(), 10u);

    r = with({});  // not a terminal: JSON lines
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    for (int i = 0; i < 2 && std::getline(lines, line); ++i) {
        auto row = nlohmann::json::parse(line);
        EXPECT_EQ(row["address"], "127.0.0.1");
        row.erase("address");
        row.erase("registry_urn");
        EXPECT_EQ(row, host["records"][i]);
    }
    EXPECT_FALSE(std::getline(lines, line));

    const std::string page = root.root() + "/page.html";
    r = with({"--format", "csv", "--html", page});
    EXPECT_NE(r.out.find(",\"Tools <&> \"\"Më\"\"\","), std::string::npos) << r.out;
    EXPECT_NE(read_file(page).find(">2 records on 1 host.<"), std::string::npos);  // one host, not "1 hosts"
}

TEST_F(CliNetwork, InventoryComparesWithAnEarlierRunInEachFormat)
{
    const std::string kept = add_record("Kept"), gone = add_record("Gone"), changed = add_record("Changed");
    Child tavish = start_tavish(root.root());
    Child brenloch = start_brenloch(tcp_port);
    const auto with = [&](std::vector<std::string> extra) {
        extra.insert(extra.begin(), {"inventory", "-p", std::to_string(udp_port), "-t", "5", "127.0.0.1"});
        return zorbel(extra);
    };
    // The earlier run, with this host at another address and one more host.
    auto previous = nlohmann::json::parse(with({"--format", "json"}).out);
    EXPECT_EQ(previous["format"], 1);
    previous["hosts"][0]["address"] = "10.1.1.1";
    previous["hosts"].push_back({{"address", "10.9.9.9"}, {"registry_urn", "urn:zo:elsewhere"},
                                 {"records", nlohmann::json::array()}, {"error", nullptr}});
    const std::string file = root.root() + "/previous.json";
    write_file(file, previous.dump());
    ASSERT_EQ(zorbel({"-r", root.root(), "delete", gone}).status, 0);
    ASSERT_EQ(zorbel({"-r", root.root(), "update", changed, "--defined-inst-id", "x"}).status, 0);
    const std::string added = add_record("New");
    const std::map<std::string, std::string> expected{
        {kept, ""}, {gone, "removed"}, {changed, "changed"}, {added, "added"}, {"", "host disappeared"}};

    auto r = with({"--format", "json", "--compare", file});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto changes = nlohmann::json::parse(r.out)["changes"];
    ASSERT_EQ(changes["hosts"].size(), 2u) << changes;
    const auto &host = changes["hosts"][0];
    EXPECT_EQ(host["change"], "kept");
    EXPECT_EQ(host["previous_address"], "10.1.1.1");
    ASSERT_EQ(host["added"].size(), 1u);
    EXPECT_EQ(host["added"][0]["instance_urn"], added);
    ASSERT_EQ(host["removed"].size(), 1u);
    EXPECT_EQ(host["removed"][0]["product_name"], "Gone");
    ASSERT_EQ(host["changed"].size(), 1u);
    EXPECT_EQ(host["changed"][0]["instance_urn"], changed);
    EXPECT_EQ(host["changed"][0]["fields"]["product_defined_inst_id"], nlohmann::json({{"old", ""}, {"new", "x"}}));
    EXPECT_EQ(changes["hosts"][1]["change"], "disappeared");
    EXPECT_EQ(changes["hosts"][1]["address"], "10.9.9.9");

    r = with({"--format", "csv", "--compare", file});
    const auto rows = read_csv(r.out);
    ASSERT_GE(rows.size(), 2u);
    const std::size_t change = rows[0].size() - 2;
    EXPECT_EQ(rows[0][change], "change");
    std::map<std::string, std::string> seen;
    for (std::size_t i = 1; i < rows.size(); ++i)
        seen[rows[i].at(2)] = rows[i].at(change);
    EXPECT_EQ(seen, expected);

    r = with({"--format", "jsonl", "--compare", file});
    seen.clear();
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        const auto row = nlohmann::json::parse(line);
        seen[row["instance_urn"]] = row["change"];
        if (row["instance_urn"] == changed) {
            EXPECT_EQ(row["previous"]["product_defined_inst_id"], "");
        }
    }
    EXPECT_EQ(seen, expected);

    r = with({"--format", "table", "--compare", file});
    EXPECT_NE(r.out.find("\nChanges since " + file + ":\n"), std::string::npos) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("moved +was at 10\\.1\\.1\\.1\n"))) << r.out;

    // A host that cannot be read now is reported as such, nothing removed.
    tavish.stop();
    r = with({"--format", "json", "--compare", file});
    EXPECT_EQ(r.status, 1);
    const auto unread = nlohmann::json::parse(r.out)["changes"]["hosts"][0];
    EXPECT_EQ(unread["change"], "unreadable");
    EXPECT_EQ(unread["removed"].size(), 0u);

    // Snapshots that cannot be compared with stop the command first.
    for (const auto &[text, message] : std::vector<std::pair<std::string, std::string>>{
             {R"({"format": 2, "hosts": []})", "written in format 2, newer than the format 1 this zorbel reads"},
             {R"({"hosts": [{"records": 1}], "format": 3})", "written in format 3, newer than the format 1"},
             {"[1,", "not a JSON document of zorbel inventory: parse error"},
             {R"({"format": "1", "hosts": []})", "not a JSON document of zorbel inventory: its format is not a whole"},
             {"[]", "not a JSON document of zorbel inventory: the document is not an object"},
             {R"({"hosts": [{"address": "a", "registry_urn": "u"}]})",
              "not a JSON document of zorbel inventory: host 1 has no records of the right type"},
             {R"({"hosts": [{"address": "a", "registry_urn": "u", "records": [{"container": "/c"}]}]})",
              "not a JSON document of zorbel inventory: host 1, record 1 has no instance_urn"},
             {R"({"hosts": [{"address": "a", "registry_urn": "u", "records": [{"product_name": 1}]}]})",
              "not a JSON document of zorbel inventory: host 1, record 1's product_name is not a string"}}) {
        write_file(file, text);
        r = with({"--compare", file});
        EXPECT_EQ(r.status, 1) << text;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(file + ": " + message), std::string::npos) << r.err;
    }
}

TEST_F(CliNetwork, InventoryReportsAHostThatCannotBeReadAndGoesOn)
{
    // A responder that answers discovery but has no TCP service behind it.
    Child brenloch = start_brenloch(tcp_port);
    auto r = zorbel({"inventory", "-p", std::to_string(udp_port), "-t", "2", "127.0.0.1", "--format", "json"});
    EXPECT_EQ(r.status, 1);
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["hosts"][0]["records"].size(), 0u);
    EXPECT_EQ(doc["hosts"][0]["error"], "connect to 127.0.0.1:" + std::to_string(tcp_port) + ": Connection refused");
    r = zorbel({"inventory", "-p", std::to_string(udp_port), "-t", "2", "127.0.0.1", "--format", "csv"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zorbel: 127.0.0.1: connect to 127.0.0.1:" + std::to_string(tcp_port) + ": Connection refused\n");
    brenloch.stop();
    r = zorbel({"inventory", "-p", std::to_string(udp_port), "-t", "0.3", "127.0.0.1", "--format", "csv"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zorbel: no reply\n");
}

TEST(HostReader, HostileAnswersAreReportedForThatHost)
{
    const std::string head = "HTTP/1.0 200 OK\r\n\r\n";
    const std::string urn = "urn:zo:1";
    const std::string list = head + "<zorbels><link type=\"zorbel\" href=\"/zov1/zorbel/" + urn + "\" /></zorbels>\n";
    const auto record = [&](const std::string &inner) {
        return head + "<zo1:response xmlns:zo1=\"http://x/zov1/zorbel\"><zorbel>" + inner + "</zorbel></zo1:response>";
    };
    struct Case {
        const char *name;
        std::string record_answer;  // what a record request gets (the list is `list`)
        std::string error;          // start of the host's error; "" for none
        std::size_t budget = 1 << 20;
    };
    const Case cases[] = {
        {"good", record("<instance_urn>urn:zo:1</instance_urn><product_name>A &amp; &#xe9;</product_name>"), ""},
        {"garbled", record("<instance_urn>urn:zo:1</product_name>"), "garbled record: "},
        {"truncated", record("<instance_urn>urn:zo:1</instance_urn>").substr(0, 60), "garbled record: "},
        {"entities", head + "<!DOCTYPE r [<!ENTITY a \"aaaa\">]><r>&a;</r>", "garbled record: it declares a document type"},
        {"other record", record("<instance_urn>urn:zo:2</instance_urn><product_name>A</product_name>"),
         "answered for 'urn:zo:2' when asked for urn:zo:1"},
        {"oversized", record(std::string(2 << 20, ' ')), "127.0.0.1:"},
        {"not found", "HTTP/1.0 404 Not Found\r\n\r\n", "127.0.0.1:"},
        {"never closes", "", "127.0.0.1:"},
        {"over budget", record("<instance_urn>urn:zo:1</instance_urn><product_name>A</product_name>"),
         "more than the run's 300 bytes of answers to keep", 300},
    };
    for (const auto &c : cases) {
        FakeResponder server([&](int fd, const std::string &request) {
            if (request.starts_with("GET /zov1/zorbel/ "))
                send_bytes(fd, list);
            else if (!c.record_answer.empty())
                send_bytes(fd, c.record_answer);
            else
                while (!server.stopping() && send_bytes(fd, head.substr(0, 1)))
                    std::this_thread::sleep_for(20ms);
        });
        cli::RunBudget budget(c.budget);
        const auto host = cli::read_host(loopback_address(0), {"urn:zo:r", std::to_string(server.port())}, 1s, budget);
        if (c.error.empty()) {
            EXPECT_FALSE(host.error) << c.name << ": " << *host.error;
            ASSERT_EQ(host.records.size(), 1u) << c.name;
            EXPECT_EQ(host.records[0][1], "A & \u00e9");
        } else {
            ASSERT_TRUE(host.error) << c.name;
            EXPECT_TRUE(host.error->starts_with(c.error)) << c.name << ": " << *host.error;
            EXPECT_TRUE(host.records.empty()) << c.name;
            EXPECT_NO_THROW(budget.take(c.budget)) << c.name << ": the host's share is given back";
        }
    }
}

// A discovery responder on 127.0.0.1 that answers each probe with `reply`
// from 127.0.0.1 and then, as a hostile peer would, from other loopback
// addresses that were never probed.
class ForgingResponder {
public:
    ForgingResponder(std::string reply, std::vector<std::string> also_from) : reply_(std::move(reply))
    {
        fd_ = bound_udp_socket();
        for (const auto &address : also_from) {
            const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in a = loopback_address(0);
            inet_pton(AF_INET, address.c_str(), &a.sin_addr);
            if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0)
                forgers_.push_back(fd);
        }
        thread_ = std::thread([this] { answer(); });
    }
    ~ForgingResponder()
    {
        stop_ = true;
        thread_.join();
        for (const int fd : forgers_)
            close(fd);
        close(fd_);
    }
    int port() const { return local_port(fd_); }

private:
    void answer()
    {
        char buf[512];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            sockaddr_in from{};
            socklen_t len = sizeof from;
            if (poll(&p, 1, 20) <= 0 || recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &len) < 0)
                continue;
            for (const int fd : forgers_)
                sendto(fd, reply_.data(), reply_.size(), 0, reinterpret_cast<const sockaddr *>(&from), len);
        }
    }

    std::string reply_;
    int fd_ = -1;
    std::vector<int> forgers_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(CliNetwork, RepliesComeOnlyFromWhereProbesWentAndOneRunReadsAtMostMaxHosts)
{
    // The advertised TCP port is closed: each host read fails at once.
    ForgingResponder forger("urn:zo:f " + std::to_string(tcp_port) + "\n",
                            {"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.9"});
    const std::string port = std::to_string(forger.port());
    auto r = zorbel({"discover", "-p", port, "-t", "1", "127.0.0.1"});
    EXPECT_EQ(r.out, "127.0.0.1 urn:zo:f " + std::to_string(tcp_port) + "\n") << r.err;
    r = zorbel({"discover", "-p", port, "-t", "1", "127.0.0.0/29"});
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << r.out;
    EXPECT_EQ(r.out.find("127.0.0.9"), std::string::npos) << r.out;

    r = zorbel({"inventory", "-p", port, "-t", "1", "--max-hosts", "2", "--format", "json", "127.0.0.0/29"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(nlohmann::json::parse(r.out)["hosts"].size(), 2u) << r.out;
    EXPECT_NE(r.err.find("zorbel: 1 host beyond --max-hosts 2 not read: 127.0.0.3\n"), std::string::npos) << r.err;
}

TEST_F(CliNetwork, DiscoverShowsAHostileUrnEscaped)
{
    ForgingResponder forger("urn:zo:\xc2\x9b" "31m\xe2\x80\xae\xff 7\n", {"127.0.0.1"});
    const auto r = zorbel({"discover", "-p", std::to_string(forger.port()), "-t", "1", "127.0.0.1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "127.0.0.1 urn:zo:\\u009b31m\\u202e\\xff 7\n");
}

TEST(RecordList, IsReadPieceByPieceAndHostileListsAreRefused)
{
    const std::string good = "<?xml version=\"1.0\"?>\n<zorbels><link type=\"zorbel\" href=\"/zov1/zorbel/urn:zo:a\"/>"
                             "<other><link href=\"/x\"/></other><link href=\"/zov1/zorbel/urn:zo:b&amp;c\"/></zorbels>";
    std::vector<std::string> urns;
    cli::RecordListReader reader([&](std::string urn) { urns.push_back(std::move(urn)); });
    for (const char &c : good)
        reader.take(std::string_view(&c, 1));
    reader.finish();
    EXPECT_EQ(urns, (std::vector<std::string>{"urn:zo:a", "urn:zo:b&c"}));

    std::string names;
    for (int i = 0; i < 100; ++i)
        names += "<n" + std::to_string(i) + "/>";
    struct Case {
        const char *name;
        std::string list;
        std::string error;
    };
    const Case cases[] = {
        {"document type", "<!DOCTYPE zorbels [<!ENTITY a \"x\">]><zorbels/>", "it declares a document type"},
        {"link elsewhere", "<zorbels><link href=\"/etc/passwd\"/></zorbels>", "a link outside /zov1/zorbel/"},
        {"link without target", "<zorbels><link/></zorbels>", "a link outside /zov1/zorbel/"},
        {"other root", "<html/>", "no zorbels element"},
        {"not well-formed", "<zorbels><link></zorbels>", ""},
        {"empty", "", ""},
        {"endless markup", "<zorbels><link href=\"" + std::string(3 << 20, 'x'), "markup longer than 1 MiB"},
        {"many names", "<zorbels>" + names + "</zorbels>", "more than 64 names"},
    };
    for (const auto &c : cases) {
        try {
            cli::parse_record_list(c.list);
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const cli::Failure &e) {
            EXPECT_TRUE(std::string(e.what()).starts_with("garbled record list: " + c.error)) << c.name << ": " << e.what();
        }
    }
}

// Six hosts that each answer the record list with 60 MB of links: the run
// keeps its memory bounded, whatever they send.
TEST(InventoryMemory, HostileListsCannotExhaustTheMemoryOfARun)
{
    std::string list = "HTTP/1.0 200 OK\r\n\r\n<zorbels>";
    for (unsigned i = 0; list.size() < 60'000'000; ++i)
        list += "<link type=\"zorbel\" href=\"/zov1/zorbel/urn:zo:" + std::to_string(i) +
                "-0000-1111-2222-333344445555\"/>\n";
    list += "</zorbels>\n";
    FakeResponder server(
        [&](int fd, const std::string &request) {
            send_bytes(fd, request.starts_with("GET /zov1/zorbel/ ") ? std::string_view(list)
                                                                      : "HTTP/1.0 404 Not Found\r\n\r\n");
        },
        "0.0.0.0");
    ForgingResponder hosts("urn:zo:h " + std::to_string(server.port()) + "\n",
                           {"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6"});
    TempRoot dir(bare_root);
    Child zorbel = Child::spawn({installed("bin/zorbel"), "inventory", "-p", std::to_string(hosts.port()), "-t", "30",
                                 "--format", "json", "127.0.0.0/29"},
                                logging_to(dir.root() + "/err"));
    EXPECT_EQ(zorbel.wait_exit_code(120s), 1) << read_file(dir.root() + "/err");
    // The largest of this process's children, zorbel among them.
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    RecordProperty("max_rss_kib", std::to_string(usage.ru_maxrss));
    constexpr long bound_kib = 512 * 1024 * (sanitized ? 3 : 1);
    EXPECT_LT(usage.ru_maxrss, bound_kib) << read_file(dir.root() + "/err");
}

TEST_F(CliNetwork, DiscoverWithoutAnswerFails)
{
    const auto r = zorbel({"discover", "--port", std::to_string(udp_port), "--timeout", "0.3", "127.0.0.1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zorbel: no reply\n");
}

TEST_F(CliNetwork, DiscoverArgumentsAreChecked)
{
    for (const auto &args : std::vector<std::vector<std::string>>{
             {"discover", "--port", "0"}, {"discover", "--port", "65536"}, {"discover", "--port", "12x"},
             {"discover", "--timeout", "0"}, {"discover", "--timeout", "soon"}, {"discover", "10.0.0.0/15"},
             {"discover", "10.0.0.0/33"}, {"inventory", "-j", "0"}, {"inventory", "--format", "xml"},
             {"inventory", "10.1.2.3/8"}, {"inventory", "-t", "-1"}}) {
        const auto r = zorbel(args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_TRUE(r.err.starts_with("zorbel " + args[0] + ": ")) << r.err;
    }
    const auto r = zorbel({"discover", "--timeout", "0.2", "no-such-host.invalid"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("zorbel: no-such-host.invalid: ")) << r.err;
}

TEST_F(CliNetwork, QueryPrintsTheBodyOfEachResource)
{
    const std::string urn = add_record("Tools <&> More");
    Child tavish = start_tavish(root.root());
    const std::string at = "127.0.0.1:" + std::to_string(tcp_port);

    auto r = zorbel({"query", at, "version"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n")) << r.out;
    EXPECT_NE(r.out.find(" <agent_version>1.1.4</agent_version>\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("HTTP/1.0"), std::string::npos);  // the body only

    r = zorbel({"query", at, "agent"});
    EXPECT_NE(r.out.find("<agent_urn>" + registry_urn() + "</agent_urn>"), std::string::npos) << r.out;

    r = zorbel({"query", at});  // the record list is the default
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("href=\"/zov1/zorbel/" + urn + "\""), std::string::npos) << r.out;
    EXPECT_EQ(zorbel({"query", at, "list"}).out, r.out);

    r = zorbel({"query", at, urn});
    EXPECT_NE(r.out.find("<product_name>Tools &lt;&amp;&gt; More</product_name>"), std::string::npos) << r.out;

    r = zorbel({"query", "localhost:" + std::to_string(tcp_port), "xsl"});
    EXPECT_NE(r.out.find("<xsl:for-each select=\"zorbels/link\">"), std::string::npos) << r.out;
}

TEST_F(CliNetwork, QueryFailsWhenNothingComesBack)
{
    // No registry directory: the responder sends nothing for the list.
    TempRoot empty(bare_root);
    Child tavish = start_tavish(empty.root());
    const std::string at = "127.0.0.1:" + std::to_string(tcp_port);
    auto r = zorbel({"query", at, "list"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zorbel: no response from " + at + "\n");
    tavish.stop();

    r = zorbel({"query", at, "version"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zorbel: connect to " + at + ": Connection refused\n");
}

TEST_F(CliNetwork, QueryBoundsTheWholeAnswerInSizeAndTime)
{
    struct Case {
        const char *name;
        std::chrono::milliseconds pause;  // between pieces of the endless body
        std::size_t piece;
        const char *timeout;
        const char *error;
    };
    const Case cases[] = {
        {"flood", 0ms, 1 << 20, "30", "answer larger than 64 MiB"},
        {"trickle", 20ms, 1, "1", "no complete answer in time"},
    };
    for (const auto &c : cases) {
        FakeResponder server([&](int fd, const std::string &) {
            send_bytes(fd, "HTTP/1.0 200 OK\r\n\r\n");
            const std::string piece(c.piece, 'x');
            while (!server.stopping() && send_bytes(fd, piece))
                std::this_thread::sleep_for(c.pause);
        });
        const std::string at = "127.0.0.1:" + std::to_string(server.port());
        const auto r = zorbel({"query", "--timeout", c.timeout, at, "list"}, 20s);
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.out, "") << c.name;
        EXPECT_EQ(r.err, "zorbel: " + at + ": " + c.error + "\n") << c.name;
    }
}

TEST_F(CliNetwork, QueryKeepsControlCharactersFromATerminal)
{
    FakeResponder server(FakeResponder::sending("HTTP/1.0 200 OK\r\n\r\nA\x1b[2JB\tC\r\n\x07\xc2\x9b\xc3\xa9"));
    const std::vector<std::string> args{installed("bin/zorbel"), "query", "127.0.0.1:" + std::to_string(server.port())};
    EXPECT_EQ(run(args).out, "A\x1b[2JB\tC\r\n\x07\xc2\x9b\xc3\xa9");  // not a terminal: every byte as sent

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    Child child = Child::spawn(args, logging_to("/dev/null", slave));
    EXPECT_EQ(child.wait_exit_code(), 0);
    close(slave);
    std::string shown;
    char buf[256];
    for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;)
        shown.append(buf, static_cast<std::size_t>(n));
    close(master);
    EXPECT_EQ(shown, "A\\x1b[2JB\tC\\x0d\n\\x07\\u009b\xc3\xa9");
}

TEST_F(CliNetwork, QueryArgumentsAreChecked)
{
    for (const auto &args : std::vector<std::vector<std::string>>{{"query"},
                                                                   {"query", "host:0"},
                                                                   {"query", ":6481"},
                                                                   {"query", "host", "nosuch"},
                                                                   {"query", "host", "urn:zo:a b"},
                                                                   {"query", "host", "list", "more"}}) {
        const auto r = zorbel(args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_TRUE(r.err.starts_with("zorbel query: ")) << r.err;
    }
    EXPECT_EQ(zorbel({"-r", "/", "query", "--timeout", "0.5", "127.0.0.1:1"}).status, 1);  // -r accepted, ignored
}

TEST(DiscoveryReply, OnlyUrnBlankPortLineFeedIsAReply)
{
    auto r = parse_discovery_reply("urn:zo:abc 6481\n");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->urn, "urn:zo:abc");
    EXPECT_EQ(r->port, "6481");
    r = parse_discovery_reply(" -5\n");  // a responder without registry
    ASSERT_TRUE(r);
    EXPECT_EQ(r->urn, "");
    EXPECT_EQ(r->port, "-5");
    for (const char *bad : {"", "\n", "urn:zo:abc 6481", "urn:zo:abc\n", "urn:zo:abc x\n", "urn:zo:abc 64 81\n",
                            "urn:zo:a\x1b[2J 1\n", "urn:zo:abc 123456789012\n"})
        EXPECT_FALSE(parse_discovery_reply(bad)) << bad;
}

TEST(Targets, BlocksExpandToTheirHostAddresses)
{
    struct Case {
        const char *operand;
        std::size_t count;
        const char *first, *last;
    };
    for (const auto &c : std::vector<Case>{{"10.0.0.0/30", 2, "10.0.0.1", "10.0.0.2"},
                                           {"10.0.0.5/31", 2, "10.0.0.4", "10.0.0.5"},
                                           {"10.0.0.7/32", 1, "10.0.0.7", "10.0.0.7"},
                                           {"10.9.200.1/16", 65534, "10.9.0.1", "10.9.255.254"},
                                           {"127.0.0.1", 1, "127.0.0.1", "127.0.0.1"}}) {
        const auto t = cli::expand_targets("discover", {c.operand}, 6481);
        ASSERT_EQ(t.unicast.size(), c.count) << c.operand;
        EXPECT_EQ(cli::address_text(t.unicast.front()), c.first) << c.operand;
        EXPECT_EQ(cli::address_text(t.unicast.back()), c.last) << c.operand;
        EXPECT_EQ(ntohs(t.unicast.front().sin_port), 6481);
        EXPECT_FALSE(t.broadcast);
    }
    const auto t = cli::expand_targets("discover", {"no-such-host.invalid", "127.0.0.1"}, 1);
    EXPECT_EQ(t.unicast.size(), 1u);
    ASSERT_EQ(t.errors.size(), 1u);
    EXPECT_TRUE(t.errors[0].starts_with("no-such-host.invalid: ")) << t.errors[0];
    EXPECT_TRUE(cli::expand_targets("discover", {}, 1).broadcast);
    for (const char *bad : {"10.0.0.0/15", "10.0.0/24", "10.0.0.0/", "10.0.0.0/x", "10.0.0.0/33", "/8"})
        EXPECT_THROW(cli::expand_targets("discover", {bad}, 1), cli::UsageError) << bad;
}

TEST(Targets, RepliesAreAcceptedFromProbedAddressesBlocksAndBroadcastNetworks)
{
    // 10.0.0.0/24 with its broadcast address, and a network without one.
    const std::vector<cli::LocalNetwork> networks{{{0x0a000000, 0x0a0000ff}, 0x0a0000ff},
                                                  {{0x7f000000, 0x7fffffff}, std::nullopt}};
    struct Case {
        std::vector<std::string> operands;
        const char *from;
        bool accepted;
    };
    for (const auto &c : std::vector<Case>{{{"10.0.0.7"}, "10.0.0.7", true},
                                           {{"10.0.0.7"}, "10.0.0.8", false},
                                           {{"10.0.1.0/30"}, "10.0.1.3", true},
                                           {{"10.0.1.0/30"}, "10.0.1.4", false},
                                           {{"10.0.0.255"}, "10.0.0.9", true},
                                           {{"10.0.0.255"}, "127.0.0.1", false},
                                           {{"255.255.255.255"}, "127.0.0.5", true},
                                           {{}, "10.0.0.200", true},
                                           {{}, "10.0.1.1", false}}) {
        sockaddr_in from{};
        inet_pton(AF_INET, c.from, &from.sin_addr);
        EXPECT_EQ(cli::expand_targets("discover", c.operands, 1, networks).accepts(from), c.accepted)
            << (c.operands.empty() ? "broadcast" : c.operands[0]) << " " << c.from;
    }
}

TEST(DiscoveryReply, ProbeTextsAreFresh)
{
    const std::string a = cli::fresh_probe_text(), b = cli::fresh_probe_text();
    EXPECT_NE(a, b);
    EXPECT_TRUE(std::regex_match(a, std::regex("zorbel-discover-[0-9a-f]{32}"))) << a;
}

TEST(HttpAnswer, ResponsesAreSplitAtTheHeaderEnd)
{
    auto r = parse_http_response("HTTP/1.0 200 OK\r\nContent-type: text/xml\r\n\r\n<a/>\n");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->status_line, "HTTP/1.0 200 OK");
    EXPECT_EQ(r->body, "<a/>\n");
    r = parse_http_response("HTTP/1.1 404 Not Found\r\n\r\n");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 404);
    EXPECT_EQ(r->body, "");
    for (const char *bad : {"", "<a/>", "HTTP/1.0 200 OK\r\n", "HTTP/1.0 2000 OK\r\n\r\n", "HTTP/1.0 OK\r\n\r\n",
                            "HTTP/1.0 200 \x1b[2J\r\n\r\n"})
        EXPECT_FALSE(parse_http_response(bad)) << bad;
}

TEST(HttpAnswer, ResourceNamesMapToTheFivePaths)
{
    EXPECT_EQ(resource_path("version"), "/zov1/agent/version/");
    EXPECT_EQ(resource_path("agent"), "/zov1/agent/");
    EXPECT_EQ(resource_path("list"), "/zov1/zorbel/");
    EXPECT_EQ(resource_path("xsl"), "/zov1/zo_list.xsl");
    EXPECT_EQ(resource_path("urn:zo:1-2"), "/zov1/zorbel/urn:zo:1-2");
    for (const char *bad : {"", "Version", "urn:x:1", "urn:zo:a\tb", "urn:zo:a\r\nGET"})
        EXPECT_FALSE(resource_path(bad)) << bad;
}

}  // namespace
}  // namespace zorbel::test
