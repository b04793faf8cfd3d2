#include "random_sleep.h"

#include "zorbel/support/unique_fd.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <random>

namespace {

// The kernel's sched_attr, first version (48 bytes); the C library of
// older systems does not declare it.
struct sched_attr_v1 {
    std::uint32_t size;
    std::uint32_t sched_policy;
    std::uint64_t sched_flags;
    std::int32_t sched_nice;
    std::uint32_t sched_priority;
    std::uint64_t sched_runtime;
    std::uint64_t sched_deadline;
    std::uint64_t sched_period;
};

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

// Sleeps of under a millisecond are easily stretched: by the timer slack
// (50 us by default), and on a busy CPU by the time slice of whatever runs
// when the sleep ends (milliseconds).  A 1 us slack and a 0.1 ms slice
// (honoured by kernels from 6.12, ignored by older ones) keep the delay
// close to what was drawn.  Both are best effort.
void prepare_short_sleeps()
{
    prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, 0);
    if (errno != 0)
        return;
    sched_attr_v1 attr{};
    attr.size = sizeof attr;
    attr.sched_policy = SCHED_OTHER;
    attr.sched_nice = nice;  // unchanged
    attr.sched_runtime = 100 * 1000;  // nanoseconds
    syscall(SYS_sched_setattr, 0, &attr, 0);
}

}  // namespace

unsigned draw_sleep_time()
{
    std::uniform_int_distribution<unsigned> delay(0, 999);
    return delay(generator());
}

void random_sleep()
{
    static const bool prepared = (prepare_short_sleeps(), true);
    (void)prepared;
    const unsigned sleep_time = draw_sleep_time();
    fprintf(stderr, "(random sleep: %u microseconds)\n", sleep_time);
    usleep(sleep_time);
}
