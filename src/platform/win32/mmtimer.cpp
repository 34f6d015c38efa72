// Multimedia timers: winmm's timeSetEvent and timeKillEvent.
#include "platform/mmtimer.h"
#include "platform/error.h"
#include "platform/win32/win32_support.h"

#include <mmsystem.h>

namespace platform {

unsigned mmTimerSet(unsigned delayMs, MmTimerProc proc, std::uintptr_t user) {
    // MmTimerProc and LPTIMECALLBACK differ only in how the words are spelled.
    const MMRESULT id = timeSetEvent(delayMs, 0, reinterpret_cast<LPTIMECALLBACK>(proc),
                                     static_cast<DWORD_PTR>(user),
                                     TIME_PERIODIC | TIME_CALLBACK_FUNCTION);
    if (id == 0)
        setLastError(0, "timeSetEvent");
    return id;
}

void mmTimerKill(unsigned id) {
    if (id != 0)
        timeKillEvent(id);
}

}  // namespace platform
