#include "fleet.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
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

// `ip netns add` makes /run/netns a mount point of its own when it is not
// one, and nothing undoes that.
constexpr const char *netns_dir = "/run/netns";

bool is_mount_point(const char *path)
{
    struct statx st {};
    return statx(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &st) == 0 &&
           (st.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 && (st.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

std::string host_address(int index)
{
    // Index 0 is the client; 250 addresses to each /24 of the /16.
    const int n = index + 1;
    return "10.213." + std::to_string(n / 250) + "." + std::to_string(n % 250 + 1);
}

}  // namespace

std::string Fleet::unavailable()
{
    if (ip_command() == nullptr)
        return "needs the ip command";
    // ip enters a namespace with its mounts made slaves of the host's.
    return private_mounts_unavailable();
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
    netns_dir_mounted_ = is_mount_point(netns_dir);
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
    // Fails, and leaves it, while another fleet's namespaces are mounted there.
    if (!netns_dir_mounted_)
        umount2(netns_dir, UMOUNT_NOFOLLOW);
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

std::vector<std::string> Fleet::in_namespace(const std::string &ns, const std::vector<std::string> &argv) const
{
    std::vector<std::string> full{ip_, "netns", "exec", ns};
    full.insert(full.end(), argv.begin(), argv.end());
    return full;
}

Child Fleet::spawn_in(const Host &h, const std::vector<std::string> &argv, const std::string &log)
{
    return Child::spawn(in_namespace(h.ns, argv), logging_to(log));
}

void Fleet::start(int host, bool with_tavish)
{
    launch(host, with_tavish);
    wait_ready(host, with_tavish);
}

void Fleet::launch(int host, bool with_tavish)
{
    Host &h = hosts_.at(host);
    const std::string &root = h.root->root();
    if (with_tavish)
        h.processes.push_back(spawn_in(h, {installed("sbin/tavish"), "-f", "-r", root}, root + "/tavish.err"));
    h.processes.push_back(spawn_in(h, {installed("sbin/brenloch"), "-f", "-r", root}, root + "/brenloch.err"));
}

void Fleet::wait_ready(int host, bool with_tavish)
{
    const Host &h = hosts_.at(host);
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
    return run(in_namespace(client_.ns, argv), timeout);
}

Child Fleet::spawn_in_client(const std::vector<std::string> &argv, const SpawnOptions &opts)
{
    return Child::spawn(in_namespace(client_.ns, argv), opts);
}

}  // namespace zorbel::test
