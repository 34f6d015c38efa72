// Periodic multimedia timers: a callback every `delay` milliseconds on the platform's timer
// thread.
//
// Win32: timeSetEvent with resolution 0, periodic, callback-function mode. POSIX: one
// timer-service thread of the platform layer, started by the first timer, sleeping until the
// earliest absolute deadline; each timer's next deadline is its previous one plus the period,
// so ticks do not drift. A timer that falls more than a period behind skips the ticks it missed
// rather than delivering them in a burst.
#ifndef NXUTIL_PLATFORM_MMTIMER_H
#define NXUTIL_PLATFORM_MMTIMER_H

#include "nxutil_types.h"

#include <cstdint>

namespace platform {

/// The timer callback: (timer id, message (0), user data, two reserved words (0)).
using MmTimerProc = void(NXUTIL_CALLBACK*)(unsigned id, unsigned msg, std::uintptr_t user,
                                           std::uintptr_t dw1, std::uintptr_t dw2);

/// Starts a periodic timer; returns its id (never reused while the process lives on POSIX) or 0.
unsigned mmTimerSet(unsigned delayMs, MmTimerProc proc, std::uintptr_t user);

/// Cancels a timer; unknown ids are ignored. POSIX: when called outside the timer thread, it
/// returns only after a tick of that timer that is being delivered has returned, so no tick of
/// it runs afterwards; on the timer thread itself (a callback stopping a timer) it never waits.
void mmTimerKill(unsigned id);

}  // namespace platform

#endif
