// The sampler and the hardware and OS facts over a scripted platform: hand-built raw performance
// data, version records, registry values and counter-query results, with the calls counted.
#include "platform/perf.h"
#include "platform/syscalls.h"
#include "sysinfo/sysinfo.h"
#include "sysinfo/sysinfo_backend.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>

namespace {

namespace perf = platform::perf;

// What the platform answers; the tables below assign whole groups.
struct Adapter { std::uint32_t type = 1; std::vector<unsigned char> data; bool key = true; };
struct Composition { bool present = true; long status = 0; int flag = 1; };
struct Pdh { std::uint32_t counterStatus = 0; long value = 0, format = 0, collect = 0; };

struct FakePlatform {
    std::vector<unsigned char> block;  // what every raw-data query returns
    std::vector<std::u16string> queried;
    std::vector<bool> switched;  // the counter switch's arguments
    int switchResult = 1, openCalls = 0, collectCalls = 0, closeCalls = 0;
    bool versionOk = true, extendedOk = true;
    platform::OsVersion version{6, 1, 0, 2, ""};
    std::uint64_t memory = 0;
    Adapter adapter;
    Composition composition;
    std::vector<int> compositionCalls;  // -1 for the query, else the action
    Pdh pdh;
    long openStatus = 0, addStatus = 0;
} fake;

// Replaces the platform's answers in the table with the fake's. Outputs are written even when
// a call fails, so a caller that ignores the failure shows.
void installFake() {
    platform::SysCalls& b = platform::sys();
    b.perfQueryData = [](const char16_t* name, void* buffer, std::uint32_t* size) -> long {
        fake.queried.push_back(name);
        if (fake.block.size() > *size)
            return platform::kPerfMoreData;  // the size is left as it was
        *size = static_cast<std::uint32_t>(fake.block.size());
        return std::memcpy(buffer, fake.block.data(), *size), 0;
    };
    b.perfSetCountersEnabled = [](bool on) { return fake.switched.push_back(on), fake.switchResult; };
    b.osVersion = [](platform::OsVersion& v, bool extended) {
        const bool ok = fake.versionOk && (fake.extendedOk || !extended);
        v = ok ? fake.version : v;  // except a failed version query, which leaves the record
        return ok;
    };
    b.physicalMemoryBytes = [] { return fake.memory; };
    b.displayAdapterValue = [](std::uint32_t& type, std::vector<unsigned char>& data) {
        return type = fake.adapter.type, data = fake.adapter.data, fake.adapter.key;
    };
    b.compositionIsEnabled = [](long& status, int& enabled) {
        fake.compositionCalls.push_back(-1), enabled = fake.composition.flag;
        return status = fake.composition.status, fake.composition.present;
    };
    b.compositionEnable = [](unsigned action, long& status) {
        fake.compositionCalls.push_back(static_cast<int>(action));
        return status = fake.composition.status, fake.composition.present;
    };
    b.pdhOpenQuery = [](void** q) { return ++fake.openCalls, *q = &fake, fake.openStatus; };
    b.pdhAddCounter = [](void*, const char16_t*, void** c) { return *c = &fake, fake.addStatus; };
    b.pdhCollectQueryData = [](void*) { return ++fake.collectCalls, fake.pdh.collect; };
    b.pdhCloseQuery = [](void*) { ++fake.closeCalls; };
    b.pdhGetFormattedLong = [](void*, long* value, std::uint32_t* status) {
        return *value = fake.pdh.value, *status = fake.pdh.counterStatus, fake.pdh.format;
    };
}

// Installs the fake (an NT 6.1 record) and a fresh sampler state; restores the real platform.
struct Scripted : ::testing::Test {
    // The state is reset under the table that opened its query, so each close reaches it.
    void SetUp() override { nxsysinfo::resetState(), fake = {}, installFake(); }
    void TearDown() override { nxsysinfo::resetState(), platform::clearFaults(); }
};

// Hand-built raw data with the irregularities the walk must cope with: counters by title index
// (ID Process 32-bit, the others 64-bit); instances with one value per counter, or without
// instances the first entry's values as the object's one block.
struct TestObject {
    std::uint32_t index;
    std::vector<std::uint32_t> counters;
    std::vector<std::pair<std::u16string, std::vector<std::int64_t>>> instances;
    bool hasInstances = true;
};

// Appends `v` in `bytes` bytes (zero-filled past it); returns where it starts.
template <typename T>
std::size_t append(std::vector<unsigned char>& out, const T& v, std::size_t bytes = sizeof(T)) {
    out.resize(out.size() + bytes, 0);
    std::memcpy(out.data() + out.size() - bytes, &v, sizeof v);
    return out.size() - bytes;
}

std::uint32_t counterSize(std::uint32_t index) { return index == perf::kCounterIdProcess ? 4 : 8; }

void appendObject(std::vector<unsigned char>& out, const TestObject& o) {
    // Lengths (set below), header length, title index, ..., counters, ..., instances, ...
    perf::ObjectType obj{0, 0, 64, o.index, 0, 0, 0, 0, std::uint32_t(o.counters.size()), 0,
                         o.hasInstances ? std::int32_t(o.instances.size()) : -1, 0, 0, 0};
    const std::size_t objAt = append(out, obj);
    std::uint32_t blockBytes = 4;  // values right after the length word: 64-bit ones unaligned
    for (std::uint32_t index : o.counters) {  // length, title index, ..., size, offset
        append(out, perf::CounterDefinition{40, index, 0, 0, 0, 0, 0, 0, counterSize(index),
                                            blockBytes});
        blockBytes += counterSize(index);
    }
    obj.definitionLength = static_cast<std::uint32_t>(out.size() - objAt);
    for (const auto& [name, values] : o.instances) {
        if (o.hasInstances) {  // 6 unused bytes after each name: the walk must follow lengths
            const auto nameBytes = static_cast<std::uint32_t>((name.size() + 1) * 2);
            const perf::InstanceDefinition def{24 + nameBytes + 6, 0, 0, 0, 24, nameBytes};
            const std::size_t at = append(out, def, def.byteLength);
            std::memcpy(out.data() + at + 24, name.c_str(), nameBytes);
        }
        std::size_t at = append(out, perf::CounterBlock{blockBytes}, blockBytes) + 4;
        for (std::size_t c = 0; c < o.counters.size() && c < values.size(); ++c) {
            std::memcpy(out.data() + at, &values[c], counterSize(o.counters[c]));  // little-endian
            at += counterSize(o.counters[c]);
        }
        if (!o.hasInstances)
            break;
    }
    obj.totalByteLength = static_cast<std::uint32_t>(out.size() - objAt);
    std::memcpy(out.data() + objAt, &obj, sizeof obj);
}

// Serves a data block stamped `time` (0 reads as no data) holding `objects` in order.
void serve(std::int64_t time, const std::vector<TestObject>& objects) {
    perf::DataBlock head{};
    head.headerLength = sizeof head + 16;  // with room for a system name
    head.numObjectTypes = static_cast<std::uint32_t>(objects.size());
    head.perfTime100nSec = time;
    fake.block.clear();
    append(fake.block, head, head.headerLength);
    for (const TestObject& o : objects)
        appendObject(fake.block, o);
}

// The Processor object: instance "0", and "_Total" with idle time `idle`.
TestObject processors(std::int64_t idle) {
    return {perf::kObjectProcessor, {perf::kCounterUserTime, perf::kCounterProcessorTime},
            {{u"0", {1, 123456}}, {u"_Total", {2, idle}}}};
}

struct Proc { std::u16string name; std::uint32_t pid; std::int64_t time; };

// The Process object; ID Process is defined after the processor time, or first with `idFirst`.
TestObject processes(const std::vector<Proc>& list, bool idFirst = false) {
    TestObject o{perf::kObjectProcess, {perf::kCounterIdProcess, perf::kCounterProcessorTime}, {}};
    if (!idFirst)
        o.counters = {perf::kCounterUserTime, perf::kCounterProcessorTime, perf::kCounterIdProcess};
    for (const Proc& p : list)
        o.instances.push_back(
            {p.name, idFirst ? std::vector<std::int64_t>{p.pid, p.time}
                             : std::vector<std::int64_t>{p.time / 2, p.time, p.pid}});
    return o;
}

// An unrelated object placed before the wanted one, so the lookup must step over it.
TestObject decoy(std::uint32_t index) {
    return {index, {perf::kCounterProcessorTime}, {{u"_Total", {999}}, {u"decoy", {998}}}};
}

struct Step { std::int64_t time; std::vector<TestObject> objects; int want; };

// Serves each step's block in turn and checks what `call` returns for it.
void run(const std::function<int()>& call, const std::vector<Step>& steps) {
    for (std::size_t i = 0; i < steps.size(); ++i) {
        serve(steps[i].time, steps[i].objects);
        EXPECT_EQ(steps[i].want, call()) << "step " << i << ", time " << steps[i].time;
    }
}

std::function<int(CCpuUsage&)> byId(unsigned long id) {
    return [id](CCpuUsage& c) { return c.GetCpuUsage(id); };
}
std::function<int(CCpuUsage&)> byName(const std::u16string& name) {
    return [name](CCpuUsage& c) { return c.GetCpuUsage(name.c_str()); };
}

// Each scenario serves its blocks in turn to a new sampler: machine-wide ones query the
// Processor object (238), the others the Process object (230).
TEST_F(Scripted, ReadingsAreCounterDifferencesOverTimeDifferences) {
    auto game = [](std::int64_t t) { return std::vector{processes({{u"game", 42, t}})}; };
    auto list = [](std::int64_t t, bool idFirst) {
        return std::vector{decoy(238), processes({{u"svc", 100, 77}, {u"game", 42, t},
                                                  {u"tool", 5000, 1}}, idFirst)};
    };
    auto without = [](TestObject o) { return o.counters.pop_back(), std::vector{o}; };
    const std::vector<TestObject> other{processes({{u"other", 7, 6000}})};
    const std::u16string x255(255, u'x');
    struct Scenario {
        const char* what;
        std::function<int(CCpuUsage&)> call;  // null: machine-wide
        std::vector<Step> steps;
    };
    const Scenario scenarios[] = {
        {"machine-wide: 7490 idle of 10000: 25.1 + 0.5 -> 25 % busy; 7440: 25.6 + 0.5 -> 26",
         nullptr, {{10000, {decoy(2), processors(1000)}, 0},
                   {20000, {decoy(2), processors(8490)}, 25}, {30000, {processors(15930)}, 26}}},
        // 254 idle of 999 is 74.57 % busy (+ 0.5 -> 75), 255 of 999 is 74.47 % (-> 74).
        {"a missing object reads 0, which the next call differences against", nullptr,
         {{1000, {decoy(230)}, 0}, {1999, {processors(254)}, 75}}},
        {"a missing counter reads -1: 254 - (-1) = 255", nullptr,
         {{1000, without(processors(0)), 0}, {1999, {processors(254)}, 74}}},
        {"by id: the sample is replaced at an equal time stamp (2000 -> 3000 over 1000); 0 when "
         "the counter goes down or beyond the 32-bit range; no upper bound", byId(42),
         {{5000, game(1000), 0}, {5000, game(2000), 0}, {6000, game(3000), 100},
          {7000, game(500), 0}, {7001, game(30000500), 0}, {8001, game(30002500), 200}}},
        {"a missing process reads -1, 0 while absent; 99 - (-1) = 100 units is 10 %, not 9.9",
         byId(42), {{1000, other, 0}, {2000, other, 0},
                    {3000, {processes({{u"other", 7, 6000}, {u"game", 42, 99}})}, 10}}},
        {"ID Process defined last", byId(42),
         {{100, list(1000, false), 0}, {1100, list(1330, false), 33}}},
        {"ID Process defined first", byId(42),
         {{100, list(1000, true), 0}, {1100, list(1330, true), 33}}},
        {"without an ID Process counter no instance matches", byId(42),
         {{100, without(game(10)[0]), 0}, {200, without(game(510)[0]), 0}}},
        {"names match in any case", byName(u"gAME#1"),
         {{1000, {processes({{u"svchost", 1, 0}, {u"Game#1", 2, 100}})}, 0},
          {2000, {processes({{u"svchost", 1, 900}, {u"Game#1", 2, 600}})}, 50}}},
        {"names are cut at 255 units", byName(x255 + u"yyyy"),
         {{1000, {processes({{x255, 3, 0}})}, 0}, {2000, {processes({{x255, 3, 420}})}, 42}}}};
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.what);
        CCpuUsage cpu;
        run([&] { return s.call ? s.call(cpu) : cpu.GetCpuUsage(); }, s.steps);
        EXPECT_EQ(s.call ? u"230" : u"238", fake.queried.back());
    }
}

