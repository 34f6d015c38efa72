// nxtool timers: a multimedia timer's tick statistics, a thread timer on the main thread's
// message loop, and tasks moved from the timer thread to the main thread through a thread
// switch. Also the demo screens of timing and of signals and slots.
#include "command.h"
#include "timing/timing.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// A task that records when it was posted and where it ran.
struct StampTask : ISwitchTask {
    unsigned long long postedNs = 0;
};

struct Collector : sigslot::has_slots {
    unsigned period = 10;
    unsigned long long startNs = 0;
    std::atomic<unsigned> ticks{0};
    std::atomic<long long> worstLateNs{0};
    std::atomic<unsigned long long> lastNs{0};
    ISwitchThread* toMain = nullptr;

    // On the timer thread.
    void onTick() {
        const unsigned long long now = CPUClock::getQPCTimeNS();
        const unsigned k = ticks.fetch_add(1) + 1;
        // Ticks are due on start + n * period; a tick that falls a whole period behind is
        // skipped, so a tick's lateness is how far it lies past the last due time.
        // A tick slightly early (Windows rounds to its timer resolution) is a negative lateness.
        const long long periodNs = period * 1000000ll;
        long long late = static_cast<long long>((now - startNs) % (period * 1000000ull));
        if (late > periodNs / 2)
            late -= periodNs;
        long long worst = worstLateNs.load();
        while (late > worst && !worstLateNs.compare_exchange_weak(worst, late)) {
        }
        lastNs = now;
        if (toMain && k % 50 == 0) {
            auto* t = new StampTask;
            t->postedNs = now;
            if (!toMain->post(t))
                t->release();
        }
    }

    // On the main thread, from its message loop.
    unsigned switched = 0;
    long long worstSwitchNs = 0;
    std::thread::id mainThread = std::this_thread::get_id();
    bool allOnMain = true;
    void onTask(ISwitchTask* t) {
        const auto* task = static_cast<StampTask*>(t);
        ++switched;
        worstSwitchNs = std::max(worstSwitchNs, static_cast<long long>(CPUClock::getQPCTimeNS() -
                                                                       task->postedNs));
        allOnMain = allOnMain && std::this_thread::get_id() == mainThread;
    }
};

struct LoopTimer : ITimerFunc {
    unsigned calls = 0;
    void OnTimer(unsigned int) override { ++calls; }
};

int runTimers(unsigned period, unsigned seconds, bool verbose) {
    CPUClock::initClockFreq();
    Collector c;
    c.period = period;
    ISwitchThread* sw = getSwitchThread();
    sw->sigSwitch.connect(&c, &Collector::onTask);
    c.toMain = sw;
    IMultimediaTimer* timer = getMultimediaTimer();
    timer->sigTimer.connect(&c, &Collector::onTick);
    LoopTimer loopTimer;
    const unsigned loopId = CWinTimer::SetTimer(100, &loopTimer);

    c.startNs = CPUClock::getQPCTimeNS();
    if (!timer->start(period)) {
        std::fprintf(stderr, "nxtool: the multimedia timer could not be started\n");
        timer->release();
        sw->release();
        return 1;
    }
    NxMessageLoop::runFor(seconds * 1000);
    timer->stop();
    NxMessageLoop::processPending();  // tasks posted by the last ticks
    CWinTimer::KillTimer(loopId);

    const unsigned ticks = c.ticks;
    const double meanMs =
        ticks > 1 ? static_cast<double>(c.lastNs - c.startNs) / ticks / 1e6 : 0.0;
    const unsigned long long due = (c.lastNs - c.startNs) / (period * 1000000ull);
    std::printf("multimedia timer  period %u ms, %u ticks in %u s (%llu skipped), mean period "
                "%.3f ms, worst lateness %.3f ms\n",
                period, ticks, seconds, due > ticks ? due - ticks : 0, meanMs,
                static_cast<double>(c.worstLateNs) / 1e6);
    std::printf("thread timer      100 ms on the main thread's loop: %u ticks\n", loopTimer.calls);
    std::printf("thread switch     %u tasks from the timer thread, %s, worst delay %.3f ms\n",
                c.switched, c.allOnMain ? "all run on the main thread" : "NOT all on main",
                static_cast<double>(c.worstSwitchNs) / 1e6);
    if (verbose) {
        const unsigned long long a = genEventId(), b = genEventId();
        std::printf("event ids         %llu, %llu, %llu\n", a, b, genEventId());
    }
    timer->release();
    sw->release();
    return 0;
}

int cmdTimers(const std::vector<std::string>& args) {
    unsigned period = 10, seconds = 3;
    for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == "--period")
            period = static_cast<unsigned>(std::strtoul(args[i + 1].c_str(), nullptr, 10));
        else if (args[i] == "--seconds")
            seconds = static_cast<unsigned>(std::strtoul(args[i + 1].c_str(), nullptr, 10));
    }
    return runTimers(period ? period : 1, seconds ? seconds : 1, true);
}

int demoTiming() {
    CPUClock::initClockFreq();
    const unsigned long long t0 = CPUClock::getQPCTimeNS();
    const bool slept = CPUClock::sleepToNS(t0 + 5000000);
    std::printf("sleepToNS(now + 5 ms): %s, woke %.3f ms later\n", slept ? "true" : "false",
                static_cast<double>(CPUClock::getQPCTimeNS() - t0) / 1e6);
    return runTimers(10, 1, false);
}

struct Greeter : sigslot::has_slots {
    explicit Greeter(const char* name) : name(name) {}
    void hello() { std::printf("  %s: hello\n", name); }
    void take(int* n) { std::printf("  %s: got %d\n", name, *n); }
    const char* name;
};

int demoSignals() {
    sigslot::signal_base plain, withArg;
    Greeter a("a");
    auto* b = new Greeter("b");
    plain.connect(&a, &Greeter::hello);
    plain.connect(b, &Greeter::hello);
    withArg.connect(b, &Greeter::take);
    std::printf("emit() to a and b:\n");
    plain.emit();
    int n = 42;
    std::printf("emit(&42) to b:\n");
    withArg.emit(&n);
    delete b;
    std::printf("b destroyed; emit() calls a only:\n");
    plain.emit();
    std::printf("  (b's connection was dropped: %zu left)\n", plain.connection_count());
    a.disconnect_all();
    std::printf("a.disconnect_all(); emit() calls nobody:\n");
    plain.emit();
    std::printf("  (%zu connections left)\n", plain.connection_count());
    return 0;
}

}  // namespace

NXTOOL_COMMAND("timers", "tick a multimedia timer and report its period and lateness",
               "usage: nxtool timers [--period MS] [--seconds S]\n\n"
               "Runs a multimedia timer of MS milliseconds (default 10) for S seconds (default 3)\n"
               "while the main thread runs its message loop with a 100 ms thread timer. Every\n"
               "50th tick posts a task through a thread switch to the main thread. Prints the\n"
               "tick count, the mean period, the worst lateness against the ideal schedule, the\n"
               "thread timer's ticks, and where and how late the switched tasks ran.",
               cmdTimers);
NXTOOL_DEMO(50, "timing", demoTiming);
NXTOOL_DEMO(55, "signals and slots", demoSignals);
