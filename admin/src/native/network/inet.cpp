#include "network/inet.h"

#include "cli/cli_error.h"
#include "zorbel/support/deadline.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace zorbel::cli {

namespace {

struct AddrinfoDeleter {
    void operator()(addrinfo *ai) const noexcept { freeaddrinfo(ai); }
};

}  // namespace

sockaddr_in resolve_ipv4(const std::string &host, int port)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo *raw = nullptr;
    const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &raw);
    const std::unique_ptr<addrinfo, AddrinfoDeleter> found(raw);
    if (rc != 0 || !found)
        throw Failure(host + ": " + gai_strerror(rc));
    sockaddr_in addr{};
    std::memcpy(&addr, found->ai_addr, sizeof addr);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
}

std::string address_text(const sockaddr_in &addr)
{
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    return text;
}

int Deadline::remaining_ms() const
{
    return poll_timeout_ms(end_);
}

bool wait_for(int fd, short events, const Deadline &deadline)
{
    // Once the deadline has passed, nothing more is waited for, even when
    // input is ready: a peer that keeps sending must not hold the command
    // past its time.
    if (deadline.passed())
        return false;
    for (;;) {
        pollfd p{fd, events, 0};
        const int rc = poll(&p, 1, deadline.remaining_ms());
        if (rc > 0)
            return true;
        if (rc == 0)
            return false;
        if (errno != EINTR)
            throw Failure(system_error("poll"));
    }
}

std::string system_error(std::string_view what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace zorbel::cli
