// Multimedia timers on one timer-service thread with absolute-deadline sleeps.
//
// The service is created with the first timer and never destroyed: its thread may outlive the
// static destructors of a process that exits with timers running, and then touches nothing but
// the service itself. A forked child starts a service of its own.
#include "platform/mmtimer.h"
#include "platform/posix/posix_support.h"
#include "platform/syscalls.h"

#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <thread>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC

struct Timer {
    Clock::duration period;
    Clock::time_point due;
    MmTimerProc proc;
    std::uintptr_t user;
};

class Service {
public:
    /// Starts the service's thread; false when the system refuses a thread.
    bool start() {
        return sys().createThread([](void* self) { static_cast<Service*>(self)->run(); }, this);
    }

    unsigned add(unsigned delayMs, MmTimerProc proc, std::uintptr_t user) {
        // A zero period would spin; the finest period is one millisecond.
        const Clock::duration period = std::chrono::milliseconds(delayMs ? delayMs : 1);
        std::lock_guard<std::mutex> guard(m_mutex);
        unsigned id = m_nextId++;
        if (id == 0)
            id = m_nextId++;
        m_timers[id] = Timer{period, Clock::now() + period, proc, user};
        m_wake.notify_one();
        return id;
    }

    void remove(unsigned id) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_timers.erase(id);
        m_wake.notify_one();
        if (std::this_thread::get_id() == m_threadId)
            return;  // a callback stopping a timer: waiting for itself would never end
        m_delivered.wait(lock, [&] { return m_delivering != id; });
    }

private:
    void run() {
#if defined(__linux__)
        // The kernel may otherwise defer this thread's timed waits by up to 50 us to batch
        // wake-ups; a timer thread wants its deadlines to the microsecond.
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
        std::unique_lock<std::mutex> lock(m_mutex);
        m_threadId = std::this_thread::get_id();
        for (;;) {
            if (m_timers.empty()) {
                m_wake.wait(lock);
                continue;
            }
            auto next = m_timers.begin();
            for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
                if (it->second.due < next->second.due)
                    next = it;
            const Clock::time_point now = Clock::now();
            if (next->second.due > now) {
                // A copy: the timer may be erased while this thread waits.
                const Clock::time_point due = next->second.due;
                m_wake.wait_until(lock, due);
                continue;
            }
            Timer& t = next->second;
            t.due += t.period;
            if (t.due <= now)  // more than a period behind: keep the phase, drop missed ticks
                t.due += t.period * ((now - t.due) / t.period + 1);
            const unsigned id = next->first;
            const MmTimerProc proc = t.proc;
            const std::uintptr_t user = t.user;
            m_delivering = id;
            lock.unlock();
            proc(id, 0, user, 0, 0);
            lock.lock();
            m_delivering = 0;
            m_delivered.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_delivered;
    std::map<unsigned, Timer> m_timers;
    unsigned m_nextId = 1;
    unsigned m_delivering = 0;
    std::thread::id m_threadId;
};

// The service of this process. A forked child has no timer thread (and may have copied the
// service's mutex in a locked state), so it starts a service of its own on its first timer.
std::atomic<Service*> g_service{nullptr};
std::mutex g_serviceStart;

void forgetServiceInChild() {
    g_service.store(nullptr, std::memory_order_relaxed);
    new (&g_serviceStart) std::mutex;
}

Service* service() {
    Service* s = g_service.load(std::memory_order_acquire);
    if (!s) {
        std::lock_guard<std::mutex> guard(g_serviceStart);
        s = g_service.load(std::memory_order_acquire);
        if (!s) {
            static const int registered = ::pthread_atfork(nullptr, nullptr, forgetServiceInChild);
            (void)registered;
            s = new (std::nothrow) Service;
            if (!s || !s->start()) {
                // No thread (the user's process limit, say): no service yet; the next timer
                // tries again.
                delete s;
                return nullptr;
            }
            g_service.store(s, std::memory_order_release);
        }
    }
    return s;
}

}  // namespace

namespace posix {

unsigned startServiceTimer(unsigned delayMs, MmTimerProc proc, std::uintptr_t user) {
    Service* s = service();
    return s ? s->add(delayMs, proc, user) : 0;
}

}  // namespace posix

unsigned mmTimerSet(unsigned delayMs, MmTimerProc proc, std::uintptr_t user) {
    if (!proc)
        return 0;
    return sys().startTimer(delayMs, proc, user);
}

void mmTimerKill(unsigned id) {
    // No service means no timer was ever started: nothing to cancel.
    Service* s = id != 0 ? g_service.load(std::memory_order_acquire) : nullptr;
    if (s)
        s->remove(id);
}

}  // namespace platform
