// Multimedia timers, thread timers, the thread switch and event ids, on the real platform. Waits
// are polls bounded only to catch hangs, never assertions on how long something took.
#include "platform/syscalls.h"
#include "support/child_process.h"
#include "timing/timing.h"
#include "timing/timing_internal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Polls `done` for about 5 s at most, running the calling thread's message loop when `pump`.
template <typename Pred>
bool waitUntil(Pred done, bool pump = false) {
    for (int i = 0; i < 1000 && !done(); ++i)
        pump ? void(NxMessageLoop::runFor(5)) : std::this_thread::sleep_for(5ms);
    return done();
}

using Timer = std::unique_ptr<IMultimediaTimer, void (*)(IMultimediaTimer*)>;
Timer newTimer() { return {getMultimediaTimer(), [](IMultimediaTimer* t) { t->release(); }}; }

struct TickCounter : sigslot::has_slots {
    std::atomic<int> ticks{0};
    IMultimediaTimer* stopOnTick = nullptr;
    void onTick() {
        ++ticks;
        if (stopOnTick)
            stopOnTick->stop();  // from the timer's own thread: must not wait for itself
    }
};

TEST(EventId, StartsAtOneAndCountsUp) {
    for (unsigned long long expected : {1u, 2u, 3u})
        EXPECT_EQ(expected, genEventId());
}

