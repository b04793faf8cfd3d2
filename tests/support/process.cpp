#include "process.h"

#include "loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <thread>
#include <utility>

namespace zorbel::test {

namespace {

int remaining_ms(std::chrono::steady_clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

}  // namespace

Child Child::spawn(const std::vector<std::string> &argv, const SpawnOptions &opts)
{
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int devnull = open("/dev/null", O_RDWR);
        dup2(opts.stdin_fd >= 0 ? opts.stdin_fd : devnull, 0);
        dup2(opts.stdout_fd >= 0 ? opts.stdout_fd : devnull, 1);
        int err = opts.stderr_fd >= 0 ? opts.stderr_fd : devnull;
        if (opts.stderr_fd < 0 && !opts.stderr_path.empty())
            err = open(opts.stderr_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(err >= 0 ? err : devnull, 2);
        if (opts.prepare && !opts.prepare())
            _exit(126);
        for (int fd = 3; fd < 1024; ++fd)
            if (std::find(opts.keep_fds.begin(), opts.keep_fds.end(), fd) == opts.keep_fds.end())
                close(fd);
        execv(args[0], args.data());
        _exit(127);
    }
    Child c;
    c.pid_ = pid;
    return c;
}

Child Child::fork_call(const std::function<int()> &body)
{
    fflush(nullptr);  // nothing buffered before the fork is written twice
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        int status = 255;
        try {
            status = body();
        } catch (...) {
        }
        fflush(nullptr);
        _exit(status);
    }
    Child c;
    c.pid_ = pid;
    return c;
}

Child::Child(Child &&other) noexcept : pid_(std::exchange(other.pid_, -1)) {}

Child &Child::operator=(Child &&other) noexcept
{
    if (this != &other) {
        stop(SIGKILL);
        pid_ = std::exchange(other.pid_, -1);
    }
    return *this;
}

Child::~Child() { stop(SIGKILL); }

std::optional<int> Child::wait(std::chrono::milliseconds timeout)
{
    if (pid_ < 0)
        return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno == ECHILD)) {
            pid_ = -1;
            return status;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int Child::wait_exit_code(std::chrono::milliseconds timeout)
{
    const auto st = wait(timeout);
    if (!st || !WIFEXITED(*st))
        return -1;
    return WEXITSTATUS(*st);
}

int Child::wait_status(std::chrono::milliseconds timeout)
{
    auto st = wait(timeout);
    if (!st) {
        kill(pid_, SIGKILL);
        st = wait(5s);
    }
    if (!st)
        return -1;
    return WIFEXITED(*st) ? WEXITSTATUS(*st) : 128 + WTERMSIG(*st);
}

bool Child::running()
{
    if (pid_ < 0)
        return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

void Child::stop(int sig, std::chrono::milliseconds timeout)
{
    if (pid_ < 0)
        return;
    kill(pid_, sig);
    if (!wait(timeout)) {
        kill(pid_, SIGKILL);
        wait(5s);
    }
}

SpawnOptions logging_to(const std::string &stderr_path, int stdout_fd)
{
    return {.stdout_fd = stdout_fd, .stderr_path = stderr_path};
}

int free_port(int type)
{
    const int fd = socket(AF_INET, type, 0);
    sockaddr_in a = loopback_address(0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
        throw std::runtime_error("free_port: bind failed");
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

int connect_tcp(int port, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = loopback_address(port);
        if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0)
            return fd;
        close(fd);
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool wait_serving(int type, int port, std::chrono::milliseconds timeout)
{
    return eventually(
        [&] {
            const int fd = type == SOCK_STREAM ? connect_tcp(port, 0ms) : bound_udp_socket(port);
            if (fd >= 0)
                close(fd);
            return type == SOCK_STREAM ? fd >= 0 : fd < 0;
        },
        timeout);
}

bool wait_answering(int port, std::chrono::milliseconds timeout)
{
    int attempt = 0;
    return eventually([&] { return !udp_exchange(port, "ready?" + std::to_string(attempt++), 50ms).empty(); },
                      timeout);
}

std::string tcp_exchange(int port, const std::string &request, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const int fd = connect_tcp(port, timeout);
    if (fd < 0)
        return {};
    size_t off = 0;
    while (off < request.size()) {
        const ssize_t n = send(fd, request.data() + off, request.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        off += static_cast<size_t>(n);
    }
    std::string out;
    char buf[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, remaining_ms(deadline)) <= 0)
            break;
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return out;
}

std::vector<std::string> udp_exchange(int port, const std::string &probe, std::chrono::milliseconds wait)
{
    std::vector<std::string> replies;
    const int fd = bound_udp_socket();
    sockaddr_in to = loopback_address(port);
    sendto(fd, probe.data(), probe.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::vector<char> buf(65536);
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, remaining_ms(deadline)) <= 0)
            break;
        const ssize_t n = recv(fd, buf.data(), buf.size(), 0);
        if (n < 0)
            break;
        replies.emplace_back(buf.data(), static_cast<size_t>(n));
    }
    close(fd);
    return replies;
}

}  // namespace zorbel::test
