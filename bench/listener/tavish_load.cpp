// Load driver for an HTTP/1.0 responder on loopback: N clients, each
// sending one request per connection and reading the response to the
// close, as fast as they can for a fixed time.  Prints requests per second
// and the median and 99th-percentile time of a complete response.
//
//   tavish_load PORT PATH [--clients N] [--seconds S] [--expect BYTES]
//               [--idle N] [--stuck PATH]
//   tavish_load PORT - --attack ADDRESS [--rate N] [--seconds S]
//   tavish_load PORT PATH --slow-readers N [--seconds S]
//
// --expect: the response must be exactly this many bytes (else it counts
// as an error), so a server that answers short is not measured as fast.
// --idle: N connections that send nothing stay open during the run.
// --stuck: one connection asks for PATH and never reads its answer.
// --attack: instead of measuring, opens connections from ADDRESS (another
// loopback address) that send nothing, N a second (0, the default: as fast
// as it can), keeping the last 1000 open.
// --slow-readers: instead of measuring, N clients ask for PATH, read it
// slowly (4 KiB per client every 10 ms at most) and ask again.
#include "loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int port = 0;
    std::string path;
    int clients = 1;
    double seconds = 2.0;
    long expect = -1;
    int idle = 0;
    std::string stuck;
    std::string attack;  // source address of the flood
    double rate = 0;     // connections a second; 0: as fast as possible
    int slow_readers = 0;
};

struct ClientResult {
    std::vector<double> latencies_ms;
    long errors = 0;
};

// A connection to 127.0.0.1:port (with a small receive buffer when
// `small_buffer`), or -1.
int connect_to(int port, bool small_buffer = false)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (small_buffer) {
        const int size = 4096;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    sockaddr_in a = zorbel::test::loopback_address(port);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// One request on a fresh connection; the number of bytes received, or -1
// (also when nothing arrives for 10 s).
long one_request(int port, const std::string &request)
{
    const int fd = connect_to(port);
    if (fd < 0)
        return -1;
    const timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    long got = -1;
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        got = 0;
        bool http = true;
        char buf[65536];
        ssize_t n;
        while ((n = recv(fd, buf, sizeof buf, 0)) > 0) {
            if (got == 0)
                http = n >= 7 && std::strncmp(buf, "HTTP/1.", 7) == 0;
            got += n;
        }
        if (n < 0 || !http)
            got = -1;
    }
    close(fd);
    return got;
}

void client(const Options &o, Clock::time_point end, ClientResult &r)
{
    const std::string request = "GET " + o.path + " HTTP/1.0\r\n\r\n";
    while (Clock::now() < end) {
        const auto start = Clock::now();
        const long got = one_request(o.port, request);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (got <= 0 || (o.expect >= 0 && got != o.expect))
            ++r.errors;
        else
            r.latencies_ms.push_back(ms);
    }
}

double percentile(std::vector<double> &v, double p)
{
    if (v.empty())
        return 0;
    const size_t k = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
    std::nth_element(v.begin(), v.begin() + static_cast<long>(k), v.end());
    return v[k];
}

Options parse(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s PORT PATH [--clients N] [--seconds S] [--expect BYTES]\n", argv[0]);
        exit(2);
    }
    Options o;
    o.port = atoi(argv[1]);
    o.path = argv[2];
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string k = argv[i];
        if (k == "--clients")
            o.clients = std::max(1, atoi(argv[i + 1]));
        else if (k == "--seconds")
            o.seconds = atof(argv[i + 1]);
        else if (k == "--expect")
            o.expect = atol(argv[i + 1]);
        else if (k == "--idle")
            o.idle = std::max(0, atoi(argv[i + 1]));
        else if (k == "--stuck")
            o.stuck = argv[i + 1];
        else if (k == "--attack")
            o.attack = argv[i + 1];
        else if (k == "--rate")
            o.rate = std::max(0.0, atof(argv[i + 1]));
        else if (k == "--slow-readers")
            o.slow_readers = std::max(0, atoi(argv[i + 1]));
    }
    return o;
}

