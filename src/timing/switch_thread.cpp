// The thread switch: a hidden message-only window on the creating thread whose procedure
// emits each posted task with sigSwitch and then releases it; and the event-id counter.
#include "platform/msgloop.h"
#include "timing/timing.h"

#include <atomic>

ISwitchTask::~ISwitchTask() = default;
void ISwitchTask::release() { delete this; }

ISwitchThread::ISwitchThread() = default;
ISwitchThread::~ISwitchThread() = default;

namespace {

// The message that carries a task: one above the first user message number.
const unsigned kSwitchMessage = platform::kMsgUser + 1;

class SwitchThread : public ISwitchThread {
public:
    SwitchThread() : m_record(new WindowRecord) {
        m_record->window = platform::msgWindowCreate();
        if (platform::msgWindowIsValid(m_record->window)) {
            m_record->previous = platform::msgWindowSetProc(m_record->window, &switchProc);
            platform::msgWindowSetUserData(m_record->window, reinterpret_cast<std::intptr_t>(this));
        }
    }

    ~SwitchThread() override {
        if (platform::msgWindowIsValid(m_record->window))
            platform::msgWindowDestroy(m_record->window);
        delete m_record;
    }

    void release() override { delete this; }

    int post(ISwitchTask* task) override {
        if (!platform::msgWindowIsValid(m_record->window))
            return 0;
        return platform::msgPost(m_record->window, kSwitchMessage, 0,
                                 reinterpret_cast<std::intptr_t>(task))
                   ? 1
                   : 0;
    }

private:
    struct WindowRecord {
        HWND window = nullptr;
        platform::WindowProc previous = nullptr;
    };

    static std::intptr_t NXUTIL_CALLBACK switchProc(HWND w, unsigned msg, std::uintptr_t wp,
                                                    std::intptr_t lp) {
        auto* self = reinterpret_cast<SwitchThread*>(platform::msgWindowUserData(w));
        if (!self)
            return platform::msgDefWindowProc(w, msg, wp, lp);
        // Read before the slots run: a slot may release the switch.
        const platform::WindowProc previous = self->m_record->previous;
        if (msg == kSwitchMessage) {
            auto* task = reinterpret_cast<ISwitchTask*>(lp);
            self->sigSwitch.emit(task);
            if (task)
                task->release();
        }
        return platform::msgCallWindowProc(previous, w, msg, wp, lp);
    }

    WindowRecord* m_record;
};

std::atomic<unsigned long long> g_eventId{0};

}  // namespace

ISwitchThread* getSwitchThread() { return new SwitchThread; }

unsigned long long genEventId() {
    unsigned long long current = g_eventId.load(std::memory_order_relaxed);
    unsigned long long next;
    do {
        next = (current > (1ull << 63) ? 0 : current) + 1;
    } while (!g_eventId.compare_exchange_weak(current, next, std::memory_order_relaxed));
    return next;
}

int NxMessageLoop::processPending() { return platform::msgProcessPending(); }

int NxMessageLoop::runFor(unsigned int milliseconds) { return platform::msgRunFor(milliseconds); }
