// A stand-in for a network responder on a free loopback port: each
// connection is answered by a function of the test, in a thread of its own.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zorbel::test {

class FakeResponder {
public:
    // `answer` gets the connected socket and the request line; it should
    // end once stopping() holds.
    // It listens on `address` (by default 127.0.0.1; 0.0.0.0 takes
    // connections to every loopback address).
    explicit FakeResponder(std::function<void(int fd, const std::string &request)> answer,
                           const char *address = "127.0.0.1");
    ~FakeResponder();
    FakeResponder(const FakeResponder &) = delete;
    FakeResponder &operator=(const FakeResponder &) = delete;

    int port() const { return port_; }
    bool stopping() const { return stop_; }

    // A handler that sends `bytes` and closes.
    static std::function<void(int, const std::string &)> sending(std::string bytes);

private:
    void accept_loop();

    std::function<void(int, const std::string &)> answer_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::thread> connections_;
    std::thread acceptor_;
};

// Sends all of `bytes` unless the peer has gone; false then.
bool send_bytes(int fd, std::string_view bytes);

}  // namespace zorbel::test
