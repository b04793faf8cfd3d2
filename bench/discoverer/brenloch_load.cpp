// Load driver for brenloch: reply latency for distinct probes sent one
// after another, and loss at fixed probe rates, each measured against a
// trivial UDP echo on loopback in the same run.
//
//   brenloch_load BRENLOCH [--probes N] [--rates R1,R2,...] [--seconds S]
#include "bench_environment.h"
#include "loopback.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

using zorbel::test::loopback_address;

// A UDP socket on 127.0.0.1 and the port it got.
int loopback_socket(int &port)
{
    const int fd = zorbel::test::bound_udp_socket();
    port = zorbel::test::local_port(fd);
    if (fd < 0 || port == 0) {
        perror("loopback socket");
        exit(2);
    }
    return fd;
}

// The floor: sends every datagram straight back.
class Echo {
public:
    Echo() : fd_(loopback_socket(port_)), thread_([this] { run(); }) {}
    ~Echo()
    {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    int port() const { return port_; }

private:
    void run()
    {
        char buf[2048];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &len);
            if (n >= 0)
                sendto(fd_, buf, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr *>(&from), len);
        }
    }
    int port_ = 0;
    int fd_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// brenloch in the foreground on a free port, with a fresh registry.
class Responder {
public:
    explicit Responder(const std::string &binary)
    {
        root_ = std::filesystem::temp_directory_path() / ("brenloch-load-" + std::to_string(getpid()));
        std::filesystem::create_directories(root_ / "var/sadm/zorbel/registry");
        const int probe = loopback_socket(port_);
        close(probe);
        const std::string port = std::to_string(port_), root = root_.string();
        const char *argv[] = {binary.c_str(), "-f", "-r", root.c_str(), "-u", port.c_str(), nullptr};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);  // trace lines
        if (posix_spawn(&pid_, binary.c_str(), &fa, nullptr, const_cast<char **>(argv), environ) != 0) {
            perror("posix_spawn");
            exit(2);
        }
        posix_spawn_file_actions_destroy(&fa);
    }
    ~Responder()
    {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        std::filesystem::remove_all(root_);
    }
    int port() const { return port_; }

private:
    std::filesystem::path root_;
    int port_ = 0;
    pid_t pid_ = -1;
};

// Every probe text differs, so brenloch's cache never hides one.
std::string next_probe()
{
    static unsigned long n = 0;
    return "probe-" + std::to_string(++n);
}

bool send_probe(int fd, int port)
{
    const std::string text = next_probe();
    sockaddr_in to = loopback_address(port);
    return sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) >= 0;
}

// Waits up to `timeout` for one datagram; true when it came.
bool await_reply(int fd, std::chrono::nanoseconds timeout)
{
    const timespec ts{static_cast<time_t>(timeout.count() / 1000000000), static_cast<long>(timeout.count() % 1000000000)};
    pollfd p{fd, POLLIN, 0};
    if (ppoll(&p, 1, &ts, nullptr) <= 0)
        return false;
    char buf[512];
    return recv(fd, buf, sizeof buf, 0) >= 0;
}

struct Latency {
    double median_us, p99_us, max_us;
    int lost;
};

Latency summarise(std::vector<double> us, int lost)
{
    if (us.empty())
        return {0, 0, 0, lost};
    std::sort(us.begin(), us.end());
    const auto at = [&](double q) { return us[std::min(us.size() - 1, static_cast<size_t>(q * us.size()))]; };
    return {at(0.5), at(0.99), us.back(), lost};
}

// Probes the echo and brenloch in turn, one probe at a time, so that both
// see the same background load.
std::pair<Latency, Latency> measure_latency(int echo_port, int brenloch_port, int probes)
{
    int own = 0;
    const int fd = loopback_socket(own);
    std::vector<double> us[2];
    int lost[2] = {0, 0};
    for (int i = 0; i < 2 * probes; ++i) {
        const int target = i % 2;
        const auto start = Clock::now();
        if (send_probe(fd, target == 0 ? echo_port : brenloch_port) && await_reply(fd, 100ms))
            us[target].push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        else
            ++lost[target];
    }
    close(fd);
    return {summarise(us[0], lost[0]), summarise(us[1], lost[1])};
}

