// Child processes and loopback sockets for tests that drive the real
// binaries.  Every wait is bounded in time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zorbel::test {

using namespace std::chrono_literals;

struct SpawnOptions {
    int stdin_fd = -1;             // dup'ed onto 0 when >= 0 (else /dev/null)
    int stdout_fd = -1;            // dup'ed onto 1 when >= 0 (else /dev/null)
    std::string stderr_path{};     // standard error goes to this file when set (else /dev/null)
    int stderr_fd = -1;            // dup'ed onto 2 when >= 0 (before stderr_path)
    std::vector<int> keep_fds{};   // other descriptors left open in the child
    // Runs in the child once its standard descriptors are set, before the
    // program starts; when it returns false the child exits with status 126.
    std::function<bool()> prepare{};
};

// Options for a program that runs on: standard error appended to
// `stderr_path`, standard output to `stdout_fd` (when >= 0).
SpawnOptions logging_to(const std::string &stderr_path, int stdout_fd = -1);

// A started program, killed (SIGKILL) and reaped on destruction unless it
// has already been waited for.
class Child {
public:
    static Child spawn(const std::vector<std::string> &argv, const SpawnOptions &opts = {});
    // Runs `body` in a forked copy of the calling process, which then exits
    // with the status `body` returns (255 if it throws).  The child shares
    // standard output and error; it must not use gtest assertions.
    static Child fork_call(const std::function<int()> &body);
    Child() = default;
    Child(Child &&other) noexcept;
    Child &operator=(Child &&other) noexcept;
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    ~Child();

    pid_t pid() const { return pid_; }
    // Waits for the exit; the raw wait status, or nullopt on time-out.
    std::optional<int> wait(std::chrono::milliseconds timeout = 10s);
    // Exit status when the child exits normally within the time-out, else -1.
    int wait_exit_code(std::chrono::milliseconds timeout = 10s);
    // The exit status, or 128 plus the signal that ended the child; a child
    // still running after the time-out is killed first.
    int wait_status(std::chrono::milliseconds timeout = 10s);
    bool running();
    // Sends `sig`, then waits (and SIGKILLs after the time-out).
    void stop(int sig = 15, std::chrono::milliseconds timeout = 5s);

private:
    pid_t pid_ = -1;
};

// A port that was free on 127.0.0.1 a moment ago (type: SOCK_STREAM or SOCK_DGRAM).
int free_port(int type);

// Connects to 127.0.0.1:port, retrying until it succeeds or the time-out passes; -1 on failure.
int connect_tcp(int port, std::chrono::milliseconds timeout = 5s);

// Waits until a daemon serves `port` on 127.0.0.1: for SOCK_STREAM until
// a connection is accepted, for SOCK_DGRAM until the port can no longer be
// bound (a datagram daemon may bind the wildcard address).
bool wait_serving(int type, int port, std::chrono::milliseconds timeout = 5s);

// Waits until a datagram daemon on 127.0.0.1:port answers a probe; every
// attempt sends a text of its own, as a daemon may ignore a text it has seen.
bool wait_answering(int port, std::chrono::milliseconds timeout = 5s);

// Sends `request` on a fresh connection and reads until the peer closes
// (or the time-out passes).
std::string tcp_exchange(int port, const std::string &request, std::chrono::milliseconds timeout = 5s);

// Sends one datagram from a fresh socket bound to 127.0.0.1 and returns the
// replies that arrive within `wait`.
std::vector<std::string> udp_exchange(int port, const std::string &probe,
                                      std::chrono::milliseconds wait = 500ms);

// Polls `pred` every 10 ms until it holds or the time-out passes.
template <class Pred>
bool eventually(Pred pred, std::chrono::milliseconds timeout = 5s);

}  // namespace zorbel::test

#include "process_impl.h"
