// A start signal between forked processes: a pipe whose waiters return
// once the other side opens it.
#pragma once

#include <chrono>

namespace zorbel::test {

class Gate {
public:
    Gate();
    ~Gate();
    Gate(const Gate &) = delete;
    Gate &operator=(const Gate &) = delete;

    // Lets `waiters` waiting processes through at once, then closes this
    // process's end for writing.
    void open(int waiters = 1);
    // Closes this process's end for writing, then waits (bounded) until the
    // gate lets it through: true, or false when every other process closed
    // its end without opening the gate or time ran out.
    bool wait(std::chrono::milliseconds timeout = std::chrono::seconds(60));

private:
    int read_fd_ = -1;
    int write_fd_ = -1;
};

}  // namespace zorbel::test
