// The standalone service: one epoll loop serving many connections at once.
#include "event_loop.h"

#include "connection.h"
#include "globals.h"
#include "service_loop.h"
#include "zorbel/support/deadline.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>
#include <unordered_map>

namespace zorbel::tavish {
namespace {

constexpr size_t max_connections = 512;
// Connections accepted before the loop reads and sends again.
constexpr int accept_batch = 32;
// Out of descriptors with nothing to drop: accept again after this pause.
constexpr auto accept_pause = std::chrono::milliseconds(100);

// The peer's address without its port: what counts as one source.
std::string source_of(const sockaddr_storage &a)
{
    if (a.ss_family == AF_INET) {
        const auto &in = reinterpret_cast<const sockaddr_in &>(a).sin_addr;
        return std::string(reinterpret_cast<const char *>(&in), sizeof in);
    }
    if (a.ss_family == AF_INET6) {
        const auto &in6 = reinterpret_cast<const sockaddr_in6 &>(a).sin6_addr;
        return std::string(reinterpret_cast<const char *>(&in6), sizeof in6);
    }
    return {};
}

class EventLoop {
public:
    EventLoop(int listener, zo_env_t *zo_env) : listener_(listener), zo_env_(zo_env)
    {
        epoll_.reset(epoll_create1(EPOLL_CLOEXEC));
        if (!epoll_) {
            if (tavish_verbose >= 1)
                perror("epoll_create1");
            exit(1);
        }
        fcntl(listener_, F_SETFL, fcntl(listener_, F_GETFL) | O_NONBLOCK);
        watch_listener(true);
    }

    [[noreturn]] void run()
    {
        epoll_event ready[64];
        for (;;) {
            const int n = epoll_wait(epoll_.get(), ready, 64, wait_ms(Clock::now()));
            const auto now = Clock::now();
            bool listener_ready = false;
            // What has arrived on open connections is read (and answered)
            // before new connections can push any of them out.
            for (int i = 0; i < n; ++i) {
                if (ready[i].data.fd == listener_) {
                    listener_ready = true;
                    continue;
                }
                const auto it = connections_.find(ready[i].data.fd);
                if (it == connections_.end())
                    continue;
                it->second.conn->on_ready(now, zo_env_);
                update(it);
            }
            if (listener_ready)
                accept_some(now);
            expire(Clock::now());
        }
    }

private:
    struct Entry {
        std::unique_ptr<Connection> conn;
        std::uint32_t events;  // as registered with epoll
        std::uint64_t serial;  // order of acceptance: the older of two equal waits goes first
        std::string source;    // the peer's address
    };
    using Map = std::unordered_map<int, Entry>;

    void watch_listener(bool on)
    {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = listener_;
        epoll_ctl(epoll_.get(), on ? EPOLL_CTL_ADD : EPOLL_CTL_DEL, listener_, &ev);
        accepting_ = on;
    }

    int wait_ms(Clock::time_point now) const
    {
        auto next = now + std::chrono::hours(1);
        if (!accepting_)
            next = std::min(next, resume_accept_);
        for (const auto &[fd, e] : connections_)
            next = std::min(next, e.conn->deadline());
        return next <= now ? 0 : poll_timeout_ms(next);
    }

    Map::iterator remove(Map::iterator it)
    {
        if (const auto s = per_source_.find(it->second.source); s != per_source_.end() && --s->second == 0)
            per_source_.erase(s);
        return connections_.erase(it);  // closing the descriptor leaves the epoll set
    }

    // Closes a finished connection, or registers the events it now waits for.
    Map::iterator update(Map::iterator it)
    {
        Entry &e = it->second;
        if (e.conn->done())
            return remove(it);
        if (const std::uint32_t want = e.conn->wants_write() ? EPOLLOUT : EPOLLIN; want != e.events) {
            epoll_event ev{};
            ev.events = want;
            ev.data.fd = it->first;
            epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, it->first, &ev);
            e.events = want;
        }
        return std::next(it);
    }

    void expire(Clock::time_point now)
    {
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (it->second.conn->deadline() <= now)
                it->second.conn->on_time(now, zo_env_);
            it = update(it);
        }
        if (!accepting_ && now >= resume_accept_)
            watch_listener(true);
    }

    // Makes room by closing one connection of the source that holds the
    // most: the one that has waited longest for its client (any of them
    // when none is waiting for its client).
    bool make_room()
    {
        const auto busiest = std::max_element(per_source_.begin(), per_source_.end(),
                                              [](const auto &a, const auto &b) { return a.second < b.second; });
        if (busiest == per_source_.end())
            return false;
        auto oldest = connections_.end();
        auto rank = [](const Entry &e) { return std::make_tuple(!e.conn->idle(), e.conn->last_activity(), e.serial); };
        for (auto it = connections_.begin(); it != connections_.end(); ++it)
            if (it->second.source == busiest->first &&
                (oldest == connections_.end() || rank(it->second) < rank(oldest->second)))
                oldest = it;
        if (oldest == connections_.end())
            return false;
        remove(oldest);
        return true;
    }

    void accept_some(Clock::time_point now)
    {
        for (int accepted = 0; accepted < accept_batch;) {
            if (connections_.size() >= max_connections)
                make_room();
            sockaddr_storage their_addr{};
            socklen_t addr_len = sizeof their_addr;
            UniqueFd fd(accept4(listener_, reinterpret_cast<sockaddr *>(&their_addr), &addr_len,
                                SOCK_NONBLOCK | SOCK_CLOEXEC));
            if (!fd) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    return;
                if (tavish_verbose >= 1)
                    perror("accept");
                if ((errno == EMFILE || errno == ENFILE) && make_room())
                    continue;
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                    watch_listener(false);
                    resume_accept_ = now + accept_pause;
                }
                return;
            }
            ++accepted;
            if (tavish_verbose >= 1)
                fprintf(stderr, "got TCP connection: (fd=%d)\n", fd.get());
            log_connection(reinterpret_cast<sockaddr *>(&their_addr), addr_len);
            const int key = fd.get();
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.fd = key;
            if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, key, &ev) != 0)
                continue;  // closed again at once
            const std::string source = source_of(their_addr);
            ++per_source_[source];
            const auto it = connections_
                                .insert_or_assign(key, Entry{std::make_unique<Connection>(std::move(fd), now),
                                                             EPOLLIN, ++accepted_total_, source})
                                .first;
            // A request that came with the connection is read (and answered) now.
            it->second.conn->on_ready(now, zo_env_);
            update(it);
        }
    }

    int listener_;
    zo_env_t *zo_env_;
    UniqueFd epoll_;
    Map connections_;
    std::unordered_map<std::string, size_t> per_source_;  // open connections per peer address
    bool accepting_ = false;
    std::uint64_t accepted_total_ = 0;
    Clock::time_point resume_accept_{};
};

}  // namespace

void serve_concurrently(int listener, zo_env_t *zo_env)
{
    EventLoop(listener, zo_env).run();
}

}  // namespace zorbel::tavish