TEST(MultimediaTimer, StartStopRestartReleaseAndLateTicks) {
    TickCounter ca, cb;  // outlive the timers, which stop ticking when released
    Timer a = newTimer(), b = newTimer();
    a->sigTimer.connect(&ca, &TickCounter::onTick);
    b->sigTimer.connect(&cb, &TickCounter::onTick);
    EXPECT_FALSE(a->isRunning());
    ASSERT_TRUE(a->start(5));
    EXPECT_TRUE(a->start(40)) << "already running: unchanged";
    EXPECT_TRUE(a->isRunning());
    EXPECT_TRUE(waitUntil([&] { return ca.ticks >= 5; }));
    EXPECT_EQ(0, cb.ticks.load()) << "timers are independent";

    const unsigned first = nxtiming::multimediaTimerId(a.get());
    a->stop();
    EXPECT_FALSE(a->isRunning());
    EXPECT_EQ(0u, nxtiming::multimediaTimerId(a.get()));
    a->stop();  // stopped: nothing happens
    const int atStop = ca.ticks;
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(atStop, ca.ticks.load()) << "no tick after stop returned";
    ASSERT_TRUE(a->start(5));
    EXPECT_TRUE(waitUntil([&] { return ca.ticks >= atStop + 3; }));

    ASSERT_TRUE(b->start(5));
    EXPECT_TRUE(waitUntil([&] { return cb.ticks >= 2; }));
    b.reset();  // released while running: cancelled
    const int atRelease = cb.ticks;
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(atRelease, cb.ticks.load());

    // Late platform ticks of a slow timer, delivered as the platform would deliver them.
    a->stop();
    ASSERT_TRUE(a->start(1000));
    const unsigned second = nxtiming::multimediaTimerId(a.get());
    EXPECT_NE(first, second);
    ca.ticks = 0;
    const platform::MmTimerProc tick = nxtiming::multimediaTickProc();
    const auto user = reinterpret_cast<std::uintptr_t>(a.get());
    tick(first, 0, user, 0, 0);
    EXPECT_EQ(0, ca.ticks.load()) << "a tick of the stopped timer";
    tick(second, 0, 0, 0, 0);
    EXPECT_EQ(0, ca.ticks.load()) << "no user data";
    tick(second, 0, user, 0, 0);
    EXPECT_EQ(1, ca.ticks.load());
    a->stop();
    tick(second, 0, user, 0, 0);
    EXPECT_EQ(1, ca.ticks.load()) << "a tick after stop";

    ca.stopOnTick = a.get();
    ASSERT_TRUE(a->start(1));
    EXPECT_TRUE(waitUntil([&] { return !a->isRunning(); }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(2, ca.ticks.load()) << "the slot stopped its own timer at its first tick";
}

// The platform gives no timer: start is false, the timer stays stopped without an id, and runs
// once the platform recovers. Each row runs in a fresh child, where the POSIX timer service has
// no thread yet. refusedHere: whether this backend needs the operation to set a timer.
struct RefusedStart { const char* name; platform::SysOp op; bool refusedHere; };
const RefusedStart kRefusedStarts[] = {
    {"timer", platform::SysOp::StartTimer, true},
#ifdef _WIN32
    {"thread", platform::SysOp::CreateThread, false},  // the system's own timer thread
#else
    {"thread", platform::SysOp::CreateThread, true},  // the timer service's thread
#endif
};

TEST(MultimediaTimerChild, StartRefusedByThePlatform) {
    if (!nxtest::isChildProcess())
        return;
    const std::string which = nxtest::getEnv("NXTEST_REFUSED");
    for (const RefusedStart& row : kRefusedStarts) {
        if (which != row.name)
            continue;
        TickCounter c;
        Timer t = newTimer();
        t->sigTimer.connect(&c, &TickCounter::onTick);
        {
            // The user's process limit: every attempt fails while the fault lasts.
            platform::ScopedFault limit({row.op, platform::Fault::TryAgain, 1, 0});
            for (int attempt = 0; attempt < 2; ++attempt) {
                EXPECT_EQ(!row.refusedHere, t->start(5)) << row.name;
                EXPECT_EQ(!row.refusedHere, t->isRunning());
                EXPECT_EQ(!row.refusedHere, nxtiming::multimediaTimerId(t.get()) != 0);
                t->stop();
            }
        }
        ASSERT_TRUE(t->start(5)) << row.name << ": the platform has timers again";
        EXPECT_TRUE(waitUntil([&] { return c.ticks >= 2; }));
        return;
    }
    FAIL() << "no such row: " << which;
}

TEST(MultimediaTimer, StartFailsWhenThePlatformRefusesATimerAndSucceedsLater) {
    for (const RefusedStart& row : kRefusedStarts)
        EXPECT_EQ(0, nxtest::runSelf("MultimediaTimerChild.StartRefusedByThePlatform",
                                     {{"NXTEST_REFUSED", row.name}}))
            << row.name;
}

// The platform timers set through the table note their ids when they tick, then hand the tick
// on to the timer's own.
std::mutex g_tickedLock;
std::set<unsigned> g_ticked;

void NXUTIL_CALLBACK countingTick(unsigned id, unsigned msg, std::uintptr_t user,
                                  std::uintptr_t dw1, std::uintptr_t dw2) {
    {
        std::lock_guard<std::mutex> guard(g_tickedLock);
        g_ticked.insert(id);
    }
    nxtiming::multimediaTickProc()(id, msg, user, dw1, dw2);
}

unsigned countingStartTimer(unsigned delayMs, platform::MmTimerProc, std::uintptr_t user) {
    return platform::systemCalls().startTimer(delayMs, countingTick, user);
}

// The ids that ticked since the last call that took them.
std::set<unsigned> ticked(bool take = true) {
    std::lock_guard<std::mutex> guard(g_tickedLock);
    return take ? std::exchange(g_ticked, {}) : g_ticked;
}

TEST(MultimediaTimer, ConcurrentStartsAndStopsLeaveOnePlatformTimerAndReleaseEndsIt) {
    constexpr int kThreads = 8, kRounds = 100;
    platform::sys().startTimer = countingStartTimer;
    struct Restore { ~Restore() { platform::clearFaults(); } } restore;
    TickCounter c;
    IMultimediaTimer* t = getMultimediaTimer();
    t->sigTimer.connect(&c, &TickCounter::onTick);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&] {
            ++ready;
            while (ready < kThreads)
                std::this_thread::yield();
            for (int r = 0; r < kRounds; ++r) {
                EXPECT_TRUE(t->start(1));
                t->stop();
                EXPECT_TRUE(t->start(1));
            }
        });
    for (auto& th : threads)
        th.join();

    // Every thread ended with a start: one platform timer runs, the one the timer knows.
    const unsigned live = nxtiming::multimediaTimerId(t);
    ASSERT_NE(0u, live);
    EXPECT_TRUE(waitUntil([&] { return c.ticks >= 3; }));
    ticked();
    EXPECT_TRUE(waitUntil([&] { return !ticked(false).empty(); }));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(std::set<unsigned>{live}, ticked()) << "a platform timer leaked";

    t->release();
    ticked();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(std::set<unsigned>{}, ticked()) << "ticks after release";
}

// Both callback kinds: counts its calls and may kill a timer (its own or another) from inside.
struct CountingFunc : ITimerFunc, ISingleTimerFunc {
    int calls = 0;
    unsigned lastId = 0, kill = 0;
    void OnTimer(unsigned int id) override {
        ++calls;
        lastId = id;
        CWinTimer::KillTimer(kill);  // 0 does nothing
    }
};

CSingleTimer* g_single = nullptr;
void NXUTIL_CALLBACK forwardProc(HWND, unsigned int, std::uintptr_t id, unsigned long) {
    g_single->OnTimer(static_cast<unsigned int>(id));
}

