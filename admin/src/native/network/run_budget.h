// How much of what its peers sent one inventory run may keep in memory,
// shared by the threads that read the hosts.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

namespace zorbel::cli {

class RunBudget {
public:
    explicit RunBudget(std::size_t bytes) : total_(bytes), left_(bytes) {}

    // Takes `bytes` out of the budget; throws Failure when not that much is left.
    void take(std::size_t bytes);
    void give_back(std::size_t bytes) { left_ += bytes; }

    // What keeping `text` in a vector costs, roughly: the string, its
    // heap block, and the vector's room to grow.
    static std::size_t cost(const std::string &text) { return 2 * sizeof(std::string) + text.size() + 16; }
    static std::size_t cost(const std::vector<std::string> &values);

private:
    std::size_t total_;
    std::atomic<std::size_t> left_;
};

}  // namespace zorbel::cli
