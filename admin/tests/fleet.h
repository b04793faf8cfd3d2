// A simulated fleet for tests and benchmarks: network namespaces joined by
// a bridge that lives in a namespace of its own, each host running the
// installed tavish and brenloch on the standard ports below a registry root
// of its own, and one client namespace to run zorbel in.  Every address
// exists only inside these namespaces.  Everything is removed on
// destruction, also when a test fails.
#pragma once

#include "cli_run.h"
#include "temp_root.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zorbel::test {

class Fleet {
public:
    // Why no fleet can be made here (root, the ip command and a private
    // mount namespace are needed); empty when one can.
    static std::string unavailable();

    // Namespaces and addresses for `hosts` hosts (10.213.X.Y/16, the client
    // first); nothing is started yet.
    explicit Fleet(int hosts);
    ~Fleet();
    Fleet(const Fleet &) = delete;
    Fleet &operator=(const Fleet &) = delete;

    int size() const { return static_cast<int>(hosts_.size()); }
    const std::string &address(int host) const { return hosts_.at(host).address; }
    TempRoot &root(int host) { return *hosts_.at(host).root; }

    // Starts the responders of `host` (tavish only when `with_tavish`) and
    // waits until they answer from the client namespace.
    void start(int host, bool with_tavish = true);
    // The two halves of start, so that several hosts start at once.
    void launch(int host, bool with_tavish = true);
    void wait_ready(int host, bool with_tavish = true);
    // Runs `body` in a forked process inside the host's namespace.
    void run_in(int host, const std::function<int()> &body);
    // Runs argv in the client namespace.
    RunResult client(const std::vector<std::string> &argv, std::chrono::milliseconds timeout = 60s);
    // Starts argv in the client namespace, to run beside other work.
    Child spawn_in_client(const std::vector<std::string> &argv, const SpawnOptions &opts);

private:
    struct Host {
        std::string ns;
        std::string address;
        std::unique_ptr<TempRoot> root;
        std::vector<Child> processes;
    };
    std::string ip_;
    std::string bridge_ns_;
    Host client_;
    std::vector<Host> hosts_;
    std::vector<std::string> namespaces_;
    bool netns_dir_mounted_ = false;  // /run/netns was a mount point before

    void build(int hosts);
    void remove_all();
    void ip(const std::vector<std::string> &args);
    void join(Host &h, const std::string &address, int index);
    Child spawn_in(const Host &h, const std::vector<std::string> &argv, const std::string &log);
    // argv run through "ip netns exec" in namespace `ns`.
    std::vector<std::string> in_namespace(const std::string &ns, const std::vector<std::string> &argv) const;
};

}  // namespace zorbel::test
