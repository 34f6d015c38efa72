// IMultimediaTimer over the platform's periodic timers: each tick emits sigTimer if it belongs
// to the timer's current id, so a late tick of a stopped or restarted timer emits nothing.
//
// start, stop and release may be called from several threads at once: a lock in the timer makes
// "no id yet, so set a platform timer" one step, so one timer never owns two platform timers.
// The lock is held while a platform timer is set but never while one is cancelled: cancelling
// waits for a tick being delivered, and that tick's slot may itself call start or stop.
#include "platform/mmtimer.h"
#include "timing/timing.h"
#include "timing/timing_internal.h"

#include <atomic>
#include <mutex>

IMultimediaTimer::IMultimediaTimer() = default;
IMultimediaTimer::~IMultimediaTimer() = default;

namespace {

class MultimediaTimer : public IMultimediaTimer {
public:
    ~MultimediaTimer() override { stop(); }

    void release() override { delete this; }

    bool start(unsigned int period) override {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_id.load() != 0)
            return true;
        // 0 when the platform has no timer to give (no thread for the timer service, or the
        // system's timers are used up): the timer stays stopped and a later start tries again.
        const unsigned id =
            platform::mmTimerSet(period, &tick, reinterpret_cast<std::uintptr_t>(this));
        m_id.store(id);
        return id != 0;
    }

    void stop() override {
        unsigned id;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            id = m_id.exchange(0);
        }
        // Outside the lock: this may wait for a tick whose slot calls start or stop.
        if (id)
            platform::mmTimerKill(id);
    }

    bool isRunning() override { return m_id.load() != 0; }
    unsigned id() const { return m_id.load(); }

    static void NXUTIL_CALLBACK tick(unsigned id, unsigned, std::uintptr_t user, std::uintptr_t,
                                     std::uintptr_t) {
        auto* self = reinterpret_cast<MultimediaTimer*>(user);
        if (self && self->m_id.load() == id)
            self->sigTimer.emit();
    }

private:
    // Makes start's check and set one step against other starts and stops.
    std::mutex m_lock;
    // Written by start/stop under m_lock, compared by every tick on the timer thread.
    std::atomic<unsigned> m_id{0};
};

}  // namespace

IMultimediaTimer* getMultimediaTimer() { return new MultimediaTimer; }

namespace nxtiming {

platform::MmTimerProc multimediaTickProc() { return &MultimediaTimer::tick; }

unsigned multimediaTimerId(IMultimediaTimer* timer) {
    return static_cast<MultimediaTimer*>(timer)->id();
}

}  // namespace nxtiming
