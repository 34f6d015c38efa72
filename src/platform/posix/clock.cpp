// The performance counter and sleeps on CLOCK_MONOTONIC.
#include "platform/clock.h"
#include "platform/posix/posix_support.h"

#include <sched.h>
#include <time.h>

namespace platform {

std::int64_t perfCounter() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::int64_t perfFrequency() { return 1000000000; }

void sleepMs(unsigned ms) {
    if (ms == 0) {
        ::sched_yield();
        return;
    }
    // An absolute deadline, so a sleep interrupted by a signal resumes without stretching.
    timespec deadline;
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000;
    if (deadline.tv_nsec >= 1000000000) {
        deadline.tv_nsec -= 1000000000;
        ++deadline.tv_sec;
    }
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

}  // namespace platform
