// zorbel inventory over a simulated fleet in network namespaces, with real
// broadcast discovery: good hosts, a host whose tavish is stopped, one that
// answers too slowly, one with markup and non-ASCII values, one empty.
// Every record of every good host must arrive once in each format.  The
// slow and the stopped host are met once, by broadcast; the other formats
// ask the good hosts (and the stopped one, which fails at once) by address,
// so no run waits out the slow host again.
#include "csv_reader.h"
#include "fleet.h"
#include "sample_records.h"
#include "zorbel/support/unique_fd.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <compare>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace zorbel::test {
namespace {

// Accepts on port 6481 and sends one byte of an answer every 200 ms to
// each connection in turn, never finishing.
int trickling_server()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(6481);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd, 16) != 0)
        return 1;
    for (;;) {
        const int c = accept(fd, nullptr, nullptr);
        for (int i = 0; c >= 0 && i < 600 && send(c, "H", 1, MSG_NOSIGNAL) == 1; ++i)
            poll(nullptr, 0, 200);
        close(c);
    }
}

struct Expected {
    std::string address, urn, name;
    auto operator<=>(const Expected &) const = default;
    bool operator==(const Expected &) const = default;
};

class FleetInventory : public ::testing::Test {
protected:
    static constexpr int good[] = {0, 1, 2, 5};  // 2: markup and non-ASCII; 5: empty registry
    static constexpr int stopped = 3, slow = 4;

    void SetUp() override
    {
        if (const std::string why = Fleet::unavailable(); !why.empty())
            GTEST_SKIP() << why;
        fleet = std::make_unique<Fleet>(6);
        const std::map<int, std::vector<std::pair<std::string, std::string>>> records{
            // name as stored (XML text) and as read back
            {0, {{"Alpha", "Alpha"}, {"Beta", "Beta"}, {"Gamma", "Gamma"}}},
            {1, {{"Delta", "Delta"}, {"Alpha", "Alpha"}}},
            {2,
             {{"&lt;script&gt;alert(1)&lt;/script&gt; Ünï &amp; 東京", "<script>alert(1)</script> Ünï & 東京"},
              {"&lt;/td&gt;&lt;img src=x&gt; \"q\" 'a', b", "</td><img src=x> \"q\" 'a', b"}}},
            {3, {{"Unread", "Unread"}}},
            {4, {{"Slow", "Slow"}}},
        };
        for (int h = 0; h < fleet->size(); ++h) {
            std::string xml;
            const auto it = records.find(h);
            for (std::size_t i = 0; it != records.end() && i < it->second.size(); ++i) {
                const std::string urn = "urn:zo:00000000-0000-1000-8000-0000000" + std::to_string(h) + "000" +
                                        std::to_string(i);
                xml += record_xml(urn, "urn:product:p", 0, it->second[i].first);
                if (h != stopped && h != slow)
                    expected.insert({fleet->address(h), urn, it->second[i].second});
            }
            fleet->root(h).write_registry(xml, "urn:zo:00000000-0000-1000-8000-00000000000" + std::to_string(h));
        }
        for (int h = 0; h < fleet->size(); ++h)
            fleet->launch(h, h != stopped && h != slow);
        for (int h = 0; h < fleet->size(); ++h)
            fleet->wait_ready(h, h != stopped && h != slow);
        fleet->run_in(slow, trickling_server);
    }

    // zorbel inventory with `args`, by broadcast or, with `hosts`, asking those.
    RunResult inventory(std::vector<std::string> args, std::initializer_list<int> hosts = {})
    {
        args.insert(args.begin(), {installed("bin/zorbel"), "inventory", "-t", "2"});
        for (const int h : hosts)
            args.push_back(fleet->address(h));
        return fleet->client(args);
    }

    std::unique_ptr<Fleet> fleet;
    std::set<Expected> expected;
};

