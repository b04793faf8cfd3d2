// One client connection, from accept (or inetd's hand-over) to close: the
// only home of the per-connection rules.  Read the request line (a client
// gets 5 s to send it; a line ends at its line feed, at the end of the
// stream, or after 16383 bytes), answer it, send the answer without
// blocking (a client that takes no byte for 10 s is dropped), shut down
// the sending side so the client sees the end at once, drain what the
// client still sends (until 125 ms pass without input, the stream ends,
// or 2 s have passed in all), close.
//
// A state machine driven by readiness and time: the standalone event loop
// runs many (event_loop.h), inetd mode runs one with serve_alone.  Every
// socket call passes MSG_DONTWAIT, so the descriptor itself may stay
// blocking (inetd's descriptor 0 may share its open file with 1 and 2).
//
// What a connection holds: its descriptor, the request bytes read so far
// (at most one request line and one read more), then its answer, whose
// pieces are shared pointers (the record list's link lines are one piece
// shared by every answer built from the same parse of the registry), and
// how far the answer has been sent.
#pragma once

#include "answer.h"
#include "zorbel/support/unique_fd.h"
#include "zorbel.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace zorbel::tavish {

using Clock = std::chrono::steady_clock;

struct ConnectionLimits {
    Clock::duration request_line = std::chrono::seconds(5);
    Clock::duration send_stall = std::chrono::seconds(10);  // no byte taken for this long
    Clock::duration drain = std::chrono::seconds(2);
    Clock::duration drain_quiet = std::chrono::milliseconds(125);
    // The most one readiness event sends, so that one large answer cannot
    // hold the loop while others wait.
    size_t send_slice = 256 * 1024;
};

class Connection {
public:
    Connection(UniqueFd fd, Clock::time_point now, const ConnectionLimits &limits = {});

    int fd() const { return fd_.get(); }
    bool done() const { return phase_ == Phase::done; }
    // Waiting for the client (request line or drain) rather than for the
    // network to take an answer.
    bool idle() const { return phase_ == Phase::request || phase_ == Phase::draining; }
    // Waiting to send rather than to read.
    bool wants_write() const { return phase_ == Phase::sending; }
    Clock::time_point last_activity() const { return last_activity_; }
    // When on_time must be called next.
    Clock::time_point deadline() const;

    // The descriptor is ready for what the connection waits for.
    void on_ready(Clock::time_point now, zo_env_t *zo_env);
    // Acts on a deadline that has passed; does nothing before it.
    void on_time(Clock::time_point now, zo_env_t *zo_env);

private:
    enum class Phase { request, sending, draining, done };

    void read_request(Clock::time_point now, zo_env_t *zo_env);
    void answer(std::string_view line, Clock::time_point now, zo_env_t *zo_env);
    void send_answer(Clock::time_point now);
    void advance(size_t moved);
    void start_drain(Clock::time_point now);
    void drain(Clock::time_point now);
    void echo_drained(bool at_end);
    void close_now();

    UniqueFd fd_;
    ConnectionLimits limits_;
    Phase phase_ = Phase::request;
    Clock::time_point last_activity_;
    Clock::time_point phase_deadline_;  // request line, send or whole drain
    std::string in_;                    // request bytes; in the drain, an unfinished line
    Answer out_;
    size_t piece_ = 0;                  // the piece being sent
    size_t offset_ = 0;                 // bytes of it already sent
};

// Serves `connection` alone until it is done, waiting with poll: inetd
// mode's whole service.
void serve_alone(Connection &connection, zo_env_t *zo_env);

}  // namespace zorbel::tavish
