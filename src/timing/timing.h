// Timing and thread scheduling: a monotonic high-resolution clock with deadline sleeps,
// periodic multimedia timers, message-queue timers routed to callback objects, a switch that
// runs work on a chosen thread, event ids, and the message loop that delivers them.
//
// Threads: multimedia-timer slots run on the platform's timer thread; message-queue timers and
// thread-switch slots run on the thread that set them up, while it dispatches messages
// (NxMessageLoop, or the host's own Windows message loop).
#ifndef NXUTIL_TIMING_H
#define NXUTIL_TIMING_H

#include "nxutil_export.h"
#include "nxutil_types.h"
#include "signals/signals.h"

#include <cstdint>

/// The platform's performance counter as nanoseconds, 100-ns units and milliseconds from an
/// arbitrary origin. Each reading checks, per thread, that the counter did not run backwards
/// and logs an info line through TRK::TRKLogger when it did (the reading is still returned).
class NXUTIL_API CPUClock {
public:
    /// Reads the counter frequency; call once before the first reading. (A reading before it
    /// reads the frequency itself.)
    static void initClockFreq();
    /// ticks × 1e9 ÷ frequency in double precision, truncated.
    static unsigned long long getQPCTimeNS();
    /// ticks × 1e7 ÷ frequency in double precision, truncated.
    static unsigned long long getQPCTime100NS();
    /// ticks × 1000 ÷ frequency in exact 64-bit integer arithmetic (while ticks × 1000 < 2^64).
    static unsigned long long getQPCTimeMS();
    /// Sleeps `ms` milliseconds; one less from OS version code 8 on (Windows 8 and later sleep a
    /// timer tick too long), so OSSleep(1) then only yields. Linux reads as code 7.
    static void OSSleep(unsigned int ms);
    /// Sleeps until getQPCTimeNS() reaches `target`: whole milliseconds at once when at least
    /// 2 remain, then 1 ms sleeps between readings. False at once when `target` has passed.
    static bool sleepToNS(unsigned long long target);
};

/// A periodic timer whose ticks emit sigTimer (no argument) on the platform's timer thread.
/// Owned by the caller of getMultimediaTimer and given back with release().
class NXUTIL_API IMultimediaTimer {
public:
    IMultimediaTimer();
    virtual ~IMultimediaTimer();
    /// Deletes the timer, cancelling it first.
    virtual void release() = 0;
    /// Starts ticking every `period` ms (as finely as the platform can); true when running.
    /// A running timer keeps its period and returns true.
    virtual bool start(unsigned int period) = 0;
    /// Cancels the timer; a later tick of it emits nothing.
    virtual void stop() = 0;
    virtual bool isRunning() = 0;

    /// Emitted once per tick with emit(); connect no-argument member functions.
    sigslot::signal_base sigTimer;
};

/// A new, stopped timer.
NXUTIL_API IMultimediaTimer* getMultimediaTimer();

/// A callback of CWinTimer's registry.
class ITimerFunc {
public:
    virtual void OnTimer(unsigned int id) = 0;
};

/// The callback a CSingleTimer forwards to.
class ISingleTimerFunc {
public:
    virtual void OnTimer(unsigned int id) = 0;
};

/// A thread-timer procedure (TIMERPROC): window (null), WM_TIMER, timer id, tick count.
typedef void(NXUTIL_CALLBACK* NxTimerProc)(HWND hwnd, unsigned int msg, std::uintptr_t id,
                                           unsigned long time);

/// Thread timers (no window) routed through one process-wide registry to ITimerFunc objects.
/// A timer fires on the thread that set it, while that thread dispatches messages.
class NXUTIL_API CWinTimer {
public:
    /// Sets a timer of `elapse` ms calling func->OnTimer(id); returns the id, or 0 (nothing
    /// registered). The callback is not owned and must live until KillTimer.
    static unsigned int SetTimer(unsigned int elapse, ITimerFunc* func);
    /// Kills the timer and forgets its callback; 0 does nothing. A tick already queued for it
    /// calls nothing.
    static void KillTimer(unsigned int id);
};

/// Holds one ISingleTimerFunc for a caller's own timer procedure to forward ticks to.
class NXUTIL_API CSingleTimer {
public:
    CSingleTimer() : m_func(nullptr) {}
    void watch(ISingleTimerFunc* func) { m_func = func; }
    void revoke() { m_func = nullptr; }
    /// Sets a thread timer with the caller's procedure; returns its id or 0.
    unsigned int SetTimer(unsigned int elapse, NxTimerProc proc);
    void KillTimer(unsigned int id);
    /// Calls the watched callback's OnTimer(id), if any.
    void OnTimer(unsigned int id) {
        if (m_func)
            m_func->OnTimer(id);
    }

private:
    ISingleTimerFunc* m_func;
};

/// An object posted through a thread switch; the switch releases it after emitting it.
class NXUTIL_API ISwitchTask {
public:
    virtual ~ISwitchTask();
    /// Disposes of the task; deletes it unless overridden.
    virtual void release();
};

/// Moves work onto the thread that created the switch: a posted task is emitted with sigSwitch
/// (one argument, the task) on that thread while it dispatches messages, then released.
class NXUTIL_API ISwitchThread {
public:
    ISwitchThread();
    virtual ~ISwitchThread();
    /// Deletes the switch (on its own thread); tasks still queued are dropped unreleased.
    virtual void release() = 0;
    /// Queues `task`; non-zero on success. On 0 the task stays the caller's.
    virtual int post(ISwitchTask* task) = 0;

    /// Emitted with emit(task); connect member functions taking one pointer.
    sigslot::signal_base sigSwitch;
};

/// A new switch bound to the calling thread.
NXUTIL_API ISwitchThread* getSwitchThread();

/// The next process-wide event id: 1, 2, 3, ... up to 2^63 + 1, then 1 again. Atomic.
NXUTIL_API unsigned long long genEventId();

/// Dispatches the calling thread's messages and timers (thread timers, thread switches).
class NXUTIL_API NxMessageLoop {
public:
    /// Dispatches every queued message and due timer; returns how many.
    static int processPending();
    /// Dispatches for `milliseconds`, sleeping while nothing is due; returns how many.
    static int runFor(unsigned int milliseconds);
};

#endif
