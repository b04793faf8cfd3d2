#include "connection.h"

#include "globals.h"
#include "resources.h"
#include "zorbel/support/deadline.h"
#include "zorbel/support/log_escape.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <optional>

namespace zorbel::tavish {
namespace {

constexpr size_t request_line_len = REQUEST_LINE_LEN;
constexpr size_t drain_line_len = 4096;
constexpr size_t read_chunk = 4096;
constexpr size_t pieces_per_send = 64;

constexpr ssize_t would_block = -2;

// recv without blocking: bytes, 0 at the end of the stream, -1 on an
// error, would_block when nothing has arrived.
ssize_t receive(int fd, char *buf, size_t len)
{
    for (;;) {
        const ssize_t n = recv(fd, buf, len, MSG_DONTWAIT);
        if (n >= 0 || errno != EINTR)
            return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? would_block : n;
    }
}

// The first line of `buffered` as a line buffer of `capacity` bytes holds
// it: ended by a line feed among the first `capacity` bytes (consumed,
// not part of the line), or, when that many bytes hold none, their first
// capacity - 1 bytes (`cut`; all `capacity` are consumed).  Nullopt while
// neither has arrived.
struct FirstLine {
    std::string_view line;
    size_t consumed;
    bool cut;
};
std::optional<FirstLine> first_line(std::string_view buffered, size_t capacity)
{
    if (const size_t lf = buffered.substr(0, capacity).find('\n'); lf != std::string_view::npos)
        return FirstLine{buffered.substr(0, lf), lf + 1, false};
    if (buffered.size() >= capacity)
        return FirstLine{buffered.substr(0, capacity - 1), capacity, true};
    return std::nullopt;
}

void echo_line(std::string_view line)
{
    if (tavish_verbose >= 2)
        fprintf(stderr, "sock_gets: %s\n", escape_for_log(line).c_str());
}

}  // namespace

Connection::Connection(UniqueFd fd, Clock::time_point now, const ConnectionLimits &limits)
    : fd_(std::move(fd)), limits_(limits), last_activity_(now), phase_deadline_(now + limits.request_line)
{
}

Clock::time_point Connection::deadline() const
{
    switch (phase_) {
    case Phase::request:
    case Phase::sending: return phase_deadline_;
    case Phase::draining: return std::min(phase_deadline_, last_activity_ + limits_.drain_quiet);
    case Phase::done: break;
    }
    return Clock::time_point::max();
}

void Connection::on_ready(Clock::time_point now, zo_env_t *zo_env)
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
    if (phase_ == Phase::done || now < deadline())
        return;
    if (phase_ == Phase::request)
        answer("", now, zo_env);  // no complete line in time: like an empty one
    else
        close_now();
}

// Reads what has arrived, in chunks, until the request line is complete.
// Bytes after the line are kept for the drain.
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
        if (n == 0) {  // the stream ended: what came is the line
            const std::string line = std::move(in_);
            in_.clear();
            if (!line.empty())
                echo_line(line);
            answer(line, now, zo_env);
            return;
        }
        in_.append(buf, static_cast<size_t>(n));
        if (const auto cut = first_line(in_, request_line_len)) {
            if (cut->cut && tavish_verbose >= 2)
                fputs("warning: sock_gets reached end of buffer, truncation likely\n", stderr);
            else
                echo_line(cut->line);
            const std::string line(cut->line);
            in_.erase(0, cut->consumed);
            answer(line, now, zo_env);
            return;
        }
    }
}

void Connection::answer(std::string_view line, Clock::time_point now, zo_env_t *zo_env)
{
    out_ = answer_request(zo_env, line);
    echo_pieces(out_);
    piece_ = offset_ = 0;
    if (out_.empty()) {
        start_drain(now);
        return;
    }
    phase_ = Phase::sending;
    phase_deadline_ = now + limits_.send_stall;
    send_answer(now);
}

// Sends what the socket takes, up to one slice, several pieces a call;
// the socket is told more follows while it does, so the answer leaves in
// full segments.
void Connection::send_answer(Clock::time_point now)
{
    const auto &pieces = out_.pieces();
    size_t budget = limits_.send_slice;
    while (piece_ < pieces.size() && budget > 0) {
        std::array<iovec, pieces_per_send> iov{};
        size_t count = 0, bytes = 0;
        bool cut = false;  // the last piece given does not fit the slice whole
        for (size_t i = piece_; i < pieces.size() && count < iov.size() && bytes < budget; ++i, ++count) {
            const size_t skip = i == piece_ ? offset_ : 0;
            const size_t len = std::min(pieces[i]->size() - skip, budget - bytes);
            cut = len < pieces[i]->size() - skip;
            iov[count] = {const_cast<char *>(pieces[i]->data()) + skip, len};
            bytes += len;
        }
        msghdr msg{};
        msg.msg_iov = iov.data();
        msg.msg_iovlen = count;
        const bool more = cut || piece_ + count < pieces.size();
        const ssize_t n = sendmsg(fd_.get(), &msg, MSG_NOSIGNAL | MSG_DONTWAIT | (more ? MSG_MORE : 0));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;  // the socket is full: called again once it drains
            if (tavish_verbose >= 1)
                perror("send");
            close_now();
            return;
        }
        last_activity_ = now;
        phase_deadline_ = now + limits_.send_stall;
        budget -= static_cast<size_t>(n);
        advance(static_cast<size_t>(n));
    }
    if (piece_ < pieces.size())
        return;  // a slice has gone: the rest when the socket is ready again
    out_ = Answer();
    start_drain(now);
}

void Connection::advance(size_t moved)
{
    const auto &pieces = out_.pieces();
    while (piece_ < pieces.size() && moved >= pieces[piece_]->size() - offset_) {
        moved -= pieces[piece_]->size() - offset_;
        ++piece_, offset_ = 0;
    }
    offset_ += moved;
}

// The client sees the end of the answer at once; what it still sends is
// read and thrown away.
void Connection::start_drain(Clock::time_point now)
{
    shutdown(fd_.get(), SHUT_WR);
    phase_ = Phase::draining;
    phase_deadline_ = now + limits_.drain;
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
    while (const auto cut = first_line(std::string_view(in_).substr(start), drain_line_len)) {
        echo_line(cut->line);
        start += cut->consumed;
    }
    in_.erase(0, start);
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
    out_ = Answer();
}

void serve_alone(Connection &connection, zo_env_t *zo_env)
{
    while (!connection.done()) {
        pollfd p{connection.fd(), static_cast<short>(connection.wants_write() ? POLLOUT : POLLIN), 0};
        const int ready = poll(&p, 1, poll_timeout_ms(connection.deadline()));
        const auto now = Clock::now();
        if (ready > 0)
            connection.on_ready(now, zo_env);
        connection.on_time(now, zo_env);
    }
}

}  // namespace zorbel::tavish