TEST_F(Scripted, CountersAreSwitchedOnByUnprimedSamplersAndOverloadsShareOneSample) {
    CCpuUsage cpu;
    // No data: nothing is stored, and the counters are switched on at every unprimed call.
    run([&] { return cpu.GetCpuUsage(); }, {{0, {processors(100)}, 0}, {0, {processors(100)}, 0},
                                             {1000, {processors(100)}, 0},
                                             {2000, {processors(600)}, 50}});
    EXPECT_EQ(std::vector<bool>({true, true, true}), fake.switched) << "not once primed";

    CCpuUsage shared;
    serve(1000, {processes({{u"game", 9, 100}})});
    EXPECT_EQ(0, shared.GetCpuUsage(u"game"));
    serve(2000, {processes({{u"game", 9, 300}})});
    EXPECT_EQ(20, shared.GetCpuUsage(9ul));
    CCpuUsage copy(shared);  // copies the primed sample
    serve(3000, {processes({{u"game", 9, 700}})});
    EXPECT_EQ(40, copy.GetCpuUsage(u"GAME"));
}

TEST_F(Scripted, PlatformClassChoosesTheMachineWideCounterAndIsCachedPerOverload) {
    fake.version.major = 4;  // NT 4: the System object, which has no instances
    auto system = [](std::int64_t total) {
        const TestObject s{perf::kObjectSystem, {perf::kCounterProcessorTime,
                           perf::kCounterTotalProcessorTime}, {{u"", {0, total}}}, false};
        return std::vector{processors(5), s};
    };
    CCpuUsage nt4;  // 600 idle of 1000: 40 % busy
    run([&] { return nt4.GetCpuUsage(); }, {{1000, system(100), 0}, {2000, system(700), 40}});
    EXPECT_EQ(u"2", fake.queried.back());
    EXPECT_EQ(1, nt4.EnablePerformaceCounters(1));
    EXPECT_TRUE(fake.switched.empty()) << "counters are switched only on later NT versions";
    fake.version.major = 6;  // the switch reads the class afresh, unlike the samplers
    fake.switchResult = 0;
    EXPECT_EQ(0, nt4.EnablePerformaceCounters(0));
    EXPECT_EQ(std::vector<bool>{false}, fake.switched);
    run([&] { return nt4.GetCpuUsage(); }, {{3000, system(1200), 50}});

    // The 9x family (1), anything else (3) and an NT record the version query fails to read
    // (2): no machine-wide load, not even a query; the per-process overloads still sample.
    for (std::uint32_t platformId : {1u, 3u, 2u}) {
        SCOPED_TRACE("platform id " + std::to_string(platformId));
        nxsysinfo::resetState();
        fake.version.platformId = platformId;
        fake.versionOk = platformId != 2;
        fake.queried.clear();
        CCpuUsage cpu;
        EXPECT_EQ(-1, cpu.GetCpuUsage());
        EXPECT_TRUE(fake.queried.empty());
        run([&] { return cpu.GetCpuUsage(9ul); },
            {{1000, {processes({{u"game", 9, 0}})}, 0},
             {2000, {processes({{u"game", 9, 100}})}, 10}});
    }
}

