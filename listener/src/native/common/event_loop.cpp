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
#include <tuple>
#include <unordered_map>

namespace zorbel::tavish {
namespace {

constexpr size_t max_connections = 512;
// Out of descriptors with nothing to drop: accept again after this pause.
constexpr auto accept_pause = std::chrono::milliseconds(100);

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
            for (int i = 0; i < n; ++i) {
                if (ready[i].data.fd == listener_) {
                    accept_all(now);
                    continue;
                }
                const auto it = connections_.find(ready[i].data.fd);
                if (it == connections_.end())
                    continue;
                it->second.conn->on_ready(now, zo_env_);
                update(it);
            }
            expire(Clock::now());
        }
    }

private:
    struct Entry {
        std::unique_ptr<Connection> conn;
        std::uint32_t events;  // as registered with epoll
        std::uint64_t serial;  // order of acceptance: the older of two equal waits goes first
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

    // Closes a finished connection, or registers the events it now waits for.
    Map::iterator update(Map::iterator it)
    {
        Entry &e = it->second;
        if (e.conn->done())
            return connections_.erase(it);  // closing the descriptor left the epoll set
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

    // Makes room by closing the connection that has waited longest for its
    // client (any connection when none is waiting for its client).
    bool drop_oldest()
    {
        auto oldest = connections_.end();
        for (auto it = connections_.begin(); it != connections_.end(); ++it) {
            const Connection &c = *it->second.conn;
            if (oldest == connections_.end()) {
                oldest = it;
                continue;
            }
            const Connection &o = *oldest->second.conn;
            if (std::make_tuple(!c.idle(), c.last_activity(), it->second.serial) <
                std::make_tuple(!o.idle(), o.last_activity(), oldest->second.serial))
                oldest = it;
        }
        if (oldest == connections_.end())
            return false;
        connections_.erase(oldest);
        return true;
    }

    void accept_all(Clock::time_point now)
    {
        for (;;) {
            if (connections_.size() >= max_connections)
                drop_oldest();
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
                if ((errno == EMFILE || errno == ENFILE) && drop_oldest())
                    continue;
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                    watch_listener(false);
                    resume_accept_ = now + accept_pause;
                }
                return;
            }
            if (tavish_verbose >= 1)
                fprintf(stderr, "got TCP connection: (fd=%d)\n", fd.get());
            log_connection(reinterpret_cast<sockaddr *>(&their_addr), addr_len);
            const int key = fd.get();
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.fd = key;
            if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, key, &ev) != 0)
                continue;  // closed again at once
            connections_[key] = Entry{std::make_unique<Connection>(std::move(fd), now), EPOLLIN, ++accepted_};
        }
    }

    int listener_;
    zo_env_t *zo_env_;
    UniqueFd epoll_;
    Map connections_;
    bool accepting_ = false;
    std::uint64_t accepted_ = 0;
    Clock::time_point resume_accept_{};
};

}  // namespace

void serve_concurrently(int listener, zo_env_t *zo_env)
{
    EventLoop(listener, zo_env).run();
}

}  // namespace zorbel::tavish
