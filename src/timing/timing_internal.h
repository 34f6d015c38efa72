// The clock's replaceable platform calls, for tests that inject counter values, frequencies,
// sleeps and OS versions. Internal: reached by linking the static library.
#ifndef NXUTIL_TIMING_INTERNAL_H
#define NXUTIL_TIMING_INTERNAL_H

#include <cstdint>

namespace nxtiming {

struct ClockBackend {
    std::int64_t (*counter)();
    std::int64_t (*frequency)();
    void (*sleepMs)(unsigned ms);
    int (*osVersion)();
};

/// The table in use; starts as the platform's counter and sleep and pubfunc::getOSVersion.
ClockBackend& clockBackend();
ClockBackend platformClockBackend();

/// Forgets the frequency (as before initClockFreq) and the calling thread's last reading.
void resetClock();

}  // namespace nxtiming

#endif
