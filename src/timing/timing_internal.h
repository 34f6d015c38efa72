// The clock's state and the multimedia timers' tick callback, for tests. The clock reads the
// counter, its frequency and sleeps through platform::sys() (perfCounter, perfFrequency,
// sleepMs), where tests replace them. Internal: reached by linking the static library.
#ifndef NXUTIL_TIMING_INTERNAL_H
#define NXUTIL_TIMING_INTERNAL_H

#include "platform/mmtimer.h"

#include <cstdint>

class IMultimediaTimer;

namespace nxtiming {

/// Forgets the frequency (as before initClockFreq) and the calling thread's last reading.
void resetClock();

/// A reading in nanoseconds: ticks * 1e9 / frequency in double precision, truncated toward
/// zero (saturating). A nanosecond counter (frequency 1e9) below 2^53 ticks takes an
/// integer path with the same result on every value; `byDouble` evaluates the formula itself.
unsigned long long nanosecondsOf(std::int64_t ticks, std::int64_t frequency);
unsigned long long nanosecondsByDouble(std::int64_t ticks, std::int64_t frequency);

/// The multimedia timers' tick callback, for calling it as a late platform tick would.
platform::MmTimerProc multimediaTickProc();
/// The platform id a timer from getMultimediaTimer runs under; 0 when stopped.
unsigned multimediaTimerId(IMultimediaTimer* timer);

}  // namespace nxtiming

#endif