TEST_F(Scripted, QueryBufferGrowsByStepsAndKeepsItsSize) {
    // A Process object of about 120 KB does not fit the initial 102400 bytes.
    const std::u16string longName(60000, u'x');
    auto big = [&](std::int64_t t) { return processes({{longName, 1, 0}, {u"game", 77777, t}}); };
    CCpuUsage cpu;
    run([&] { return cpu.GetCpuUsage(77777ul); }, {{1000, {big(0)}, 0}});
    const std::size_t needed = fake.block.size();
    ASSERT_GT(needed, 102400u);
    const std::size_t steps = (needed - 102400 + 10239) / 10240;
    EXPECT_EQ(102400 + steps * 10240, nxsysinfo::queryBufferSize());
    EXPECT_EQ(steps + 1, fake.queried.size());
    run([&] { return cpu.GetCpuUsage(77777ul); }, {{2000, {big(300)}, 30}});
    EXPECT_EQ(steps + 2, fake.queried.size()) << "the grown buffer is kept";
}

TEST_F(Scripted, CounterQueryNeedsTwoCollectionsAndNeverRetriesItsStart) {
    // One collection (invalid counter status), then a valid one, a failed format, a failed
    // collection.
    const std::pair<Pdh, int> rows[] = {
        {{std::uint32_t(platform::kPdhInvalidData), 5}, -1}, {{0, 37}, 37},
        {{0, 37, 1}, -1}, {{0, 37, 0, 5}, -1}};
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        fake.pdh = rows[i].first;
        EXPECT_EQ(rows[i].second, pubfunc::getCPUUsage()) << "row " << i;
        EXPECT_EQ(int(i) + 1, fake.collectCalls) << "row " << i;
    }
    EXPECT_EQ(1, fake.openCalls);
    nxsysinfo::resetState();
    EXPECT_EQ(1, fake.closeCalls) << "a reset closes the query it started";
    // A failed open reads 0 once, then -1 for good; so does a failed counter, -1 at once.
    for (bool openFails : {true, false}) {
        SCOPED_TRACE(openFails ? "open fails" : "adding the counter fails");
        fake = {}, nxsysinfo::resetState();
        (openFails ? fake.openStatus : fake.addStatus) = 1;
        EXPECT_EQ(openFails ? 0 : -1, GetCpuInfo_All());
        fake.openStatus = fake.addStatus = 0;
        EXPECT_EQ(-1, GetCpuInfo_All());
        EXPECT_EQ(1, fake.openCalls);
    }
}

