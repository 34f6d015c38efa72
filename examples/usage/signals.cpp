// Usage: a multimedia timer whose ticks reach a receiver through a signal.
#include "signals/signals.h"
#include "timing/timing.h"

#include <atomic>
#include <thread>

namespace {

struct Ticker : sigslot::has_slots {
    std::atomic<int> ticks{0};
    void onTick() { ++ticks; }                // runs on the timer thread
};

}  // namespace

int example_signals() {
    Ticker ticker;
    IMultimediaTimer* timer = getMultimediaTimer();
    timer->sigTimer.connect(&ticker, &Ticker::onTick);
    timer->start(10);                         // every 10 ms
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    timer->release();                         // stops and deletes the timer
    return ticker.ticks > 0 ? 0 : 1;
}
