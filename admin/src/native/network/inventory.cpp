#include "network/inventory.h"

#include "changes/inventory_changes.h"
#include "cli/cli_error.h"
#include "network/host_reader.h"
#include "output/html_page.h"
#include "network/inet.h"
#include "output/inventory_output.h"
#include "network/targets.h"

#include <libxml/parser.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_set>

namespace zorbel::cli {

namespace {

// Of the hosts beyond --max-hosts, how many are counted and how many named
// on standard error.
constexpr std::size_t counted_left_out = 1 << 16;
constexpr std::size_t shown_left_out = 16;

struct Found {
    sockaddr_in from;
    DiscoveryReply reply;
};

// The hosts that answered, one entry each whatever number of probes
// reached it, the first `max_hosts` of them; those beyond are counted up to
// a bound, so that they cost no more memory than the hosts kept.
struct Discovered {
    std::vector<Found> found;
    std::vector<in_addr_t> left_out;  // the first few hosts beyond max_hosts
    std::size_t left_out_count = 0;
    bool uncounted = false;  // more hosts answered than were counted
};

Discovered discover_hosts(const InventoryRequest &req)
{
    const ProbeTargets targets = expand_targets("inventory", req.targets, req.port);
    for (const auto &error : targets.errors)
        std::fprintf(stderr, "zorbel: %s\n", error.c_str());
    const auto max_hosts = static_cast<std::size_t>(req.max_hosts);
    Discovered d;
    std::unordered_set<in_addr_t> seen;
    probe_responders(targets, req.discovery_timeout, [&](const sockaddr_in &from, const DiscoveryReply &r) {
        if (seen.contains(from.sin_addr.s_addr))
            return;
        if (seen.size() >= max_hosts + counted_left_out) {
            d.uncounted = true;
            return;
        }
        seen.insert(from.sin_addr.s_addr);
        if (d.found.size() < max_hosts)
            d.found.push_back({from, r});
        else if (++d.left_out_count <= shown_left_out)
            d.left_out.push_back(from.sin_addr.s_addr);
    });
    return d;
}

// "N hosts beyond --max-hosts M not read: ADDRESS ..." on standard error.
void report_left_out(const Discovered &d, int max_hosts)
{
    std::string addresses;
    for (const in_addr_t a : d.left_out) {
        sockaddr_in s{};
        s.sin_addr.s_addr = a;
        addresses += " " + address_text(s);
    }
    std::fprintf(stderr, "zorbel: %s%zu host%s beyond --max-hosts %d not read:%s%s\n", d.uncounted ? "at least " : "",
                 d.left_out_count, d.left_out_count == 1 && !d.uncounted ? "" : "s", max_hosts, addresses.c_str(),
                 d.left_out_count > d.left_out.size() ? " ..." : "");
}

// "read N of M hosts" on standard error, rewritten in place; only when
// standard error is a terminal.
class Progress {
public:
    explicit Progress(std::size_t total) : total_(total), shown_(isatty(STDERR_FILENO) == 1) { step(); }
    ~Progress()
    {
        if (shown_)
            std::fputs("\r\x1b[K", stderr);
    }
    void step()
    {
        const std::lock_guard lock(mutex_);
        if (shown_)
            std::fprintf(stderr, "\rzorbel: read %zu of %zu hosts", done_++, total_);
    }

private:
    std::mutex mutex_;
    std::size_t done_ = 0;
    std::size_t total_;
    bool shown_;
};

std::vector<HostInventory> read_hosts(const std::vector<Found> &found, const InventoryRequest &req)
{
    std::vector<HostInventory> hosts(found.size());
    std::atomic<std::size_t> next{0};
    Progress progress(found.size());
    RunBudget budget(kept_answers_budget);
    xmlInitParser();  // once, before the threads parse
    const auto worker = [&] {
        for (std::size_t i; (i = next++) < found.size();) {
            hosts[i] = read_host(found[i].from, found[i].reply, req.host_timeout, budget);
            progress.step();
        }
    };
    std::vector<std::jthread> threads;
    const std::size_t count = std::min<std::size_t>(
        {found.size(), static_cast<std::size_t>(req.jobs), static_cast<std::size_t>(max_hosts_at_once)});
    for (std::size_t t = 1; t < count; ++t)
        threads.emplace_back(worker);
    worker();
    threads.clear();  // joins
    std::sort(hosts.begin(), hosts.end(), [](const HostInventory &a, const HostInventory &b) {
        return ntohl(a.address.sin_addr.s_addr) < ntohl(b.address.sin_addr.s_addr);
    });
    return hosts;
}

void write_file(const std::string &path, const std::string &content)
{
    const std::unique_ptr<FILE, int (*)(FILE *)> f(std::fopen(path.c_str(), "w"), std::fclose);
    if (!f || std::fwrite(content.data(), 1, content.size(), f.get()) != content.size() || std::fflush(f.get()) != 0)
        throw Failure(system_error(path));
}

}  // namespace

int inventory(const InventoryRequest &req)
{
    // The earlier document is read while the hosts are: most of that time
    // is spent waiting for them.  One that cannot be read stops the command
    // before anything is printed.
    std::future<std::vector<HostSnapshot>> previous;
    if (req.compare)
        previous = std::async(std::launch::async, read_snapshot, *req.compare);
    const Discovered discovered = discover_hosts(req);
    const auto hosts = read_hosts(discovered.found, req);
    std::optional<InventoryChanges> changes;
    if (previous.valid())
        changes = compare_inventories(*req.compare, previous.get(), hosts);
    const InventoryChanges *shown = changes ? &*changes : nullptr;
    const Format format = req.format.value_or(isatty(STDOUT_FILENO) ? Format::table : Format::jsonl);
    const std::string text = inventory_text(hosts, format, shown);
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (req.html)
        write_file(*req.html, html_page(hosts, shown));

    const bool all_read = std::none_of(hosts.begin(), hosts.end(), [](const auto &h) { return h.error; });
    if (format != Format::json)
        for (const auto &h : hosts)
            if (h.error)
                std::fprintf(stderr, "zorbel: %s: %s\n", address_text(h.address).c_str(), h.error->c_str());
    if (discovered.left_out_count > 0)
        report_left_out(discovered, req.max_hosts);
    if (hosts.empty())
        throw Failure("no reply");
    return all_read && discovered.left_out_count == 0 ? exit_ok : exit_failure;
}

}  // namespace zorbel::cli
