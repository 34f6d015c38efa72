// IMultimediaTimer over the platform's periodic timers: each tick emits sigTimer if it belongs
// to the timer's current id, so a late tick of a stopped or restarted timer emits nothing.
#include "platform/mmtimer.h"
#include "timing/timing.h"
#include "timing/timing_internal.h"

#include <atomic>

IMultimediaTimer::IMultimediaTimer() = default;
IMultimediaTimer::~IMultimediaTimer() = default;

namespace {

class MultimediaTimer : public IMultimediaTimer {
public:
    ~MultimediaTimer() override {
        const unsigned id = m_id.exchange(0);
        if (id)
            platform::mmTimerKill(id);
    }

    void release() override { delete this; }

    bool start(unsigned int period) override {
        if (m_id.load() != 0)
            return true;
        const unsigned id =
            platform::mmTimerSet(period, &tick, reinterpret_cast<std::uintptr_t>(this));
        m_id.store(id);
        return id != 0;
    }

    void stop() override {
        const unsigned id = m_id.exchange(0);
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

    // Written by start/stop on the host's thread, compared by every tick on the timer thread.
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
