// Multimedia timers: winmm's timeSetEvent and timeKillEvent.
#include "platform/mmtimer.h"
#include "platform/error.h"
#include "platform/syscalls.h"
#include "platform/win32/win32_support.h"

#include <mmsystem.h>

namespace platform {

unsigned mmTimerSet(unsigned delayMs, MmTimerProc proc, std::uintptr_t user) {
    return proc ? sys().startTimer(delayMs, proc, user) : 0;
}

void mmTimerKill(unsigned id) {
    if (id != 0)
        timeKillEvent(id);
}

}  // namespace platform