TEST(IsEqualValue, ComparesTheSinglePrecisionDifferenceStrictly) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Row { float a, b; bool equal; };
    const Row rows[] = {{1.0f, 1.00005f, true}, {1.0f, 1.0001f, false},  // not below 0.0001
                        {nan, nan, false},      {inf, inf, false}};
    for (const Row& r : rows)
        EXPECT_EQ(r.equal, isEqualValue(r.a, r.b)) << r.a << " vs " << r.b;
}

TEST_F(Scripted, OsVersionCodeIsReadOnceByInitPubfuncWhileAboveVistaReadsAfresh) {
    EXPECT_EQ(0, pubfunc::getOSVersion()) << "before initPubfunc";
    // The last rows: the extended query fails and the plain one is used; both fail, which
    // gives code 0 while isAboveVista assumes yes.
    struct Row { std::uint32_t major, minor; int code; bool extendedOk = true, versionOk = true; };
    const Row rows[] = {{5, 9, 0}, {6, 0, 6}, {6, 1, 7}, {6, 2, 8}, {7, 0, 8},
                        {5, 0, 0, false}, {6, 0, 6, false}, {6, 0, 0, false, false}};
    for (const Row& r : rows) {
        SCOPED_TRACE("row " + std::to_string(&r - rows));
        const int before = pubfunc::getOSVersion();
        fake.version.major = r.major, fake.version.minor = r.minor;
        fake.extendedOk = r.extendedOk, fake.versionOk = r.versionOk;
        EXPECT_EQ(before, pubfunc::getOSVersion()) << "unchanged until initPubfunc runs again";
        EXPECT_EQ(r.major >= 6 || !r.versionOk, pubfunc::isAboveVista());
        pubfunc::initPubfunc();
        EXPECT_EQ(r.code, pubfunc::getOSVersion());
    }
}