// Opens connections from o.attack that never send, at o.rate a second (or
// as fast as it can), for o.seconds.
int attack(const Options &o)
{
    sockaddr_in from{};
    from.sin_family = AF_INET;
    if (inet_pton(AF_INET, o.attack.c_str(), &from.sin_addr) != 1) {
        fprintf(stderr, "not an IPv4 address: %s\n", o.attack.c_str());
        return 2;
    }
    const sockaddr_in to = zorbel::test::loopback_address(o.port);
    std::deque<int> held;
    long opened = 0, failed = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
    for (auto now = start; now < end; now = Clock::now()) {
        if (o.rate > 0) {
            const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(static_cast<double>(opened + failed) / o.rate));
            if (due > now)
                std::this_thread::sleep_until(std::min(due, end));
        }
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const linger reset{1, 0};  // closed with a reset: no port left waiting after the close
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr *>(&from), sizeof from) == 0 &&
            (connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0 || errno == EINPROGRESS)) {
            held.push_back(fd);
            ++opened;
        } else {
            if (fd >= 0)
                close(fd);
            ++failed;
        }
        if (held.size() > 1000) {
            close(held.front());
            held.pop_front();
        }
    }
    for (const int fd : held)
        close(fd);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    printf("attacker from %s: %ld connections (%.0f a second), %ld failed\n", o.attack.c_str(), opened,
           static_cast<double>(opened) / elapsed, failed);
    return 0;
}

// o.slow_readers clients that ask for o.path, read it slowly and ask again.
int read_slowly(const Options &o)
{
    const std::string request = "GET " + o.path + " HTTP/1.0\r\n\r\n";
    auto ask = [&] {
        const int fd = connect_to(o.port, true);
        if (fd >= 0)
            send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        return fd;
    };
    std::vector<pollfd> readers;
    for (int i = 0; i < o.slow_readers; ++i)
        readers.push_back({ask(), POLLIN, 0});
    long lists = 0;
    char buf[4096];
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
    while (Clock::now() < end) {
        poll(readers.data(), readers.size(), 10);
        for (pollfd &p : readers) {
            if (p.fd >= 0 && !(p.revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = p.fd < 0 ? 0 : recv(p.fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0 || (n < 0 && errno == EAGAIN))
                continue;
            lists += n == 0 && p.fd >= 0;
            if (p.fd >= 0)
                close(p.fd);
            p.fd = ask();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (const pollfd &p : readers)
        if (p.fd >= 0)
            close(p.fd);
    printf("%d slow readers of %s: %ld answers read whole\n", o.slow_readers, o.path.c_str(), lists);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    const Options o = parse(argc, argv);
    if (!o.attack.empty())
        return attack(o);
    if (o.slow_readers > 0)
        return read_slowly(o);
    // Warm up: one request, also to learn the response size when none is given.
    const long first = one_request(o.port, "GET " + o.path + " HTTP/1.0\r\n\r\n");
    if (first <= 0) {
        fprintf(stderr, "no response from port %d for %s\n", o.port, o.path.c_str());
        return 1;
    }
    Options run = o;
    if (run.expect < 0)
        run.expect = first;

    std::vector<int> held;
    for (int i = 0; i < run.idle; ++i)
        held.push_back(connect_to(run.port));
    if (!run.stuck.empty()) {
        const int fd = connect_to(run.port, true);
        const std::string request = "GET " + run.stuck + " HTTP/1.0\r\n\r\n";
        if (fd >= 0)
            send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        held.push_back(fd);
    }
    if (std::count(held.begin(), held.end(), -1) > 0) {
        fprintf(stderr, "could not open the idle and stuck connections\n");
        return 1;
    }

    std::vector<ClientResult> results(static_cast<size_t>(run.clients));
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(run.seconds));
    for (auto &r : results)
        threads.emplace_back(client, std::cref(run), end, std::ref(r));
    for (auto &t : threads)
        t.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    for (const int fd : held)
        close(fd);

    std::vector<double> all;
    long errors = 0;
    for (auto &r : results) {
        all.insert(all.end(), r.latencies_ms.begin(), r.latencies_ms.end());
        errors += r.errors;
    }
    const size_t done = all.size();
    const double median = percentile(all, 0.5);
    const double p99 = percentile(all, 0.99);
    printf("%-28s clients %d  bytes %6ld  req/s %8.0f  median %7.3f ms  p99 %7.3f ms  errors %ld  answered %.1f%%\n",
           o.path.c_str(), run.clients, run.expect, static_cast<double>(done) / elapsed, median, p99, errors,
           done + errors > 0 ? 100.0 * static_cast<double>(done) / static_cast<double>(done + errors) : 0.0);
    return errors == 0 && done > 0 ? 0 : 1;
}
