// Multimedia timers, thread timers, the thread switch and event ids, on the real platform.
// Waits are bounded polls for an outcome, never assertions on how long something took.
#include "timing/timing.h"
#include "timing/timing_internal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Runs the calling thread's message loop until `done` holds (at most 5 s).
template <typename Pred>
bool pumpUntil(Pred done) {
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        NxMessageLoop::runFor(5);
    }
    return true;
}

template <typename Pred>
bool waitUntil(Pred done) {
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

struct TickCounter : sigslot::has_slots {
    std::atomic<int> ticks{0};
    void onTick() { ticks.fetch_add(1); }
};

TEST(EventId, StartsAtOneAndCountsUp) {
    EXPECT_EQ(1u, genEventId());
    EXPECT_EQ(2u, genEventId());
    EXPECT_EQ(3u, genEventId());
}

TEST(MultimediaTimer, StartStopRestartAndRelease) {
    IMultimediaTimer* a = getMultimediaTimer();
    IMultimediaTimer* b = getMultimediaTimer();
    ASSERT_NE(a, b);
    EXPECT_NE(&a->sigTimer, &b->sigTimer);
    TickCounter ca, cb;
    a->sigTimer.connect(&ca, &TickCounter::onTick);
    b->sigTimer.connect(&cb, &TickCounter::onTick);
    EXPECT_FALSE(a->isRunning());
    ASSERT_TRUE(a->start(5));
    EXPECT_TRUE(a->start(40)) << "already running: unchanged";
    EXPECT_TRUE(a->isRunning());
    EXPECT_TRUE(waitUntil([&] { return ca.ticks >= 5; }));
    EXPECT_EQ(0, cb.ticks.load()) << "timers are independent";

    a->stop();
    EXPECT_FALSE(a->isRunning());
    a->stop();  // stopped: nothing happens
    const int atStop = ca.ticks;
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(atStop, ca.ticks.load()) << "no tick after stop returned";

    ASSERT_TRUE(a->start(5));
    EXPECT_TRUE(waitUntil([&] { return ca.ticks >= atStop + 3; }));

    ASSERT_TRUE(b->start(5));
    EXPECT_TRUE(waitUntil([&] { return cb.ticks >= 2; }));
    b->release();  // running: cancelled
    const int atRelease = cb.ticks;
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(atRelease, cb.ticks.load());
    a->release();
}

TEST(MultimediaTimer, TickOfAnOldIdEmitsNothing) {
    IMultimediaTimer* t = getMultimediaTimer();
    TickCounter c;
    t->sigTimer.connect(&c, &TickCounter::onTick);
    ASSERT_TRUE(t->start(1000));
    const unsigned first = nxtiming::multimediaTimerId(t);
    t->stop();
    EXPECT_EQ(0u, nxtiming::multimediaTimerId(t));
    ASSERT_TRUE(t->start(1000));
    const unsigned second = nxtiming::multimediaTimerId(t);
    EXPECT_NE(first, second);
    // Late platform ticks, delivered as the platform would deliver them.
    const platform::MmTimerProc tick = nxtiming::multimediaTickProc();
    const auto user = reinterpret_cast<std::uintptr_t>(t);
    tick(first, 0, user, 0, 0);
    EXPECT_EQ(0, c.ticks.load()) << "a tick of the stopped timer";
    tick(second, 0, 0, 0, 0);
    EXPECT_EQ(0, c.ticks.load()) << "no user data";
    tick(second, 0, user, 0, 0);
    EXPECT_EQ(1, c.ticks.load());
    t->stop();
    tick(second, 0, user, 0, 0);
    EXPECT_EQ(1, c.ticks.load()) << "a tick after stop";
    t->release();
}

TEST(MultimediaTimer, DestroyedReceiverIsDroppedAtTheNextTick) {
    IMultimediaTimer* t = getMultimediaTimer();
    auto* gone = new TickCounter;
    TickCounter keep;
    t->sigTimer.connect(gone, &TickCounter::onTick);
    t->sigTimer.connect(&keep, &TickCounter::onTick);
    delete gone;
    ASSERT_TRUE(t->start(2));
    EXPECT_TRUE(waitUntil([&] { return keep.ticks >= 2; }));
    t->stop();
    EXPECT_EQ(1u, t->sigTimer.connection_count());
    t->release();
}

struct SelfStopper : sigslot::has_slots {
    IMultimediaTimer* timer = nullptr;
    std::atomic<int> ticks{0};
    void onTick() {
        ++ticks;
        timer->stop();  // from the timer's own thread: must not wait for itself
    }
};

TEST(MultimediaTimer, SlotMayStopItsOwnTimer) {
    IMultimediaTimer* t = getMultimediaTimer();
    SelfStopper s;
    s.timer = t;
    t->sigTimer.connect(&s, &SelfStopper::onTick);
    ASSERT_TRUE(t->start(1));
    EXPECT_TRUE(waitUntil([&] { return !t->isRunning(); }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(1, s.ticks.load());
    t->release();
}

struct CountingFunc : ITimerFunc {
    int calls = 0;
    unsigned lastId = 0;
    bool killSelf = false;
    unsigned killOther = 0;
    void OnTimer(unsigned int id) override {
        ++calls;
        lastId = id;
        if (killSelf)
            CWinTimer::KillTimer(id);
        if (killOther)
            CWinTimer::KillTimer(killOther);
    }
};

TEST(WinTimer, TicksReachTheRegisteredCallbackUntilKilled) {
    CountingFunc f;
    CWinTimer::KillTimer(0);
    const unsigned id = CWinTimer::SetTimer(10, &f);
    ASSERT_NE(0u, id);
    EXPECT_TRUE(pumpUntil([&] { return f.calls >= 3; }));
    EXPECT_EQ(id, f.lastId);
    CWinTimer::KillTimer(id);
    const int atKill = f.calls;
    NxMessageLoop::runFor(40);
    EXPECT_EQ(atKill, f.calls);
}

TEST(WinTimer, CallbackMayKillItsOwnTimerOrAQueuedOne) {
    CountingFunc self;
    self.killSelf = true;
    CountingFunc killer, victim;
    const unsigned selfId = CWinTimer::SetTimer(10, &self);
    const unsigned killerId = CWinTimer::SetTimer(10, &killer);
    const unsigned victimId = CWinTimer::SetTimer(10, &victim);
    ASSERT_NE(0u, selfId * killerId * victimId);
    killer.killOther = victimId;
    // All three fall due before the loop looks: the killer runs before the victim, whose tick
    // must then find nothing registered.
    std::this_thread::sleep_for(30ms);
    NxMessageLoop::processPending();
    NxMessageLoop::runFor(40);
    EXPECT_EQ(1, self.calls);
    EXPECT_EQ(0, victim.calls);
    EXPECT_GE(killer.calls, 1);
    CWinTimer::KillTimer(killerId);
}

struct SingleFunc : ISingleTimerFunc {
    int calls = 0;
    void OnTimer(unsigned int) override { ++calls; }
};

CSingleTimer* g_single = nullptr;
void NXUTIL_CALLBACK forwardProc(HWND, unsigned int, std::uintptr_t id, unsigned long) {
    g_single->OnTimer(static_cast<unsigned int>(id));
}

TEST(SingleTimer, ForwardsToTheWatchedCallbackUntilRevoked) {
    CSingleTimer holder;
    SingleFunc f;
    g_single = &holder;
    holder.OnTimer(1);  // nothing watched
    holder.watch(&f);
    const unsigned id = holder.SetTimer(10, &forwardProc);
    ASSERT_NE(0u, id);
    EXPECT_TRUE(pumpUntil([&] { return f.calls >= 2; }));
    holder.revoke();
    const int atRevoke = f.calls;
    NxMessageLoop::runFor(30);
    EXPECT_EQ(atRevoke, f.calls);
    holder.KillTimer(id);
}

struct Task : ISwitchTask {
    Task(int n, std::vector<int>* released, std::mutex* m) : n(n), released(released), m(m) {}
    void release() override {
        {
            std::lock_guard<std::mutex> g(*m);
            released->push_back(n);
        }
        delete this;
    }
    int n;
    std::vector<int>* released;
    std::mutex* m;
};

struct TaskSink : sigslot::has_slots {
    std::mutex m;
    std::vector<int> seen;
    std::vector<std::thread::id> threads;
    void onTask(ISwitchTask* t) {
        std::lock_guard<std::mutex> g(m);
        seen.push_back(static_cast<Task*>(t)->n);
        threads.push_back(std::this_thread::get_id());
    }
};

TEST(SwitchThread, TasksRunInPostingOrderOnTheOwningThreadAndAreReleased) {
    std::mutex m;
    std::vector<int> released;
    TaskSink sink;
    std::atomic<ISwitchThread*> sw{nullptr};
    std::atomic<bool> done{false};
    std::thread::id owner;
    std::thread thread([&] {
        owner = std::this_thread::get_id();
        ISwitchThread* s = getSwitchThread();
        s->sigSwitch.connect(&sink, &TaskSink::onTask);
        // Posted from the owning thread itself: queued, not called at once.
        ASSERT_EQ(1, s->post(new Task(0, &released, &m)));
        EXPECT_TRUE(sink.seen.empty());
        sw = s;
        while (!done)
            NxMessageLoop::runFor(2);
        NxMessageLoop::processPending();
        s->release();
    });
    ASSERT_TRUE(waitUntil([&] { return sw.load() != nullptr; }));
    for (int i = 1; i <= 5; ++i)
        ASSERT_EQ(1, sw.load()->post(new Task(i, &released, &m)));
    EXPECT_TRUE(waitUntil([&] {
        std::lock_guard<std::mutex> g(m);
        return released.size() == 6;
    }));
    done = true;
    thread.join();
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5}), sink.seen);
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5}), released);
    for (const auto& id : sink.threads)
        EXPECT_EQ(owner, id);
}

