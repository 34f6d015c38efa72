// CPUClock over an injected counter: conversions, the per-thread backward check and its log
// lines, OSSleep's version rule and sleepToNS's two phases.
#include "log/log.h"
#include "timing/timing.h"
#include "timing/timing_internal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// The injected platform: a counter that only moves when asked to, sleeps that advance it.
struct FakeClock {
    std::int64_t ticks = 0;
    std::int64_t frequency = 1000000000;
    int osVersion = 7;
    std::vector<unsigned> sleeps;
};
FakeClock g_fake;

nxtiming::ClockBackend fakeBackend() {
    return {[] { return g_fake.ticks; }, [] { return g_fake.frequency; },
            [](unsigned ms) {
                g_fake.sleeps.push_back(ms);
                g_fake.ticks += static_cast<std::int64_t>(ms) * g_fake.frequency / 1000;
            },
            [] { return g_fake.osVersion; }};
}

// The process-wide log file, opened once for this program.
std::string logText() {
    static const std::filesystem::path path = [] {
        auto p = std::filesystem::temp_directory_path() /
                 ("nxutil-clock-" + std::to_string(std::chrono::steady_clock::now()
                                                       .time_since_epoch()
                                                       .count()));
        std::filesystem::create_directories(p);
        p /= "clock.log";
        const std::string s = p.string();
        TRK::TRKLogger::Instance()->InitLog(std::u16string(s.begin(), s.end()));
        return p;
    }();
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class Clock : public ::testing::Test {
protected:
    void SetUp() override {
        logText();
        g_fake = FakeClock{};
        nxtiming::clockBackend() = fakeBackend();
        nxtiming::resetClock();
        CPUClock::initClockFreq();
    }
    void TearDown() override {
        nxtiming::clockBackend() = nxtiming::platformClockBackend();
        nxtiming::resetClock();
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

TEST_F(Clock, CounterRunningBackwardsLogsOnceWithBothReadings) {
    const std::string ns = "CPUClock::getQPCTimeNSGetQPCTimeNS: WTF, clock went backwards! ";
    const std::string hns = "CPUClock::getQPCTime100NSGetQPCTime100NS: WTF, clock went backwards! ";
    const std::string ms = "CPUClock::getQPCTimeMSGetQPCTimeMS: WTF, clock went backwards! ";
    const std::size_t before = count(logText(), "WTF");
    g_fake.ticks = 5000;
    CPUClock::getQPCTimeNS();
    CPUClock::getQPCTimeNS();  // equal: no line
    EXPECT_EQ(before, count(logText(), "WTF"));
    g_fake.ticks = 4999;
    EXPECT_EQ(4999u, CPUClock::getQPCTimeNS()) << "the reading is still returned";
    g_fake.ticks = 4000;
    CPUClock::getQPCTime100NS();
    g_fake.ticks = 3000;
    CPUClock::getQPCTimeMS();
    CPUClock::getQPCTimeMS();  // 3000 became the reference
    const std::string text = logText();
    EXPECT_EQ(before + 3, count(text, "WTF"));
    EXPECT_EQ(1u, count(text, ":info " + ns + "4999 < 5000"));
    EXPECT_EQ(1u, count(text, ":info " + hns + "4000 < 4999"));
    EXPECT_EQ(1u, count(text, ":info " + ms + "3000 < 4000"));

    // Another thread starts from zero: its first reading never logs, whatever this one read.
    g_fake.ticks = 100;
    std::thread([] { CPUClock::getQPCTimeNS(); }).join();
    EXPECT_EQ(before + 3, count(logText(), "WTF"));
}

TEST_F(Clock, OsSleepIsOneMillisecondShorterFromVersionCodeEight) {
    g_fake.osVersion = 8;
    CPUClock::OSSleep(0);
    CPUClock::OSSleep(1);
    CPUClock::OSSleep(20);
    g_fake.osVersion = 7;
    CPUClock::OSSleep(0);
    CPUClock::OSSleep(1);
    CPUClock::OSSleep(20);
    EXPECT_EQ((std::vector<unsigned>{0, 0, 19, 0, 1, 20}), g_fake.sleeps);
}

TEST_F(Clock, SleepToNsSleepsWholeMillisecondsThenPolls) {
    g_fake.ticks = 50000000;
    EXPECT_FALSE(CPUClock::sleepToNS(50000000)) << "target reached";
    EXPECT_FALSE(CPUClock::sleepToNS(1));
    EXPECT_TRUE(g_fake.sleeps.empty());

    // 1.5 ms: one whole millisecond is not worth a coarse sleep; 1 ms polls.
    EXPECT_TRUE(CPUClock::sleepToNS(51500000));
    EXPECT_EQ((std::vector<unsigned>{1, 1}), g_fake.sleeps);

    // 20.5 ms: 20 at once (19 on version code 8), then polls.
    g_fake.sleeps.clear();
    EXPECT_TRUE(CPUClock::sleepToNS(g_fake.ticks + 20500000));
    EXPECT_EQ((std::vector<unsigned>{20, 1}), g_fake.sleeps);
    g_fake.sleeps.clear();
    g_fake.osVersion = 8;
    EXPECT_TRUE(CPUClock::sleepToNS(g_fake.ticks + 20500000));
    EXPECT_EQ((std::vector<unsigned>{19, 1, 1}), g_fake.sleeps);
}

TEST_F(Clock, SleepToNsOfMoreThanTenSecondsLogsAndStillSleeps) {
    const std::string line =
        ":error CPUClock::sleepToNSTried to sleep for 12 seconds, that can't be right! "
        "Triggering breakpoint.";
    const std::size_t before = count(logText(), line);
    g_fake.ticks = 1000;
    EXPECT_TRUE(CPUClock::sleepToNS(1000 + 12000000000ull));
    EXPECT_EQ((std::vector<unsigned>{12000}), g_fake.sleeps);
    EXPECT_EQ(before + 1, count(logText(), line));
}

TEST(ClockLive, ReadingsAgreeAndSleepsReachTheirTarget) {
    CPUClock::initClockFreq();
    const unsigned long long ns = CPUClock::getQPCTimeNS();
    const unsigned long long hns = CPUClock::getQPCTime100NS();
    const unsigned long long ms = CPUClock::getQPCTimeMS();
    EXPECT_GE(hns, ns / 100);
    EXPECT_GE(ms, ns / 1000000);
    const unsigned long long target = CPUClock::getQPCTimeNS() + 3000000;
    EXPECT_TRUE(CPUClock::sleepToNS(target));
    EXPECT_GE(CPUClock::getQPCTimeNS(), target);
}

}  // namespace
