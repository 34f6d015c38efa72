// The high-resolution performance counter and plain sleeps.
#ifndef NXUTIL_PLATFORM_CLOCK_H
#define NXUTIL_PLATFORM_CLOCK_H

#include <cstdint>

namespace platform {

/// The performance counter (QueryPerformanceCounter; POSIX: CLOCK_MONOTONIC in nanoseconds).
std::int64_t perfCounter();

/// Counts per second of perfCounter (QueryPerformanceFrequency; POSIX: 1,000,000,000).
std::int64_t perfFrequency();

/// Sleeps `ms` milliseconds (Sleep; POSIX: clock_nanosleep, resumed after signals). 0 gives up
/// the rest of the time slice.
void sleepMs(unsigned ms);

}  // namespace platform

#endif