TEST(SwitchThread, TaskWithoutSlotsIsStillReleasedAndDeadWindowRefusesPosts) {
    std::mutex m;
    std::vector<int> released;
    ISwitchThread* s = getSwitchThread();
    ASSERT_EQ(1, s->post(new Task(7, &released, &m)));
    EXPECT_TRUE(pumpUntil([&] { return released.size() == 1; }));
    s->release();

    // A switch whose thread has ended has lost its window: posts fail, the task stays ours.
    ISwitchThread* orphan = nullptr;
    std::thread([&] { orphan = getSwitchThread(); }).join();
    Task* t = new Task(8, &released, &m);
    EXPECT_EQ(0, orphan->post(t));
    delete t;
    delete orphan;  // its window is already gone; nothing to destroy
    EXPECT_EQ(1u, released.size());
}

// Thread-safety under load: slots connect and disconnect while a timer ticks and tasks flow.
TEST(TimingStress, TimersTickWhileSlotsConnectAndDisconnect) {
    IMultimediaTimer* t = getMultimediaTimer();
    TickCounter fixed;
    t->sigTimer.connect(&fixed, &TickCounter::onTick);
    ASSERT_TRUE(t->start(1));
    std::vector<std::thread> churn;
    for (int k = 0; k < 2; ++k) {
        churn.emplace_back([t] {
            TickCounter mine;
            const auto end = std::chrono::steady_clock::now() + 300ms;
            while (std::chrono::steady_clock::now() < end) {
                t->sigTimer.connect(&mine, &TickCounter::onTick);
                std::this_thread::yield();
                t->sigTimer.disconnect(&mine);
            }
        });
    }
    for (auto& th : churn)
        th.join();
    t->stop();
    EXPECT_GT(fixed.ticks.load(), 0);
    EXPECT_EQ(1u, t->sigTimer.connection_count());
    t->release();
}

}  // namespace