// Sends probes at `rate` per second for `seconds`, collecting replies as
// they come, then waits one more second for late ones.  Returns the number
// of probes without a reply.
int measure_loss(int port, int rate, double seconds)
{
    int own = 0;
    const int fd = loopback_socket(own);
    const int total = std::max(1, static_cast<int>(rate * seconds));
    const auto gap = std::chrono::nanoseconds(1000000000LL / rate);
    const auto start = Clock::now();
    int sent = 0, answered = 0;
    while (sent < total) {
        const auto due = start + sent * gap;
        const auto now = Clock::now();
        if (now >= due) {
            sent += send_probe(fd, port) ? 1 : 0;
            continue;
        }
        answered += await_reply(fd, due - now) ? 1 : 0;
    }
    const auto drain_end = Clock::now() + 1s;
    while (answered < sent && Clock::now() < drain_end)
        answered += await_reply(fd, drain_end - Clock::now()) ? 1 : 0;
    close(fd);
    return total - answered;
}

// Ready once it answers a probe.
bool wait_ready(int port)
{
    int own = 0;
    const int fd = loopback_socket(own);
    bool up = false;
    for (int i = 0; i < 100 && !up; ++i)
        up = send_probe(fd, port) && await_reply(fd, 50ms);
    close(fd);
    return up;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s BRENLOCH [--probes N] [--rates R1,R2,...] [--seconds S]\n", argv[0]);
        return 2;
    }
    int probes = 2000;
    double seconds = 2.0;
    std::vector<int> rates = {250, 500, 1000, 1500, 2000, 3000};
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string opt = argv[i], val = argv[i + 1];
        if (opt == "--probes") {
            probes = std::stoi(val);
        } else if (opt == "--seconds") {
            seconds = std::stod(val);
        } else if (opt == "--rates") {
            rates.clear();
            std::stringstream list(val);
            for (std::string r; std::getline(list, r, ',');)
                rates.push_back(std::stoi(r));
        }
    }

    Echo echo;
    Responder brenloch(argv[1]);
    if (!wait_ready(brenloch.port())) {
        fprintf(stderr, "brenloch did not answer\n");
        return 1;
    }

    printf("%s\n", zorbel::bench::bench_environment().c_str());
    printf("latency, %d distinct probes one after another (microseconds)\n", probes);
    printf("%-10s %10s %10s %10s %6s\n", "target", "median", "p99", "max", "lost");
    const auto [floor, lat] = measure_latency(echo.port(), brenloch.port(), probes);
    printf("%-10s %10.1f %10.1f %10.1f %6d\n", "udp echo", floor.median_us, floor.p99_us, floor.max_us, floor.lost);
    printf("%-10s %10.1f %10.1f %10.1f %6d\n", "brenloch", lat.median_us, lat.p99_us, lat.max_us, lat.lost);
    printf("brenloch p99 over the echo's: %+.1f us (%.1fx)\n\n", lat.p99_us - floor.p99_us,
           floor.p99_us > 0 ? lat.p99_us / floor.p99_us : 0.0);

    printf("loss at a fixed rate, %.1f s per rate\n", seconds);
    printf("%-10s %10s %10s\n", "probes/s", "echo lost", "brenloch lost");
    int best = 0;
    bool lossless = true;
    for (const int rate : rates) {
        const int echo_lost = measure_loss(echo.port(), rate, seconds);
        const int lost = measure_loss(brenloch.port(), rate, seconds);
        printf("%-10d %10d %10d\n", rate, echo_lost, lost);
        lossless = lossless && lost == 0;
        if (lossless)
            best = rate;
    }
    printf("highest rate without loss: %d probes/s\n", best);
    return 0;
}
