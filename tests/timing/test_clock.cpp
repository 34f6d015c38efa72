// CPUClock over an injected counter: conversions, the per-thread backward check and its log
// lines, OSSleep's version rule and sleepToNS's two phases.
#include "log/log.h"
#include "platform/syscalls.h"
#include "pubfunc/pubfunc.h"
#include "support/temp_dir.h"
#include "sysinfo/sysinfo_backend.h"
#include "timing/timing.h"
#include "timing/timing_internal.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <regex>
#include <thread>
#include <utility>
#include <vector>

namespace {

// The injected platform: a counter that only moves when asked to, sleeps that advance it, and
// a version record whose generation code (pubfunc::getOSVersion) is `osVersion`.
struct FakeClock {
    std::int64_t ticks = 0, frequency = 1000000000;
    int osVersion = 7;
    std::vector<unsigned> sleeps;
} g_fake;

// Makes pubfunc::getOSVersion report `code` (7: NT 6.1, 8: NT 6.2), as initPubfunc would.
void setOsVersion(int code) {
    g_fake.osVersion = code;
    pubfunc::initPubfunc();
}

class Clock : public ::testing::Test {
protected:
    void SetUp() override {
        g_fake = FakeClock{};
        platform::SysCalls& sys = platform::sys();
        sys.perfCounter = [] { return g_fake.ticks; };
        sys.perfFrequency = [] { return g_fake.frequency; };
        sys.sleepMs = [](unsigned ms) {
            g_fake.sleeps.push_back(ms);
            g_fake.ticks += std::int64_t{ms} * g_fake.frequency / 1000;
        };
        sys.osVersion = [](platform::OsVersion& v, bool) {
            v.major = 6, v.minor = g_fake.osVersion == 8 ? 2 : 1, v.platformId = 2;
            return true;
        };
        setOsVersion(g_fake.osVersion);
        nxtiming::resetClock();
        CPUClock::initClockFreq();
        logged();
    }
    void TearDown() override {
        platform::clearFaults();     // the platform's own entries again
        nxsysinfo::resetState();     // and the version record as it was at load
        nxtiming::resetClock();
    }
    // What the process-wide log received since the last call, from each level marker on.
    static std::string logged() {
        static nxtest::TempDir dir("clock-log");
        static const bool opened = TRK::TRKLogger::Instance()->InitLog(dir.file("clock.log"));
        static std::size_t seen = 0;
        const std::string all = opened ? nxtest::readFileBytes(dir.path() / "clock.log") : "";
        return std::regex_replace(all.substr(std::exchange(seen, all.size())),
                                  std::regex(".*\\] "), "");
    }
};

TEST_F(Clock, ConvertsTicksForTheStoredFrequency) {
    g_fake.frequency = 10000000;
    CPUClock::initClockFreq();
    g_fake.ticks = 15;
    EXPECT_EQ(1500u, CPUClock::getQPCTimeNS());
    EXPECT_EQ(15u, CPUClock::getQPCTime100NS());
    EXPECT_EQ(0u, CPUClock::getQPCTimeMS());
    // Milliseconds are exact integer arithmetic; the other two go through a double.
    g_fake.frequency = 3;
    CPUClock::initClockFreq();
    g_fake.ticks = 1000000000;
    EXPECT_EQ(static_cast<unsigned long long>(1e9 * 1e9 / 3.0), CPUClock::getQPCTimeNS());
    g_fake.ticks = 1000000000000000;
    EXPECT_EQ(333333333333333333u, CPUClock::getQPCTimeMS());
    // The frequency is read once: a later change is not seen without initClockFreq.
    g_fake.frequency = 1;
    EXPECT_EQ(333333333333333333u, CPUClock::getQPCTimeMS());
}

// A nanosecond counter's readings skip the division yet must equal the double formula: every
// counter up to 2^20, windows around each power of two up to 2^54 (rounding starts at 2^24, the
// integer path ends at 2^53), random counters of every length, and the path's boundaries.
TEST(ClockFormula, NanosecondReadingsEqualTheDoubleFormulaOnEveryCounter) {
    const std::int64_t ns = 1000000000;
    std::uint64_t mismatches = 0, checked = 0;
    std::int64_t first = -1;
    auto check = [&](std::int64_t t, std::int64_t f) {
        ++checked;
        if (nxtiming::nanosecondsOf(t, f) != nxtiming::nanosecondsByDouble(t, f) && mismatches++ == 0)
            first = t;
    };
    for (std::int64_t t = 0; t <= (1 << 20); ++t)
        check(t, ns);
    for (int k = 21; k <= 54; ++k)
        for (std::int64_t t = (std::int64_t{1} << k) - 4096; t < (std::int64_t{1} << k) + 4096; ++t)
            check(t, ns);
    std::mt19937_64 rng(21);
    for (int i = 0; i < 2000000; ++i) {
        const int bits = 24 + i % 30;   // 24 .. 53
        check(static_cast<std::int64_t>((rng() >> (64 - bits)) | (std::uint64_t{1} << (bits - 1))), ns);
    }
    const std::int64_t edges[] = {-1, -ns, INT64_MIN, INT64_MAX, std::int64_t{1} << 53,
                                  (std::int64_t{1} << 53) + 1, (std::int64_t{1} << 62) + 12345};
    for (std::int64_t t : edges)
        for (std::int64_t f : {ns, std::int64_t{10000000}, std::int64_t{3}, std::int64_t{1}})
            check(t, f);
    EXPECT_EQ(mismatches, 0u) << "first at " << first << " of " << checked;
}

TEST_F(Clock, CounterRunningBackwardsLogsOnceWithBothReadings) {
    const auto line = [](const std::string& fn, const std::string& values) {
        return ":info CPUClock::" + fn + "Get" + fn.substr(3) + ": WTF, clock went backwards! " +
               values + "\r\n";
    };
    g_fake.ticks = 5000;
    CPUClock::getQPCTimeNS();
    CPUClock::getQPCTimeNS();  // equal: no line
    EXPECT_EQ("", logged());
    g_fake.ticks = 4999;
    EXPECT_EQ(4999u, CPUClock::getQPCTimeNS()) << "the reading is still returned";
    g_fake.ticks = 4000;
    CPUClock::getQPCTime100NS();
    g_fake.ticks = 3000;
    CPUClock::getQPCTimeMS();
    CPUClock::getQPCTimeMS();  // 3000 became the reference
    EXPECT_EQ(line("getQPCTimeNS", "4999 < 5000") + line("getQPCTime100NS", "4000 < 4999") +
                  line("getQPCTimeMS", "3000 < 4000"),
              logged());
    // Another thread starts from zero: its first reading never logs, whatever this one read.
    g_fake.ticks = 100;
    std::thread([] { CPUClock::getQPCTimeNS(); }).join();
    EXPECT_EQ("", logged());
}

TEST_F(Clock, SleepsAreOneMillisecondShorterFromVersionCodeEightAndSleepToNsPollsTheRest) {
    for (int os : {8, 7}) {
        setOsVersion(os);
        for (unsigned ms : {0u, 1u, 20u})
            CPUClock::OSSleep(ms);
    }
    EXPECT_EQ((std::vector<unsigned>{0, 0, 19, 0, 1, 20}), g_fake.sleeps);
    // Targets from a counter at 50 ms.
    const struct { unsigned long long target; int os; bool slept; std::vector<unsigned> sleeps; }
        cases[] = {
        {50000000, 7, false, {}},  // reached: no sleep
        {51500000, 7, true, {1, 1}},  // one whole millisecond is not worth a coarse sleep
        {70500000, 7, true, {20, 1}},
        {70500000, 8, true, {19, 1, 1}},
        {50000000 + 12000000000ull, 7, true, {12000}},  // logs, still sleeps
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "target " << c.target << " os " << c.os);
        nxtiming::resetClock();  // rows start the counter afresh, not backwards
        g_fake.ticks = 50000000;
        setOsVersion(c.os);
        g_fake.sleeps.clear();
        EXPECT_EQ(c.slept, CPUClock::sleepToNS(c.target));
        EXPECT_EQ(c.sleeps, g_fake.sleeps);
    }
    EXPECT_EQ(":error CPUClock::sleepToNSTried to sleep for 12 seconds, that can't be right! "
              "Triggering breakpoint.\r\n",
              logged());
}

TEST(ClockLive, ReadingsAgreeAndSleepsReachTheirTarget) {
    CPUClock::initClockFreq();
    const unsigned long long ns = CPUClock::getQPCTimeNS();
    EXPECT_GE(CPUClock::getQPCTime100NS(), ns / 100);
    EXPECT_GE(CPUClock::getQPCTimeMS(), ns / 1000000);
    const unsigned long long target = CPUClock::getQPCTimeNS() + 3000000;
    EXPECT_TRUE(CPUClock::sleepToNS(target));
    EXPECT_GE(CPUClock::getQPCTimeNS(), target);
}

}  // namespace
