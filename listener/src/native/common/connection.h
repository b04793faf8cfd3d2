// One client connection of the concurrent service loop, from accept to
// close, as a state machine driven by readiness and time: read the request
// line (5 s), send the buffered answer without blocking (with a time
// limit), shut down the sending side, drain what the client still sends
// (until 125 ms pass without input, the end of the stream, or 2 s in all),
// close.
#pragma once

#include "socket_io.h"
#include "zorbel/support/unique_fd.h"
#include "zorbel.h"

#include <cstdint>
#include <string>

namespace zorbel::tavish {

class Connection {
public:
    Connection(UniqueFd fd, Clock::time_point now);

    int fd() const { return fd_.get(); }
    bool done() const { return phase_ == Phase::done; }
    // Waiting for the client (request line or drain) rather than for the
    // network to take an answer.
    bool idle() const { return phase_ == Phase::request || phase_ == Phase::draining; }
    Clock::time_point last_activity() const { return last_activity_; }
    // When on_time must be called next.
    Clock::time_point deadline() const;
    // The epoll events the connection waits for now.
    std::uint32_t events() const;

    void on_ready(std::uint32_t events, Clock::time_point now, zo_env_t *zo_env);
    void on_time(Clock::time_point now, zo_env_t *zo_env);

private:
    enum class Phase { request, sending, draining, done };

    void read_request(Clock::time_point now, zo_env_t *zo_env);
    void answer(const std::string &line, Clock::time_point now, zo_env_t *zo_env);
    void send_answer(Clock::time_point now);
    void start_drain(Clock::time_point now);
    void drain(Clock::time_point now);
    void echo_drained(bool at_end);
    void close_now();

    UniqueFd fd_;
    Phase phase_ = Phase::request;
    Clock::time_point last_activity_;
    Clock::time_point phase_deadline_;  // request line, send or whole drain
    std::string in_;                    // request bytes; in the drain, an unfinished line
    std::string out_;                   // the answer
    size_t sent_ = 0;
};

}  // namespace zorbel::tavish
