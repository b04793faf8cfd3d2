// Waiting until a point in time with poll(), whose time-out is a count of
// milliseconds.
#pragma once

#include <algorithm>
#include <chrono>

namespace zorbel {

using SteadyClock = std::chrono::steady_clock;

// The time left until `deadline` as a poll() time-out: rounded up, so a
// wait never ends before the deadline; 0 once it has passed; never more
// than `cap`.
inline int poll_timeout_ms(SteadyClock::time_point deadline,
                           std::chrono::milliseconds cap = std::chrono::hours(1))
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, cap.count()));
}

}  // namespace zorbel
