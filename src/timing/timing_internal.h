// The clock's replaceable platform calls, for tests that inject counter values, frequencies,
// sleeps and OS versions, and a way in to the multimedia timers' tick callback. Internal:
// reached by linking the static library.
#ifndef NXUTIL_TIMING_INTERNAL_H
#define NXUTIL_TIMING_INTERNAL_H

#include "platform/mmtimer.h"

#include <cstdint>

class IMultimediaTimer;

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

/// The multimedia timers' tick callback, for calling it as a late platform tick would.
platform::MmTimerProc multimediaTickProc();
/// The platform id a timer from getMultimediaTimer runs under; 0 when stopped.
unsigned multimediaTimerId(IMultimediaTimer* timer);

}  // namespace nxtiming

#endif
