#include "fake_responder.h"

#include "loopback.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace zorbel::test {

FakeResponder::FakeResponder(std::function<void(int, const std::string &)> answer, const char *address)
    : answer_(std::move(answer))
{
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback_address(0);
    inet_pton(AF_INET, address, &a.sin_addr);
    if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0 ||
        listen(listen_fd_, 64) != 0)
        throw std::runtime_error("fake responder: no listening socket");
    port_ = local_port(listen_fd_);
    acceptor_ = std::thread([this] { accept_loop(); });
}

FakeResponder::~FakeResponder()
{
    stop_ = true;
    acceptor_.join();
    for (auto &t : connections_)
        t.join();
    close(listen_fd_);
}

void FakeResponder::accept_loop()
{
    while (!stop_) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const std::lock_guard lock(mutex_);
        connections_.emplace_back([this, fd] {
            // The request up to its blank line, read with a bound in time and
            // size: closing with unread bytes would reset the connection.
            std::string request;
            char c = 0;
            for (int i = 0; i < 16384 && !request.ends_with("\r\n\r\n") && !stop_; ++i) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 1000) <= 0 || recv(fd, &c, 1, 0) != 1)
                    break;
                request += c;
            }
            answer_(fd, request.substr(0, request.find_first_of("\r\n")));
            close(fd);
        });
    }
}

std::function<void(int, const std::string &)> FakeResponder::sending(std::string bytes)
{
    return [bytes = std::move(bytes)](int fd, const std::string &) { send_bytes(fd, bytes); };
}

bool send_bytes(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace zorbel::test
