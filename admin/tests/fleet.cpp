#include "fleet.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <stdexcept>

#include "isolation.h"

namespace zorbel::test {

namespace {

const char *ip_command()
{
    for (const char *p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip"})
        if (access(p, X_OK) == 0)
            return p;
    return nullptr;
}

std::string host_address(int index)
{
    // Index 0 is the client; 250 addresses to each /24 of the /16.
    const int n = index + 1;
    return "10.213." + std::to_string(n / 250) + "." + std::to_string(n % 250 + 1);
}

}  // namespace

bool Fleet::available()
{
    return have_root() && ip_command() != nullptr;
}

Fleet::Fleet(int hosts) : ip_(ip_command() ? ip_command() : "ip")
{
    try {
        build(hosts);
    } catch (...) {
        remove_all();
        throw;
    }
}

void Fleet::build(int hosts)
{
    const std::string prefix = "zfleet" + std::to_string(getpid()) + "-";
    bridge_ns_ = prefix + "br";
    ip({"netns", "add", bridge_ns_});
    namespaces_.push_back(bridge_ns_);
    ip({"-n", bridge_ns_, "link", "add", "br0", "type", "bridge"});
    ip({"-n", bridge_ns_, "link", "set", "br0", "up"});

    client_.ns = prefix + "c";
    join(client_, host_address(0), 0);
    // The limited broadcast leaves through the bridge.
    ip({"-n", client_.ns, "route", "add", "default", "dev", "eth0"});
    for (int i = 0; i < hosts; ++i) {
        Host h;
        h.ns = prefix + std::to_string(i);
        h.root = std::make_unique<TempRoot>();
        join(h, host_address(i + 1), i + 1);
        hosts_.push_back(std::move(h));
    }
}

Fleet::~Fleet()
{
    remove_all();
}

void Fleet::remove_all()
{
    for (auto &h : hosts_)
        h.processes.clear();  // killed and reaped before their namespaces go
    for (auto it = namespaces_.rbegin(); it != namespaces_.rend(); ++it)
        run({ip_, "netns", "del", *it});
    namespaces_.clear();
}

void Fleet::ip(const std::vector<std::string> &args)
{
    std::vector<std::string> argv{ip_};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto r = run(argv);
    if (r.status != 0)
        throw std::runtime_error("ip failed: " + r.err);
}

void Fleet::join(Host &h, const std::string &address, int index)
{
    h.address = address;
    ip({"netns", "add", h.ns});
    namespaces_.push_back(h.ns);
    const std::string port = "v" + std::to_string(index);
    ip({"-n", h.ns, "link", "add", "eth0", "type", "veth", "peer", "name", port, "netns", bridge_ns_});
    ip({"-n", bridge_ns_, "link", "set", port, "master", "br0", "up"});
    ip({"-n", h.ns, "addr", "add", address + "/16", "brd", "+", "dev", "eth0"});
    ip({"-n", h.ns, "link", "set", "eth0", "up"});
    ip({"-n", h.ns, "link", "set", "lo", "up"});
}

Child Fleet::spawn_in(const Host &h, const std::vector<std::string> &argv, const std::string &log)
{
    std::vector<std::string> full{ip_, "netns", "exec", h.ns};
    full.insert(full.end(), argv.begin(), argv.end());
    return Child::spawn(full, logging_to(log));
}

void Fleet::start(int host, bool with_tavish)
{
    Host &h = hosts_.at(host);
    const std::string &root = h.root->root();
    if (with_tavish)
        h.processes.push_back(spawn_in(h, {installed("sbin/tavish"), "-f", "-r", root}, root + "/tavish.err"));
    h.processes.push_back(spawn_in(h, {installed("sbin/brenloch"), "-f", "-r", root}, root + "/brenloch.err"));
    const auto zorbel_in_client = [&](std::vector<std::string> args) {
        args.insert(args.begin(), installed("bin/zorbel"));
        return client(args, 5s).status == 0;
    };
    if (!eventually([&] { return zorbel_in_client({"discover", "-t", "0.2", h.address}); }, 10s))
        throw std::runtime_error("brenloch in " + h.ns + " does not answer");
    if (with_tavish &&
        !eventually([&] { return zorbel_in_client({"query", "-t", "1", h.address, "version"}); }, 10s))
        throw std::runtime_error("tavish in " + h.ns + " does not answer");
}

void Fleet::run_in(int host, const std::function<int()> &body)
{
    const std::string path = "/run/netns/" + hosts_.at(host).ns;
    hosts_.at(host).processes.push_back(Child::fork_call([path, body] {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || setns(fd, CLONE_NEWNET) != 0)
            return 125;
        close(fd);
        return body();
    }));
}

RunResult Fleet::client(const std::vector<std::string> &argv, std::chrono::milliseconds timeout)
{
    std::vector<std::string> full{ip_, "netns", "exec", client_.ns};
    full.insert(full.end(), argv.begin(), argv.end());
    return run(full, timeout);
}

}  // namespace zorbel::test
