// Signals, the clock and the multimedia timer against their usual alternatives, in one run:
//   - emission to 1 and 10 member-function slots, and connect + disconnect: nxutil's
//     sigslot, boost.signals2, libsigc++ 3 and a std::vector<std::function> loop;
//   - CPUClock::getQPCTimeNS against a bare clock_gettime(CLOCK_MONOTONIC);
//   - multimedia-timer lateness at 1 ms and 10 ms periods against a plain timerfd loop
//     (counters median_us and p99_us: how far each tick lies past its due time).
// The timerfd baseline talks to the kernel directly; that is the point of the comparison.
#include "timing/timing.h"

#include <benchmark/benchmark.h>
#include <boost/signals2.hpp>
#include <sigc++/sigc++.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

// ---- emission ------------------------------------------------------------------------------

struct NxReceiver : sigslot::has_slots {
    long hits = 0;
    void slot() { ++hits; }
};

struct PlainReceiver {
    long hits = 0;
    void slot() { ++hits; }
};

struct SigcReceiver : sigc::trackable {
    long hits = 0;
    void slot() { ++hits; }
};

void BM_Emit_Nxutil(benchmark::State& state) {
    std::vector<NxReceiver> receivers(static_cast<std::size_t>(state.range(0)));
    sigslot::signal_base sig;
    for (auto& r : receivers)
        sig.connect(&r, &NxReceiver::slot);
    for (auto _ : state)
        sig.emit();
    benchmark::DoNotOptimize(receivers.front().hits);
}
BENCHMARK(BM_Emit_Nxutil)->Arg(1)->Arg(10);

void BM_Emit_Boost(benchmark::State& state) {
    std::vector<PlainReceiver> receivers(static_cast<std::size_t>(state.range(0)));
    boost::signals2::signal<void()> sig;
    for (auto& r : receivers)
        sig.connect([p = &r] { p->slot(); });
    for (auto _ : state)
        sig();
    benchmark::DoNotOptimize(receivers.front().hits);
}
BENCHMARK(BM_Emit_Boost)->Arg(1)->Arg(10);

void BM_Emit_Sigc(benchmark::State& state) {
    std::vector<SigcReceiver> receivers(static_cast<std::size_t>(state.range(0)));
    sigc::signal<void()> sig;
    for (auto& r : receivers)
        sig.connect(sigc::mem_fun(r, &SigcReceiver::slot));
    for (auto _ : state)
        sig.emit();
    benchmark::DoNotOptimize(receivers.front().hits);
}
BENCHMARK(BM_Emit_Sigc)->Arg(1)->Arg(10);

void BM_Emit_StdFunction(benchmark::State& state) {
    std::vector<PlainReceiver> receivers(static_cast<std::size_t>(state.range(0)));
    std::vector<std::function<void()>> slots;
    for (auto& r : receivers)
        slots.emplace_back([p = &r] { p->slot(); });
    for (auto _ : state)
        for (auto& f : slots)
            f();
    benchmark::DoNotOptimize(receivers.front().hits);
}
BENCHMARK(BM_Emit_StdFunction)->Arg(1)->Arg(10);

// ---- connect + disconnect ------------------------------------------------------------------

void BM_ConnectDisconnect_Nxutil(benchmark::State& state) {
    NxReceiver r;
    sigslot::signal_base sig;
    for (auto _ : state) {
        sig.connect(&r, &NxReceiver::slot);
        sig.disconnect(&r);
    }
}
BENCHMARK(BM_ConnectDisconnect_Nxutil);

void BM_ConnectDisconnect_Boost(benchmark::State& state) {
    PlainReceiver r;
    boost::signals2::signal<void()> sig;
    for (auto _ : state) {
        boost::signals2::connection c = sig.connect([p = &r] { p->slot(); });
        c.disconnect();
    }
}
BENCHMARK(BM_ConnectDisconnect_Boost);

void BM_ConnectDisconnect_Sigc(benchmark::State& state) {
    SigcReceiver r;
    sigc::signal<void()> sig;
    for (auto _ : state) {
        sigc::connection c = sig.connect(sigc::mem_fun(r, &SigcReceiver::slot));
        c.disconnect();
    }
}
BENCHMARK(BM_ConnectDisconnect_Sigc);