TEST_F(FleetInventory, EveryRecordOfEveryGoodHostArrivesOnceInEachFormat)
{
    // CSV.
    auto r = inventory({"--format", "csv"}, {good[0], good[1], good[2], good[3]});
    const auto rows = read_csv(r.out);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0][0], "address");
    std::multiset<Expected> seen;
    for (std::size_t i = 1; i < rows.size(); ++i)
        seen.insert({rows[i].at(0), rows[i].at(2), rows[i].at(3)});
    EXPECT_EQ(std::multiset<Expected>(expected.begin(), expected.end()), seen);

    // JSON, by broadcast: every host that answered, the failed ones with
    // their error; the HTML page written beside it.
    const std::string page = fleet->root(0).root() + "/fleet.html";
    r = inventory({"--format", "json", "--html", page});
    EXPECT_EQ(r.status, 1) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    ASSERT_EQ(doc["hosts"].size(), 6u) << r.out;
    seen.clear();
    for (const auto &host : doc["hosts"]) {
        const std::string address = host["address"];
        const bool failed = address == fleet->address(stopped) || address == fleet->address(slow);
        EXPECT_EQ(host["error"].is_null(), !failed) << address << ": " << host["error"];
        EXPECT_EQ(host["tcp_port"], 6481);
        for (const auto &rec : host["records"])
            seen.insert({address, rec["instance_urn"], rec["product_name"]});
    }
    EXPECT_EQ(std::set<Expected>(seen.begin(), seen.end()), expected);
    EXPECT_EQ(seen.size(), expected.size());
    EXPECT_NE(doc["hosts"][stopped]["error"].get<std::string>().find("Connection refused"), std::string::npos);
    EXPECT_NE(doc["hosts"][slow]["error"].get<std::string>().find("no complete answer in time"), std::string::npos);

    // The page as a browser renders it, in the background of the runs below.
    const bool have_browser = access("/usr/bin/chromium", X_OK) == 0;
    char profile[] = "/tmp/zorbel-chromium-XXXXXX";
    ASSERT_NE(mkdtemp(profile), nullptr);
    const std::string dom_file = std::string(profile) + ".dom";
    const UniqueFd dom_fd(open(dom_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    Child browser;
    if (have_browser)
        browser = fleet->spawn_in_client(
            {"/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             std::string("--user-data-dir=") + profile, "--dump-dom", "file://" + page},
            {.stdout_fd = dom_fd.get()});

    // JSON lines, a failed host reported on standard error.
    r = inventory({"--format", "jsonl"}, {good[0], good[1], good[2], good[3], stopped});
    seen.clear();
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        const auto rec = nlohmann::json::parse(line);
        seen.insert({rec["address"], rec["instance_urn"], rec["product_name"]});
    }
    EXPECT_EQ(std::multiset<Expected>(expected.begin(), expected.end()), seen);
    EXPECT_NE(r.err.find("zorbel: " + fleet->address(stopped) + ": "), std::string::npos) << r.err;

    r = inventory({"--format", "table"}, {good[0], good[1], good[2], good[3]});
    for (const auto &e : expected)
        EXPECT_EQ(std::regex_search(r.out, std::regex(e.urn)) ? 1 : 0, 1) << e.urn;

    // Compared with an earlier run, reading the good hosts only: host 0
    // gained its first record, lost one and had one changed, host 1 moved,
    // host 5 appeared, and the two unread hosts are gone.
    auto previous = doc;
    auto &records0 = previous["hosts"][0]["records"];
    const std::string first = records0[0]["instance_urn"], second = records0[1]["instance_urn"];
    records0.erase(0);
    records0[0]["product_version"] = "0.9";
    records0.push_back(records0[0]);
    records0.back()["instance_urn"] = "urn:zo:gone";
    previous["hosts"][1]["address"] = "10.213.99.99";
    previous["hosts"].erase(5);
    const std::string snapshot = fleet->root(0).root() + "/previous.json";
    write_file(snapshot, previous.dump());
    std::vector<std::string> compare{"--format", "json", "--compare", snapshot};
    for (const int h : good)
        compare.push_back(fleet->address(h));
    r = inventory(compare);
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, std::string> host_changes;  // address: change
    const auto changes = nlohmann::json::parse(r.out)["changes"];
    for (const auto &h : changes["hosts"]) {
        host_changes[h["address"]] = h["change"];
        if (h["address"] == fleet->address(0)) {
            EXPECT_EQ(h["added"].size(), 1u);
            EXPECT_EQ(h["removed"][0]["instance_urn"], "urn:zo:gone");
            EXPECT_EQ(h["changed"][0]["fields"]["product_version"], nlohmann::json({{"old", "0.9"}, {"new", "1.0"}}));
        }
    }
    EXPECT_EQ(host_changes, (std::map<std::string, std::string>{{fleet->address(0), "kept"},
                                                                {fleet->address(1), "kept"},
                                                                {fleet->address(stopped), "disappeared"},
                                                                {fleet->address(slow), "disappeared"},
                                                                {fleet->address(5), "appeared"}}));
    compare[1] = "csv";
    const std::string changes_page = fleet->root(0).root() + "/changes.html";
    compare.insert(compare.end(), {"--html", changes_page});
    r = inventory(compare);
    std::map<std::string, std::string> record_changes;  // instance URN: change
    for (const auto &row : read_csv(r.out))
        if (row.size() > 2 && !row.end()[-2].empty())
            record_changes[row.at(2)] = row.end()[-2];
    EXPECT_EQ(record_changes, (std::map<std::string, std::string>{{"instance_urn", "change"},
                                                                  {first, "added"},
                                                                  {second, "changed"},
                                                                  {"urn:zo:gone", "removed"},
                                                                  {"", "host disappeared"}}));
    EXPECT_NE(read_file(changes_page).find("<p id=\"compared\">7 changes since " + snapshot), std::string::npos);

    // The page as the browser rendered it in the background: one row per
    // record, and nothing in the values became markup.
    const int browser_status = have_browser ? browser.wait_status(90s) : 0;
    const std::string dom = read_file(dom_file);
    run({"/bin/rm", "-rf", profile, dom_file});
    if (!have_browser)
        GTEST_SKIP() << "chromium not installed";
    ASSERT_EQ(browser_status, 0);
    const auto chromium = [&](const std::vector<std::string> &args) {
        char profile[] = "/tmp/zorbel-chromium-XXXXXX";
        if (!mkdtemp(profile))
            return RunResult{-1, "", "mkdtemp failed"};
        std::vector<std::string> argv{"/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu",
                                      "--disable-quic", "--no-first-run", "--disable-background-networking",
                                      "--disable-component-update", "--disable-sync",
                                      std::string("--user-data-dir=") + profile};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto result = fleet->client(argv, 90s);
        run({"/bin/rm", "-rf", profile});
        return result;
    };
    const auto records = dom.substr(dom.find("<table id=\"records\">"));
    const auto body = records.substr(0, records.find("</table>"));
    std::ptrdiff_t rows_shown = 0;
    for (auto p = body.find("<tr>"); p != std::string::npos; p = body.find("<tr>", p + 1))
        ++rows_shown;
    EXPECT_EQ(rows_shown, static_cast<std::ptrdiff_t>(expected.size()) + 1) << body;  // and the heading
    EXPECT_EQ(dom.find("<script"), dom.rfind("<script"));  // the page's own, at its end
    EXPECT_EQ(dom.find("<img"), std::string::npos);
    EXPECT_NE(dom.find("&lt;script&gt;alert(1)&lt;/script&gt; Ünï &amp; 東京"), std::string::npos) << dom;
    EXPECT_NE(dom.find(">7 records on 4 hosts; 2 hosts could not be read.<"), std::string::npos);
    // Alpha 1.0 runs on hosts 0 and 1; one host row each, with its error.
    EXPECT_NE(dom.find("<td>Alpha</td><td>1.0</td><td class=\"number\">2</td><td class=\"number\">2</td><td>" +
                       fleet->address(0) + " " + fleet->address(1) + "</td>"),
              std::string::npos);
    EXPECT_NE(dom.find("<td class=\"number\">0</td><td>connect to " + fleet->address(stopped)), std::string::npos);

    // Framed in a 1280 px window: no horizontal scrolling, and the page's
    // script (allowed by its hash) filters and sorts.
    const std::string frame = fleet->root(0).root() + "/frame.html";
    write_file(frame, R"(<!DOCTYPE html><body style="margin:0"><iframe id="f" src="fleet.html"
        style="width:1280px;height:900px;border:0"></iframe><script>
      window.onload = () => {
        const d = document.getElementById("f").contentDocument, out = document.body.dataset;
        out.width = d.documentElement.scrollWidth;
        const records = d.getElementById("records"), input = records.previousElementSibling.firstChild;
        input.value = "delta";
        input.dispatchEvent(new Event("input"));
        out.shown = Array.from(records.tBodies[0].rows).filter((row) => !row.hidden).length;
        const sort = records.tHead.rows[0].cells[1].firstChild;
        sort.click();
        sort.click();  // descending
        out.first = records.tBodies[0].rows[0].cells[1].textContent;
      };
    </script>)");
    r = chromium({"--allow-file-access-from-files", "--dump-dom", "file://" + frame});
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("data-width=\"([0-9]+)\""))) << r.out << r.err;
    EXPECT_LE(std::stoi(m[1]), 1280);
    EXPECT_NE(r.out.find("data-shown=\"1\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("data-first=\"Gamma\""), std::string::npos) << r.out;
}

}  // namespace
}  // namespace zorbel::test