TEST_F(Scripted, CompositionIsLeftAloneBeforeVersionSixAndFollowsThePlatformAfter) {
    const long failure = -2147467259;
    // What the platform says, then IsCompositionEnabled and enableComposition.
    struct Row { std::uint32_t major; Composition platform; bool enabled; long set; };
    const Row rows[] = {{5, {true, 0, 1}, false, 1},  // the composition library is not looked up
                        {6, {true, 0, 1}, true, 0},
                        {6, {true, 0, 0}, false, 0},
                        {6, {true, failure, 1}, false, failure},
                        {6, {false, 0, 1}, false, 1}};
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        const int on = i % 2 == 0;
        const Row& r = rows[i];
        fake.version.major = r.major, fake.composition = r.platform, fake.compositionCalls = {};
        EXPECT_EQ(r.enabled, pubfunc::IsCompositionEnabled());
        EXPECT_EQ(r.set, pubfunc::enableComposition(on));
        EXPECT_EQ((r.major < 6 ? std::vector<int>{} : std::vector<int>{-1, on}),
                  fake.compositionCalls);
    }
}

TEST_F(Scripted, MemoryInMebibytesAndAdapterNameAsBinaryUtf16OrAsText) {
    fake.memory = 16ull << 30;
    EXPECT_EQ(16384, pubfunc::GetMemoryTotal());
    fake.memory = (1ull << 20) - 1;
    EXPECT_EQ(0, pubfunc::GetMemoryTotal());

    const char16_t wide[] = u"Radeon RX 580";
    const char text[] = " Intel(R) HD Graphics 620 \0ignored";
    const auto* w = reinterpret_cast<const unsigned char*>(wide);
    const std::vector<unsigned char> bytes(text, text + sizeof text);
    const std::pair<Adapter, std::u16string> rows[] = {
        {{3, {w, w + sizeof wide}, true}, u"Radeon RX 580"},
        {{1, bytes, true}, u" Intel(R) HD Graphics 620 "},
        {{4, bytes, true}, u""},  // a number: not a name
        {{1, bytes, false}, u""}};
    for (const auto& [adapter, want] : rows) {
        fake.adapter = adapter;
        EXPECT_EQ(want, pubfunc::GetDisplayAdapterName()) << "type " << adapter.type << ", key "
                                                          << adapter.key;
    }
}

}  // namespace
