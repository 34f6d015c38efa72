// The sampler's walk over raw performance data and its arithmetic, on hand-built data blocks.
#include "fake_backend.h"
#include "perf_block.h"
#include "sysinfo/sysinfo.h"

#include <gtest/gtest.h>

namespace {

using nxtest::fake;
using nxtest::PerfBlock;
using nxtest::TestObject;
namespace perf = platform::perf;

// The Processor object with one "0" instance and "_Total", idle time `idle` in the latter.
TestObject processors(std::int64_t idle) {
    TestObject o;
    o.index = perf::kObjectProcessor;
    o.counters = {{perf::kCounterUserTime, 8}, {perf::kCounterProcessorTime, 8}};
    o.instances = {{u"0", {1, 123456}}, {u"_Total", {2, idle}}};
    o.extraNamePadding = 6;
    return o;
}

// The Process object: (name, pid, processor time) triples; ID Process defined before or after
// the processor-time counter.
TestObject processes(std::vector<std::tuple<std::u16string, std::uint32_t, std::int64_t>> list,
                     bool idFirst = false) {
    TestObject o;
    o.index = perf::kObjectProcess;
    if (idFirst)
        o.counters = {{perf::kCounterIdProcess, 4}, {perf::kCounterProcessorTime, 8}};
    else
        o.counters = {{perf::kCounterUserTime, 8}, {perf::kCounterProcessorTime, 8},
                      {perf::kCounterIdProcess, 4}};
    for (auto& [name, pid, time] : list) {
        if (idFirst)
            o.instances.push_back({name, {pid, time}});
        else
            o.instances.push_back({name, {time / 2, time, pid}});
    }
    return o;
}

// An unrelated object placed before the wanted one, so the lookup must step over it.
TestObject decoy(std::uint32_t index) {
    TestObject o;
    o.index = index;
    o.counters = {{perf::kCounterProcessorTime, 8}};
    o.instances = {{u"_Total", {999}}, {u"decoy", {998}}};
    return o;
}

void serve(const PerfBlock& block) { fake().block = block.bytes(); }

class CpuUsage : public nxtest::FakePlatformTest {};

TEST_F(CpuUsage, FirstCallPrimesAndLaterCallsReportTheIntervalLoad) {
    CCpuUsage cpu;
    serve(PerfBlock(10000).add(decoy(2)).add(processors(1000)));
    EXPECT_EQ(0, cpu.GetCpuUsage());
    // 2500 idle units in 10000: 75 % busy, (1 - 0.25) * 100 + 0.5 truncated.
    serve(PerfBlock(20000).add(decoy(2)).add(processors(3500)));
    EXPECT_EQ(75, cpu.GetCpuUsage());
    // 7490 idle of 10000: 25.1 + 0.5 -> 25; then 7440: 25.6 + 0.5 -> 26 (the half rounds).
    serve(PerfBlock(30000).add(processors(10990)));
    EXPECT_EQ(25, cpu.GetCpuUsage());
    serve(PerfBlock(40000).add(processors(18430)));
    EXPECT_EQ(26, cpu.GetCpuUsage());
    ASSERT_FALSE(fake().queried.empty());
    EXPECT_EQ(u"238", fake().queried.back());
}

TEST_F(CpuUsage, ZeroTimeDifferenceNegativeAndHugeResultsReadZero) {
    CCpuUsage cpu;
    serve(PerfBlock(5000).add(processes({{u"game", 42, 1000}})));
    EXPECT_EQ(0, cpu.GetCpuUsage(42ul));
    serve(PerfBlock(5000).add(processes({{u"game", 42, 2000}})));
    EXPECT_EQ(0, cpu.GetCpuUsage(42ul)) << "same time stamp";
    // The zero-difference call still replaced the sample: 2000 -> 3000 over 1000 is 100 %.
    serve(PerfBlock(6000).add(processes({{u"game", 42, 3000}})));
    EXPECT_EQ(100, cpu.GetCpuUsage(42ul));
    serve(PerfBlock(7000).add(processes({{u"game", 42, 500}})));
    EXPECT_EQ(0, cpu.GetCpuUsage(42ul)) << "counter went down";
    serve(PerfBlock(7001).add(processes({{u"game", 42, 500 + 30000000}})));
    EXPECT_EQ(0, cpu.GetCpuUsage(42ul)) << "beyond the 32-bit range";
    // No upper bound: two busy processors read 200.
    serve(PerfBlock(8001).add(processes({{u"game", 42, 30002500}})));
    EXPECT_EQ(200, cpu.GetCpuUsage(42ul));
}

TEST_F(CpuUsage, MissingProcessReadsMinusOneWhichStaysZero) {
    CCpuUsage cpu;
    serve(PerfBlock(1000).add(processes({{u"other", 7, 5000}})));
    EXPECT_EQ(0, cpu.GetCpuUsage(42ul));
    serve(PerfBlock(2000).add(processes({{u"other", 7, 6000}})));
    EXPECT_EQ(0, cpu.GetCpuUsage(42ul));
    // The stored reading is -1: 99 - (-1) = 100 units over 1000 is 10 %, not 9.9.
    serve(PerfBlock(3000).add(processes({{u"other", 7, 6000}, {u"game", 42, 99}})));
    EXPECT_EQ(10, cpu.GetCpuUsage(42ul));
    EXPECT_EQ(u"230", fake().queried.back());
}

TEST_F(CpuUsage, ProcessIdIsFoundWhereverItsCounterIsDefined) {
    for (bool idFirst : {false, true}) {
        CCpuUsage cpu;
        auto list = [](std::int64_t t) {
            return std::vector<std::tuple<std::u16string, std::uint32_t, std::int64_t>>{
                {u"Idle", 0, 0}, {u"svc", 100, 77}, {u"game", 4242, t}, {u"tool", 5000, 1}};
        };
        serve(PerfBlock(100).add(decoy(238)).add(processes(list(1000), idFirst)));
        EXPECT_EQ(0, cpu.GetCpuUsage(4242ul));
        serve(PerfBlock(1100).add(decoy(238)).add(processes(list(1330), idFirst)));
        EXPECT_EQ(33, cpu.GetCpuUsage(4242ul)) << "idFirst=" << idFirst;
    }
    // Without an ID Process counter no instance can match.
    CCpuUsage cpu;
    TestObject noIds = processes({{u"game", 4242, 10}});
    noIds.counters.pop_back();
    serve(PerfBlock(100).add(noIds));
    cpu.GetCpuUsage(4242ul);
    serve(PerfBlock(200).add(noIds));
    EXPECT_EQ(0, cpu.GetCpuUsage(4242ul));
}

TEST_F(CpuUsage, InstanceNamesMatchWithoutRegardToCaseAndAreCutAt255Units) {
    CCpuUsage cpu;
    serve(PerfBlock(1000).add(processes({{u"svchost", 1, 0}, {u"Game#1", 2, 100}})));
    EXPECT_EQ(0, cpu.GetCpuUsage(u"gAME#1"));
    serve(PerfBlock(2000).add(processes({{u"svchost", 1, 900}, {u"Game#1", 2, 600}})));
    EXPECT_EQ(50, cpu.GetCpuUsage(u"gAME#1"));

    const std::u16string stored(255, u'x');
    const std::u16string asked = stored + u"yyyy";
    CCpuUsage cut;
    serve(PerfBlock(1000).add(processes({{stored, 3, 0}})));
    cut.GetCpuUsage(asked.c_str());
    serve(PerfBlock(2000).add(processes({{stored, 3, 420}})));
    EXPECT_EQ(42, cut.GetCpuUsage(asked.c_str()));
}

TEST_F(CpuUsage, OverloadsShareOneSample) {
    CCpuUsage cpu;
    serve(PerfBlock(1000).add(processes({{u"game", 9, 100}})));
    EXPECT_EQ(0, cpu.GetCpuUsage(u"game"));
    serve(PerfBlock(2000).add(processes({{u"game", 9, 300}})));
    EXPECT_EQ(20, cpu.GetCpuUsage(9ul));
    CCpuUsage copy(cpu);  // copies the primed sample
    serve(PerfBlock(3000).add(processes({{u"game", 9, 700}})));
    EXPECT_EQ(40, copy.GetCpuUsage(u"GAME"));
}

TEST_F(CpuUsage, PlatformClassChoosesTheMachineWideCounter) {
    // NT 4: the System object's counter 240, which has no instances.
    fake().version.major = 4;
    TestObject system;
    system.index = perf::kObjectSystem;
    system.hasInstances = false;
    system.counters = {{perf::kCounterProcessorTime, 8}, {perf::kCounterTotalProcessorTime, 8}};
    system.instances = {{u"", {0, 100}}};
    CCpuUsage nt4;
    serve(PerfBlock(1000).add(processors(5)).add(system));
    EXPECT_EQ(0, nt4.GetCpuUsage());
    EXPECT_EQ(u"2", fake().queried.back());
    system.instances[0].values[1] = 700;  // 600 idle of 1000: 40 % busy
    serve(PerfBlock(2000).add(processors(5)).add(system));
    EXPECT_EQ(40, nt4.GetCpuUsage());
    EXPECT_EQ(0, fake().enableCalls) << "counters are switched only on later NT versions";
}

TEST_F(CpuUsage, UnsupportedPlatformClassesNeverSampleMachineWide) {
    for (std::uint32_t platformId : {1u, 3u}) {
        nxsysinfo::resetState();
        fake().version.platformId = platformId;
        fake().queried.clear();
        CCpuUsage cpu;
        EXPECT_EQ(-1, cpu.GetCpuUsage());
        EXPECT_EQ(-1, cpu.GetCpuUsage());
        EXPECT_TRUE(fake().queried.empty());
        // The per-process overloads still sample.
        serve(PerfBlock(1000).add(processes({{u"game", 9, 0}})));
        EXPECT_EQ(0, cpu.GetCpuUsage(9ul));
        serve(PerfBlock(2000).add(processes({{u"game", 9, 100}})));
        EXPECT_EQ(10, cpu.GetCpuUsage(9ul));
    }
    // A failed version query is class 3 as well.
    nxsysinfo::resetState();
    fake().versionOk = false;
    CCpuUsage cpu;
    EXPECT_EQ(-1, cpu.GetCpuUsage());
}

TEST_F(CpuUsage, TheClassIsCachedPerOverloadOnItsFirstCall) {
    CCpuUsage cpu;
    serve(PerfBlock(1000).add(processors(0)));
    EXPECT_EQ(0, cpu.GetCpuUsage());
    fake().version.platformId = 1;  // later changes are not seen
    serve(PerfBlock(2000).add(processors(500)));
    EXPECT_EQ(50, cpu.GetCpuUsage());
}

TEST_F(CpuUsage, MissingDataAndMissingObjectsAndCounters) {
    CCpuUsage cpu;
    // No data block (the query keeps failing): no time stamp, nothing stored, the counters are
    // switched on again at every call while unprimed.
    serve(PerfBlock(0).add(processors(100)));
    EXPECT_EQ(0, cpu.GetCpuUsage());
    EXPECT_EQ(0, cpu.GetCpuUsage());
    EXPECT_EQ(2, fake().enableCalls);
    EXPECT_TRUE(fake().lastEnable);
    // Object missing: reading 0; the next call differences against it.
    serve(PerfBlock(1000).add(decoy(230)));
    EXPECT_EQ(0, cpu.GetCpuUsage());
    EXPECT_EQ(3, fake().enableCalls);
    serve(PerfBlock(2000).add(processors(250)));
    EXPECT_EQ(75, cpu.GetCpuUsage());
    EXPECT_EQ(3, fake().enableCalls) << "primed samplers leave the counters alone";
    // Counter missing: reading -1.
    TestObject noCounter = processors(0);
    noCounter.counters = {{perf::kCounterUserTime, 8}};
    CCpuUsage other;
    serve(PerfBlock(1000).add(noCounter));
    other.GetCpuUsage();
    serve(PerfBlock(2000).add(processors(499)));
    EXPECT_EQ(50, other.GetCpuUsage()) << "499 - (-1) = 500 idle of 1000";
}

TEST_F(CpuUsage, QueryBufferGrowsByStepsAndKeepsItsSize) {
    // A Process object of about 130 KB does not fit the initial 102400 bytes.
    std::vector<std::tuple<std::u16string, std::uint32_t, std::int64_t>> many;
    for (std::uint32_t i = 0; i < 1500; ++i)
        many.emplace_back(u"process-with-a-long-name-" + std::u16string(10, u'a' + i % 26), i, 0);
    many.emplace_back(u"game", 77777, 0);
    serve(PerfBlock(1000).add(processes(many)));
    const std::size_t needed = fake().block.size();
    ASSERT_GT(needed, 102400u);
    CCpuUsage cpu;
    cpu.GetCpuUsage(77777ul);
    const std::size_t steps = (needed - 102400 + 10239) / 10240;
    EXPECT_EQ(102400 + steps * 10240, nxsysinfo::queryBufferSize());
    EXPECT_EQ(steps + 1, fake().queried.size());
    std::get<2>(many.back()) = 300;
    serve(PerfBlock(2000).add(processes(many)));
    EXPECT_EQ(30, cpu.GetCpuUsage(77777ul));
    EXPECT_EQ(steps + 2, fake().queried.size()) << "the grown buffer is kept";
}

TEST_F(CpuUsage, EnablingCountersDependsOnThePlatformClass) {
    CCpuUsage cpu;
    fake().enableResult = 0;
    EXPECT_EQ(0, cpu.EnablePerformaceCounters(0));
    EXPECT_FALSE(fake().lastEnable);
    EXPECT_EQ(1, fake().enableCalls);
    fake().version.major = 4;  // computed afresh on every call
    EXPECT_EQ(1, cpu.EnablePerformaceCounters(1));
    EXPECT_EQ(1, fake().enableCalls);
}

TEST_F(CpuUsage, CounterQueryNeedsTwoCollectionsAndNeverRetriesItsStart) {
    fake().formattedStatus = static_cast<std::uint32_t>(platform::kPdhInvalidData);
    EXPECT_EQ(-1, GetCpuInfo_All());
    EXPECT_EQ(1, fake().collectCalls);
    fake().formattedStatus = 0;
    fake().formatted = 37;
    EXPECT_EQ(37, pubfunc::getCPUUsage());
    fake().collectStatus = 5;
    EXPECT_EQ(-1, GetCpuInfo_All());
    EXPECT_EQ(1, fake().openCalls);

    nxsysinfo::resetState();
    fake() = nxtest::FakePlatform{};
    fake().openStatus = 1;
    EXPECT_EQ(0, GetCpuInfo_All());
    fake().openStatus = 0;
    EXPECT_EQ(-1, GetCpuInfo_All());
    EXPECT_EQ(-1, GetCpuInfo_All());
    EXPECT_EQ(1, fake().openCalls);

    nxsysinfo::resetState();
    fake() = nxtest::FakePlatform{};
    fake().addStatus = 1;
    EXPECT_EQ(-1, GetCpuInfo_All());
    EXPECT_EQ(-1, GetCpuInfo_All());
}

}  // namespace
