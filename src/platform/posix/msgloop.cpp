// The per-thread message queue behind NxMessageLoop: message-only windows, posted messages and
// thread timers.
//
// A window is a record in one process-wide table (id -> owning queue, procedure, user data);
// its handle is its id, never reused. Each thread that creates a window or a timer gets a queue;
// posting looks the window up, then appends to its owner's queue. Dispatching takes one message
// at a time (or one due timer) with no lock held while the procedure runs, so procedures may
// post, create, destroy and set timers freely.
#include "platform/msgloop.h"
#include "platform/posix/posix_support.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

struct Message {
    std::uintptr_t window;
    unsigned msg;
    std::uintptr_t wp;
    std::intptr_t lp;
};

struct ThreadTimer {
    unsigned id;
    Clock::duration period;
    Clock::time_point due;
    TimerProc proc;
};

struct Queue {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Message> posted;
    std::vector<ThreadTimer> timers;
    bool alive = true;
};

struct WindowRecord {
    std::shared_ptr<Queue> owner;
    WindowProc proc;
    std::intptr_t userData;
};

// Process-wide tables; created on first use and never destroyed, so threads that end during
// static destruction still find them.
struct Registry {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, WindowRecord> windows;
    std::unordered_map<unsigned, std::weak_ptr<Queue>> timerOwners;
    std::uintptr_t nextWindow = 0x10000;
    unsigned nextTimer = 1;
};

Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

// The calling thread's queue; when the thread ends its windows and timers go with it.
struct ThreadQueue {
    std::shared_ptr<Queue> queue = std::make_shared<Queue>();
    ~ThreadQueue() {
        Registry& r = registry();
        {
            std::lock_guard<std::mutex> guard(r.mutex);
            for (auto it = r.windows.begin(); it != r.windows.end();)
                it = it->second.owner == queue ? r.windows.erase(it) : std::next(it);
            for (auto it = r.timerOwners.begin(); it != r.timerOwners.end();)
                it = it->second.lock() == queue ? r.timerOwners.erase(it) : std::next(it);
        }
        std::lock_guard<std::mutex> guard(queue->mutex);
        queue->alive = false;
        queue->posted.clear();
        queue->timers.clear();
    }
};

// The calling thread's queue (created on first use).
const std::shared_ptr<Queue>& myQueue() {
    thread_local ThreadQueue q;
    return q.queue;
}

std::intptr_t NXUTIL_CALLBACK staticProc(HWND w, unsigned msg, std::uintptr_t wp,
                                         std::intptr_t lp) {
    return msgDefWindowProc(w, msg, wp, lp);
}

HWND toHandle(std::uintptr_t id) { return reinterpret_cast<HWND>(id); }
std::uintptr_t toId(HWND w) { return reinterpret_cast<std::uintptr_t>(w); }

unsigned long tickCount() {
    return static_cast<unsigned long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          Clock::now().time_since_epoch())
                                          .count());
}

}  // namespace

HWND msgWindowCreate() {
    const std::shared_ptr<Queue>& q = myQueue();
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    const std::uintptr_t id = r.nextWindow++;
    r.windows[id] = WindowRecord{q, staticProc, 0};
    return toHandle(id);
}

bool msgWindowIsValid(HWND w) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    return r.windows.count(toId(w)) != 0;
}

bool msgWindowDestroy(HWND w) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    // Queued messages stay in the queue and are dropped when dispatch finds no window.
    return r.windows.erase(toId(w)) != 0;
}

WindowProc msgWindowSetProc(HWND w, WindowProc proc) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    auto it = r.windows.find(toId(w));
    if (it == r.windows.end() || !proc)
        return nullptr;
    const WindowProc previous = it->second.proc;
    it->second.proc = proc;
    return previous;
}

std::intptr_t msgWindowUserData(HWND w) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    auto it = r.windows.find(toId(w));
    return it == r.windows.end() ? 0 : it->second.userData;
}

void msgWindowSetUserData(HWND w, std::intptr_t data) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    auto it = r.windows.find(toId(w));
    if (it != r.windows.end())
        it->second.userData = data;
}

std::intptr_t msgCallWindowProc(WindowProc proc, HWND w, unsigned msg, std::uintptr_t wp,
                                std::intptr_t lp) {
    return proc ? proc(w, msg, wp, lp) : 0;
}

