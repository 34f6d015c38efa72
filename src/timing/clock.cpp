// CPUClock: the performance counter in three units, per-thread backward checks, and sleeps.
#include "log/log.h"
#include "platform/syscalls.h"
#include "pubfunc/pubfunc.h"
#include "timing/timing.h"
#include "timing/timing_internal.h"

#include <atomic>

namespace nxtiming {

namespace {

// Written once by initClockFreq, read by every reading.
std::atomic<std::int64_t> g_frequency{0};

// The thread's last raw reading. initial-exec: a direct offset from the thread pointer instead
// of a call to __tls_get_addr, which would cost as much as the clock read itself.
#if defined(__GNUC__) && !defined(_WIN32)
__attribute__((tls_model("initial-exec")))
#endif
thread_local std::int64_t t_last = 0;

}  // namespace

void resetClock() {
    g_frequency.store(0, std::memory_order_relaxed);
    t_last = 0;
}

namespace {

std::int64_t frequency() {
    std::int64_t f = g_frequency.load(std::memory_order_relaxed);
    if (f == 0) {
        CPUClock::initClockFreq();
        f = g_frequency.load(std::memory_order_relaxed);
    }
    return f > 0 ? f : 1;
}

// Reads the counter and checks it against the thread's last reading.
std::int64_t read(const char16_t* backwardsMessage) {
    const std::int64_t now = platform::sys().perfCounter();
    const std::int64_t last = t_last;
    if (now < last)
        TRK::TRKLogger::Instance()->LogInfo(backwardsMessage, static_cast<long long>(now),
                                            static_cast<long long>(last));
    t_last = now;
    return now;
}

// A double truncated toward zero into 64 bits, saturating instead of overflowing.
unsigned long long toU64(double v) {
    if (v >= 0)
        return v < 18446744073709551616.0 ? static_cast<unsigned long long>(v) : ~0ull;
    if (v > -9223372036854775808.0)
        return static_cast<unsigned long long>(static_cast<long long>(v));
    return 1ull << 63;
}

#if defined(__SIZEOF_INT128__)
// double(t) * 1e9 / 1e9 truncated, for 0 < t < 2^53, from integers: t is exact as a double;
// the product p = t * 1e9 rounds to 53 bits with an error e (at most half its last place), so
// the quotient is t - e / 1e9, less than one of t's last places 2^(b-53) away from t (b: t's
// bits), and it rounds to t or to t's neighbour below or above. The neighbour below truncates
// to t - 1; the one above is t + 1 only when t has 53 bits (else it truncates to t). The
// quotient never lies exactly halfway: that needs e = 1953125 * 2^(b-45), with fewer factors
// of two than any rounding error of p (a multiple of 2^9 over more than 9 rounded bits) has.
inline unsigned long long nanoTicks(std::uint64_t t) {
    const unsigned __int128 p = static_cast<unsigned __int128>(t) * 1000000000u;
    const std::uint64_t high = static_cast<std::uint64_t>(p >> 64);
    const std::uint64_t low = static_cast<std::uint64_t>(p);
    const int bits = high ? 128 - __builtin_clzll(high) : 64 - __builtin_clzll(low);
    if (bits <= 53)
        return t;   // the product is exact
    const int s = bits - 53;   // at most 30: the product has at most b + 30 bits
    const std::int64_t rest = static_cast<std::int64_t>(low & ((std::uint64_t{1} << s) - 1));
    const std::int64_t half = std::int64_t{1} << (s - 1);
    // Rounded to nearest, a tie to the even neighbour: e = p - rounded p.
    std::int64_t e = rest;
    if (rest > half || (rest == half && ((low >> s) & 1)))
        e = rest - (std::int64_t{1} << s);
    const int b = 64 - __builtin_clzll(t);   // at least 24 here, as the product has over 53 bits
    // e / 1e9 against half of t's last place, both scaled by 2^(54-b) * 1e9 (|d| < 2^31).
    const std::int64_t d = e * (std::int64_t{1} << (54 - b));
    const std::int64_t k = 1000000000;
    if (d > k)
        return t - 1;
    if (b == 53 && d < -k)
        return t + 1;
    return t;
}
#endif

}  // namespace

unsigned long long nanosecondsByDouble(std::int64_t ticks, std::int64_t frequency) {
    return toU64(static_cast<double>(ticks) * 1000000000.0 / static_cast<double>(frequency));
}

unsigned long long nanosecondsOf(std::int64_t ticks, std::int64_t frequency) {
#if defined(__SIZEOF_INT128__)
    // A nanosecond counter: the integer path avoids the division's latency.
    if (frequency == 1000000000 && ticks > 0 && ticks < (std::int64_t{1} << 53))
        return nanoTicks(static_cast<std::uint64_t>(ticks));
#endif
    return nanosecondsByDouble(ticks, frequency);
}

}  // namespace nxtiming

void CPUClock::initClockFreq() {
    nxtiming::g_frequency.store(platform::sys().perfFrequency(), std::memory_order_relaxed);
}

unsigned long long CPUClock::getQPCTimeNS() {
    const std::int64_t ticks =
        nxtiming::read(u"CPUClock::getQPCTimeNSGetQPCTimeNS: WTF, clock went backwards! %I64d < %I64d");
    return nxtiming::nanosecondsOf(ticks, nxtiming::frequency());
}

unsigned long long CPUClock::getQPCTime100NS() {
    const std::int64_t ticks = nxtiming::read(
        u"CPUClock::getQPCTime100NSGetQPCTime100NS: WTF, clock went backwards! %I64d < %I64d");
    return nxtiming::toU64(static_cast<double>(ticks) * 10000000.0 /
                           static_cast<double>(nxtiming::frequency()));
}

unsigned long long CPUClock::getQPCTimeMS() {
    const std::int64_t ticks =
        nxtiming::read(u"CPUClock::getQPCTimeMSGetQPCTimeMS: WTF, clock went backwards! %I64d < %I64d");
    return static_cast<unsigned long long>(ticks) * 1000ull /
           static_cast<unsigned long long>(nxtiming::frequency());
}

// The version code is the record initPubfunc read through the table's osVersion entry, so a
// test feeds it there (and calls initPubfunc) like every other machine fact: it is a library
// function over a platform answer, not a platform call of its own.
void CPUClock::OSSleep(unsigned int ms) {
    if (pubfunc::getOSVersion() == 8)
        platform::sys().sleepMs(ms == 0 ? 0 : ms - 1);
    else
        platform::sys().sleepMs(ms);
}

bool CPUClock::sleepToNS(unsigned long long target) {
    unsigned long long now = getQPCTimeNS();
    if (now >= target)
        return false;
    const unsigned int remaining = static_cast<unsigned int>((target - now) / 1000000ull);
    if (remaining > 1) {
        if (remaining > 10000)
            TRK::TRKLogger::Instance()->LogError(
                u"CPUClock::sleepToNSTried to sleep for %u seconds, that can't be right! "
                u"Triggering breakpoint.",
                remaining / 1000);
        OSSleep(remaining);
    }
    for (;;) {
        now = getQPCTimeNS();
        if (now >= target)
            return true;
        platform::sys().sleepMs(1);
    }
}
