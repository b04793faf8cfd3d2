#include "connection.h"

#include "globals.h"
#include "resources.h"
#include "zorbel/support/byte_transfer.h"
#include "zorbel/support/log_escape.h"

#include <sys/epoll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>

namespace zorbel::tavish {
namespace {

constexpr auto request_line_timeout = std::chrono::seconds(5);
// A client that takes no byte of its answer for this long is dropped.
constexpr auto send_limit = std::chrono::seconds(10);
constexpr auto drain_limit = std::chrono::seconds(2);
constexpr auto drain_quiet = std::chrono::milliseconds(125);
constexpr size_t request_line_len = REQUEST_LINE_LEN;
constexpr size_t drain_line_len = 4096;
constexpr size_t read_chunk = 4096;

constexpr ssize_t would_block = -2;

// recv without blocking: bytes, 0 at the end of the stream, -1 on an
// error, would_block when nothing has arrived.
ssize_t receive(int fd, char *buf, size_t len)
{
    for (;;) {
        const ssize_t n = recv(fd, buf, len, 0);
        if (n >= 0 || errno != EINTR)
            return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? would_block : n;
    }
}

void echo_line(std::string_view line)
{
    fprintf(stderr, "sock_gets: %s\n", escape_for_log(line).c_str());
}

}  // namespace

Connection::Connection(UniqueFd fd, Clock::time_point now)
    : fd_(std::move(fd)), last_activity_(now), phase_deadline_(now + request_line_timeout)
{
}

Clock::time_point Connection::deadline() const
{
    switch (phase_) {
    case Phase::request:
    case Phase::sending: return phase_deadline_;
    case Phase::draining: return std::min(phase_deadline_, last_activity_ + drain_quiet);
    case Phase::done: break;
    }
    return Clock::time_point::max();
}

std::uint32_t Connection::events() const
{
    switch (phase_) {
    case Phase::request:
    case Phase::draining: return EPOLLIN;
    case Phase::sending: return EPOLLOUT;
    case Phase::done: break;
    }
    return 0;
}

void Connection::on_ready(std::uint32_t /*events*/, Clock::time_point now, zo_env_t *zo_env)
{
    switch (phase_) {
    case Phase::request: read_request(now, zo_env); break;
    case Phase::sending: send_answer(now); break;
    case Phase::draining: drain(now); break;
    case Phase::done: break;
    }
}

void Connection::on_time(Clock::time_point now, zo_env_t *zo_env)
{
    if (now < deadline())
        return;
    if (phase_ == Phase::request)
        answer("", now, zo_env);  // no complete line in time: like an empty one
    else
        close_now();
}

// Reads what has arrived, in chunks; the request line ends at its line
// feed, at the end of the stream, or after 16383 bytes.  Bytes after the
// line are kept for the drain.
void Connection::read_request(Clock::time_point now, zo_env_t *zo_env)
{
    char buf[read_chunk];
    for (;;) {
        const ssize_t n = receive(fd_.get(), buf, sizeof buf);
        if (n == would_block)
            return;
        if (n < 0) {
            if (tavish_verbose >= 1)
                perror("read");
            answer("", now, zo_env);
            return;
        }
        last_activity_ = now;
        if (n == 0) {
            std::string line = std::move(in_);
            in_.clear();
            if (!line.empty() && tavish_verbose >= 2)
                echo_line(line);
            answer(line, now, zo_env);
            return;
        }
        const size_t before = in_.size();
        in_.append(buf, static_cast<size_t>(n));
        if (const size_t lf = in_.find('\n', before); lf != std::string::npos && lf < request_line_len) {
            std::string line = in_.substr(0, lf);
            in_.erase(0, lf + 1);
            if (tavish_verbose >= 2)
                echo_line(line);
            answer(line, now, zo_env);
            return;
        }
        if (in_.size() >= request_line_len) {
            if (tavish_verbose >= 2)
                fputs("warning: sock_gets reached end of buffer, truncation likely\n", stderr);
            std::string line = in_.substr(0, request_line_len - 1);
            in_.erase(0, request_line_len);
            answer(line, now, zo_env);
            return;
        }
    }
}

void Connection::answer(const std::string &line, Clock::time_point now, zo_env_t *zo_env)
{
    out_ = answer_request(fd_.get(), zo_env, line.c_str());
    sent_ = 0;
    if (out_.empty()) {
        start_drain(now);
        return;
    }
    phase_ = Phase::sending;
    phase_deadline_ = now + send_limit;
    send_answer(now);
}

void Connection::send_answer(Clock::time_point now)
{
    const std::string_view rest = std::string_view(out_).substr(sent_);
    const size_t moved = transfer_all(rest.size(), [&](size_t at) {
        return send(fd_.get(), rest.data() + at, rest.size() - at, MSG_NOSIGNAL);
    });
    if (moved > 0) {
        sent_ += moved;
        last_activity_ = now;
        phase_deadline_ = now + send_limit;
    }
    if (moved < rest.size()) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;  // the socket is full: the loop calls again once it drains
        if (tavish_verbose >= 1)
            perror("send");
        close_now();
        return;
    }
    out_ = std::string();
    start_drain(now);
}

// The client sees the end of the answer at once; what it still sends is
// read and thrown away.
void Connection::start_drain(Clock::time_point now)
{
    shutdown(fd_.get(), SHUT_WR);
    phase_ = Phase::draining;
    phase_deadline_ = now + drain_limit;
    last_activity_ = now;
    echo_drained(false);
    drain(now);
}

void Connection::drain(Clock::time_point now)
{
    char buf[read_chunk];
    for (;;) {
        const ssize_t n = receive(fd_.get(), buf, sizeof buf);
        if (n == would_block)
            return;
        if (n <= 0) {
            echo_drained(true);
            close_now();
            return;
        }
        last_activity_ = now;
        if (tavish_verbose >= 2) {
            in_.append(buf, static_cast<size_t>(n));
            echo_drained(false);
        }
    }
}

// At verbosity 2 every drained line is echoed, cut as a 4096-byte line
// buffer cuts it; a last line without a line feed is echoed at the end of
// the stream.
void Connection::echo_drained(bool at_end)
{
    if (tavish_verbose < 2) {
        in_.clear();
        return;
    }
    size_t start = 0;
    for (;;) {
        const std::string_view rest = std::string_view(in_).substr(start);
        if (const size_t lf = rest.substr(0, drain_line_len).find('\n'); lf != std::string_view::npos) {
            echo_line(rest.substr(0, lf));
            start += lf + 1;
        } else if (rest.size() >= drain_line_len) {
            echo_line(rest.substr(0, drain_line_len - 1));
            start += drain_line_len;
        } else {
            break;
        }
    }
    in_.erase(0, std::min(start, in_.size()));
    if (at_end && !in_.empty())
        echo_line(in_);
    if (at_end)
        in_.clear();
}

void Connection::close_now()
{
    fd_.reset();
    phase_ = Phase::done;
    in_ = std::string();
    out_ = std::string();
}

}  // namespace zorbel::tavish