TEST(ThreadTimers, TicksReachTheCallbackUntilKilledAlsoFromInsideAndSingleTimersUntilRevoked) {
    CountingFunc f;
    const unsigned id = CWinTimer::SetTimer(10, &f);
    ASSERT_NE(0u, id);
    EXPECT_TRUE(waitUntil([&] { return f.calls >= 3; }, true));
    EXPECT_EQ(id, f.lastId);
    CWinTimer::KillTimer(id);
    const int atKill = f.calls;
    NxMessageLoop::runFor(40);
    EXPECT_EQ(atKill, f.calls);

    CountingFunc self, killer, victim;
    self.kill = CWinTimer::SetTimer(10, &self);
    const unsigned killerId = CWinTimer::SetTimer(10, &killer);
    killer.kill = CWinTimer::SetTimer(10, &victim);
    ASSERT_NE(0u, self.kill * killerId * killer.kill);
    // All three fall due before the loop looks: the killer runs before the victim, whose tick
    // must then find nothing registered.
    std::this_thread::sleep_for(30ms);
    NxMessageLoop::processPending();
    NxMessageLoop::runFor(40);
    EXPECT_EQ(1, self.calls);
    EXPECT_EQ(0, victim.calls);
    EXPECT_GE(killer.calls, 1);
    CWinTimer::KillTimer(killerId);

    // A single timer forwards to the callback it watches until that is revoked.
    CSingleTimer holder;
    CountingFunc watched;
    g_single = &holder;
    holder.OnTimer(1);  // nothing watched
    holder.watch(&watched);
    const unsigned single = holder.SetTimer(10, &forwardProc);
    ASSERT_NE(0u, single);
    EXPECT_TRUE(waitUntil([&] { return watched.calls >= 2; }, true));
    EXPECT_EQ(single, watched.lastId);
    holder.revoke();
    const int atRevoke = watched.calls;
    NxMessageLoop::runFor(30);
    EXPECT_EQ(atRevoke, watched.calls);
    holder.KillTimer(single);
}

// Records in order what happens to switch tasks: "s<n>" when the slot sees task n on the
// `owner` thread ("S<n>" on another), "r<n>" when task n is released.
struct TaskLog : sigslot::has_slots {
    std::mutex m;
    std::vector<std::string> events;
    std::thread::id owner;
    void onTask(ISwitchTask* t);
    void add(const std::string& e) {
        std::lock_guard<std::mutex> g(m);
        events.push_back(e);
    }
    std::size_t count() {
        std::lock_guard<std::mutex> g(m);
        return events.size();
    }
};

struct Task : ISwitchTask {
    Task(int n, TaskLog* log) : n(n), log(log) {}
    void release() override { log->add("r" + std::to_string(n)); delete this; }
    int n;
    TaskLog* log;
};

void TaskLog::onTask(ISwitchTask* t) {
    add((std::this_thread::get_id() == owner ? "s" : "S") + std::to_string(static_cast<Task*>(t)->n));
}

TEST(SwitchThread, TasksRunInPostingOrderOnTheOwningThreadAndAreReleased) {
    TaskLog log;
    std::atomic<ISwitchThread*> sw{nullptr};
    std::atomic<bool> done{false};
    std::thread thread([&] {
        log.owner = std::this_thread::get_id();
        ISwitchThread* s = getSwitchThread();
        s->sigSwitch.connect(&log, &TaskLog::onTask);
        // Posted from the owning thread itself: queued, not called at once.
        EXPECT_EQ(1, s->post(new Task(0, &log)));
        EXPECT_EQ(0u, log.count());
        sw = s;
        while (!done)
            NxMessageLoop::runFor(2);
        NxMessageLoop::processPending();
        s->release();
    });
    {
        // Joins on every way out: an early ASSERT must not leave a joinable thread (it would
        // end the program).
        struct Joiner {
            std::thread& t;
            std::atomic<bool>& done;
            ~Joiner() { done = true, t.join(); }
        } joiner{thread, done};
        ASSERT_TRUE(waitUntil([&] { return sw.load() != nullptr; }));
        for (int i = 1; i <= 5; ++i)
            ASSERT_EQ(1, sw.load()->post(new Task(i, &log))) << "task " << i;
        EXPECT_TRUE(waitUntil([&] { return log.count() == 12; }));
    }
    EXPECT_EQ((std::vector<std::string>{"s0", "r0", "s1", "r1", "s2", "r2", "s3", "r3", "s4", "r4",
                                        "s5", "r5"}),
              log.events);
}

TEST(SwitchThread, TaskWithoutSlotsIsStillReleasedAndDeadWindowRefusesPosts) {
    TaskLog log;
    ISwitchThread* s = getSwitchThread();
    ASSERT_EQ(1, s->post(new Task(7, &log)));
    EXPECT_TRUE(waitUntil([&] { return log.count() == 1; }, true));
    s->release();
    // A switch whose thread has ended has lost its window: posts fail, the task stays ours.
    ISwitchThread* orphan = nullptr;
    std::thread([&] { orphan = getSwitchThread(); }).join();
    const auto t = std::make_unique<Task>(8, &log);
    EXPECT_EQ(0, orphan->post(t.get()));
    delete orphan;  // its window is already gone; nothing to destroy
    EXPECT_EQ(std::vector<std::string>{"r7"}, log.events);
}

}  // namespace
