// IPv4 addresses and bounded waits for the network sub-commands.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <string>
#include <string_view>

namespace zorbel::cli {

// The IPv4 address of `host` (dotted quad or a name) with `port`; throws
// Failure when the name does not resolve.
sockaddr_in resolve_ipv4(const std::string &host, int port);

// The address part as a dotted quad.
std::string address_text(const sockaddr_in &addr);

// A point in time after which a command stops waiting.
class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds from_now)
        : end_(std::chrono::steady_clock::now() + from_now)
    {
    }
    // Milliseconds left, 0 once passed (for poll).
    int remaining_ms() const;
    bool passed() const { return std::chrono::steady_clock::now() >= end_; }

private:
    std::chrono::steady_clock::time_point end_;
};

// Waits until `fd` has one of `events` or the deadline passes; false on
// time-out, and at once once the deadline has passed, whatever is ready.
// Throws Failure when poll itself fails.
bool wait_for(int fd, short events, const Deadline &deadline);

// A byte that may stand in a URN or request path taken from or sent to the
// network: neither a blank nor a control byte.
constexpr bool is_token_byte(char c)
{
    const auto b = static_cast<unsigned char>(c);
    return b > 0x20 && b != 0x7f;
}

// "<what>: <system error text>" for the current errno.
std::string system_error(std::string_view what);

}  // namespace zorbel::cli
