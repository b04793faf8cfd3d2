#include "random_sleep.h"

#include "unique_fd.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <random>

namespace {

std::uint64_t seed_from_system()
{
    std::uint64_t seed = 0;
    // GRND_NONBLOCK: early at boot, fall back to the device rather than wait.
    if (getrandom(&seed, sizeof seed, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof seed))
        return seed;
    const zorbel::UniqueFd dev(open("/dev/urandom", O_RDONLY | O_CLOEXEC));
    if (dev && read(dev.get(), &seed, sizeof seed) == static_cast<ssize_t>(sizeof seed))
        return seed;
    // No random source at all: the clock to the nanosecond and the process
    // id still differ between processes started in the same second.
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
           (static_cast<std::uint64_t>(getpid()) << 48);
}

std::mt19937_64 &generator()
{
    static std::mt19937_64 gen(seed_from_system());
    return gen;
}

}  // namespace

unsigned draw_sleep_time()
{
    std::uniform_int_distribution<unsigned> delay(0, 999);
    return delay(generator());
}

void random_sleep()
{
    // The kernel may stretch a sleep by the timer slack (50 us by default);
    // 1 us keeps the delay what was drawn.
    static const bool precise_sleep = prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0) == 0;
    (void)precise_sleep;
    const unsigned sleep_time = draw_sleep_time();
    fprintf(stderr, "(random sleep: %u microseconds)\n", sleep_time);
    usleep(sleep_time);
}