std::intptr_t msgDefWindowProc(HWND, unsigned, std::uintptr_t, std::intptr_t) { return 0; }

bool msgPost(HWND w, unsigned msg, std::uintptr_t wp, std::intptr_t lp) {
    std::shared_ptr<Queue> owner;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> guard(r.mutex);
        auto it = r.windows.find(toId(w));
        if (it == r.windows.end())
            return false;
        owner = it->second.owner;
    }
    std::lock_guard<std::mutex> guard(owner->mutex);
    if (!owner->alive)
        return false;
    owner->posted.push_back(Message{toId(w), msg, wp, lp});
    owner->wake.notify_one();
    return true;
}

unsigned threadTimerSet(unsigned elapseMs, TimerProc proc) {
    if (!proc)
        return 0;
    const std::shared_ptr<Queue>& q = myQueue();
    const Clock::duration period = std::chrono::milliseconds(std::max(elapseMs, 10u));
    unsigned id;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> guard(r.mutex);
        id = r.nextTimer++;
        if (id == 0)
            id = r.nextTimer++;
        r.timerOwners[id] = q;
    }
    std::lock_guard<std::mutex> guard(q->mutex);
    q->timers.push_back(ThreadTimer{id, period, Clock::now() + period, proc});
    return id;
}

bool threadTimerKill(unsigned id) {
    std::shared_ptr<Queue> owner;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> guard(r.mutex);
        auto it = r.timerOwners.find(id);
        if (it == r.timerOwners.end())
            return false;
        owner = it->second.lock();
        r.timerOwners.erase(it);
    }
    if (!owner)
        return false;
    std::lock_guard<std::mutex> guard(owner->mutex);
    auto& timers = owner->timers;
    const auto it = std::find_if(timers.begin(), timers.end(),
                                 [id](const ThreadTimer& t) { return t.id == id; });
    if (it == timers.end())
        return false;
    timers.erase(it);
    return true;
}

int msgProcessPending() {
    const std::shared_ptr<Queue>& q = myQueue();
    int dispatched = 0;
    // A timer fires at most once per call, so a procedure slower than its period cannot keep
    // this loop busy for ever.
    std::vector<unsigned> fired;
    for (;;) {
        Message m{};
        bool haveMessage = false;
        ThreadTimer tick{};
        bool haveTick = false;
        {
            std::lock_guard<std::mutex> guard(q->mutex);
            if (!q->posted.empty()) {
                m = q->posted.front();
                q->posted.pop_front();
                haveMessage = true;
            } else {
                const Clock::time_point now = Clock::now();
                ThreadTimer* due = nullptr;
                for (ThreadTimer& t : q->timers)
                    if (t.due <= now && std::find(fired.begin(), fired.end(), t.id) == fired.end() &&
                        (!due || t.due < due->due))
                        due = &t;
                if (due) {
                    tick = *due;
                    haveTick = true;
                    due->due += due->period;
                    if (due->due <= now)
                        due->due = now + due->period;
                    fired.push_back(due->id);
                }
            }
        }
        if (haveMessage) {
            WindowProc proc = nullptr;
            {
                Registry& r = registry();
                std::lock_guard<std::mutex> guard(r.mutex);
                auto it = r.windows.find(m.window);
                if (it != r.windows.end())
                    proc = it->second.proc;
            }
            if (proc) {  // a message for a destroyed window is dropped
                proc(toHandle(m.window), m.msg, m.wp, m.lp);
                ++dispatched;
            }
        } else if (haveTick) {
            tick.proc(nullptr, kMsgTimer, tick.id, tickCount());
            ++dispatched;
        } else {
            return dispatched;
        }
    }
}

int msgRunFor(unsigned ms) {
    const std::shared_ptr<Queue>& q = myQueue();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    int dispatched = 0;
    for (;;) {
        dispatched += msgProcessPending();
        std::unique_lock<std::mutex> lock(q->mutex);
        if (Clock::now() >= deadline)
            return dispatched;
        if (!q->posted.empty())
            continue;
        Clock::time_point wake = deadline;
        for (const ThreadTimer& t : q->timers)
            wake = std::min(wake, t.due);
        q->wake.wait_until(lock, wake);
    }
}

}  // namespace platform