void BM_ConnectDisconnect_StdFunction(benchmark::State& state) {
    PlainReceiver r;
    std::vector<std::function<void()>> slots;
    for (auto _ : state) {
        slots.emplace_back([p = &r] { p->slot(); });
        slots.pop_back();
    }
}
BENCHMARK(BM_ConnectDisconnect_StdFunction);

// ---- clock ---------------------------------------------------------------------------------

void BM_Clock_GetQPCTimeNS(benchmark::State& state) {
    CPUClock::initClockFreq();
    for (auto _ : state)
        benchmark::DoNotOptimize(CPUClock::getQPCTimeNS());
}
BENCHMARK(BM_Clock_GetQPCTimeNS);

void BM_Clock_ClockGettime(benchmark::State& state) {
    for (auto _ : state) {
        timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        benchmark::DoNotOptimize(ts);
    }
}
BENCHMARK(BM_Clock_ClockGettime);

// ---- timer lateness ------------------------------------------------------------------------

long long monoNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000ll + ts.tv_nsec;
}

// Ticks are due on start + n * period; a tick's lateness is how far it lies past the last due
// time (a tick that falls a whole period behind is skipped by both timers alike).
void report(benchmark::State& state, std::vector<long long> late) {
    std::sort(late.begin(), late.end());
    if (late.empty())
        return;
    state.counters["ticks"] = static_cast<double>(late.size());
    state.counters["median_us"] = static_cast<double>(late[late.size() / 2]) / 1000.0;
    state.counters["p99_us"] = static_cast<double>(late[late.size() * 99 / 100]) / 1000.0;
}

struct TickRecorder : sigslot::has_slots {
    std::vector<long long> stamps;
    std::atomic<std::size_t> count{0};
    void onTick() {
        const std::size_t i = count.load(std::memory_order_relaxed);
        if (i < stamps.size()) {
            stamps[i] = monoNs();
            count.store(i + 1, std::memory_order_release);
        }
    }
};

void BM_TimerLateness_Nxutil(benchmark::State& state) {
    const unsigned periodMs = static_cast<unsigned>(state.range(0));
    const std::size_t ticks = periodMs == 1 ? 2000 : 300;
    // The first timer of a process starts the timer thread; that start-up must not shift the
    // schedule measured below.
    IMultimediaTimer* warm = getMultimediaTimer();
    warm->start(1);
    warm->release();
    for (auto _ : state) {
        TickRecorder rec;
        rec.stamps.assign(ticks, 0);
        IMultimediaTimer* t = getMultimediaTimer();
        t->sigTimer.connect(&rec, &TickRecorder::onTick);
        const long long start = monoNs();
        t->start(periodMs);
        while (rec.count.load(std::memory_order_acquire) < ticks)
            usleep(1000);
        t->release();
        std::vector<long long> late;
        for (long long s : rec.stamps)
            late.push_back((s - start) % (periodMs * 1000000ll));
        report(state, late);
    }
}
BENCHMARK(BM_TimerLateness_Nxutil)->Arg(1)->Arg(10)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_TimerLateness_Timerfd(benchmark::State& state) {
    const unsigned periodMs = static_cast<unsigned>(state.range(0));
    const std::size_t ticks = periodMs == 1 ? 2000 : 300;
    for (auto _ : state) {
        const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
        itimerspec interval{};
        interval.it_interval.tv_nsec = periodMs * 1000000l;
        interval.it_value = interval.it_interval;
        const long long start = monoNs();
        timerfd_settime(fd, 0, &interval, nullptr);
        std::vector<long long> late;
        while (late.size() < ticks) {
            unsigned long long expirations = 0;
            if (read(fd, &expirations, sizeof expirations) != sizeof expirations)
                break;
            late.push_back((monoNs() - start) % (periodMs * 1000000ll));
        }
        close(fd);
        report(state, late);
    }
}
BENCHMARK(BM_TimerLateness_Timerfd)->Arg(1)->Arg(10)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
