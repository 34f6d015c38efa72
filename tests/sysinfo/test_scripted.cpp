// The sampler and the hardware and OS facts over a scripted platform: hand-built raw performance
// data, version records, registry values and counter-query results, with the calls counted.
#include "platform/perf.h"
#include "sysinfo/sysinfo.h"
#include "sysinfo/sysinfo_backend.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>

namespace {

namespace perf = platform::perf;

// ---- the scripted platform ----------------------------------------------------------------------

struct FakePlatform {
    std::vector<unsigned char> block;  // what every raw-data query returns
    std::vector<std::u16string> queried;
    std::vector<bool> switched;  // the counter switch's arguments
    int switchResult = 1;
    bool versionOk = true, extendedOk = true;
    platform::OsVersion version{6, 1, 0, 2, ""};
    std::uint64_t memory = 0;
    bool adapterKey = true, compositionPresent = true;
    std::uint32_t adapterType = 1;
    std::vector<unsigned char> adapterData;
    int compositionCalls = 0, compositionFlag = 1;
    long compositionStatus = 0;
    unsigned lastAction = 99;
    long openStatus = 0, addStatus = 0, collectStatus = 0, formatStatus = 0, formatted = 0;
    int openCalls = 0, collectCalls = 0;
    std::uint32_t formattedStatus = 0;
} fake;

// Outputs are written even when a call fails, so a caller that ignores the failure shows.
nxsysinfo::Backend fakeBackend() {
    nxsysinfo::Backend b = nxsysinfo::platformBackend();
    b.queryData = [](const char16_t* name, void* buffer, std::uint32_t* size) -> long {
        fake.queried.push_back(name);
        if (fake.block.size() > *size)
            return platform::kPerfMoreData;  // the size is left as it was
        std::memcpy(buffer, fake.block.data(), fake.block.size());
        *size = static_cast<std::uint32_t>(fake.block.size());
        return 0;
    };
    b.setCountersEnabled = [](bool on) { return fake.switched.push_back(on), fake.switchResult; };
    b.osVersion = [](platform::OsVersion& v, bool extended) {
        const bool ok = fake.versionOk && (fake.extendedOk || !extended);
        v = ok ? fake.version : v;  // except a failed version query, which leaves the record
        return ok;
    };
    b.physicalMemoryBytes = [] { return fake.memory; };
    b.displayAdapterValue = [](std::uint32_t& type, std::vector<unsigned char>& data) {
        type = fake.adapterType;
        data = fake.adapterData;
        return fake.adapterKey;
    };
    b.compositionIsEnabled = [](long& status, int& enabled) {
        ++fake.compositionCalls;
        status = fake.compositionStatus;
        enabled = fake.compositionFlag;
        return fake.compositionPresent;
    };
    b.compositionEnable = [](unsigned action, long& status) {
        ++fake.compositionCalls;
        fake.lastAction = action;
        status = fake.compositionStatus;
        return fake.compositionPresent;
    };
    b.pdhOpenQuery = [](void** q) { return ++fake.openCalls, *q = &fake, fake.openStatus; };
    b.pdhAddCounter = [](void*, const char16_t*, void** c) { return *c = &fake, fake.addStatus; };
    b.pdhCollectQueryData = [](void*) { return ++fake.collectCalls, fake.collectStatus; };
    b.pdhGetFormattedLong = [](void*, long* value, std::uint32_t* status) {
        *value = fake.formatted;
        *status = fake.formattedStatus;
        return fake.formatStatus;
    };
    return b;
}

// Installs the fake (an NT 6.1 record) and a fresh sampler state; restores the real platform.
class Scripted : public ::testing::Test {
protected:
    void SetUp() override {
        fake = FakePlatform{};
        nxsysinfo::backend() = fakeBackend();
        nxsysinfo::resetState();
    }
    void TearDown() override {
        nxsysinfo::backend() = nxsysinfo::platformBackend();
        nxsysinfo::resetState();
    }
};

// ---- hand-built raw data, with the irregularities the walk must cope with ----------------------

// Counters by title index (ID Process 32-bit, the others 64-bit); instances with one value per
// counter, or without instances the first entry's values as the object's one block.
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
    perf::ObjectType obj{};
    obj.headerLength = sizeof obj;
    obj.objectNameTitleIndex = o.index;
    obj.numCounters = static_cast<std::uint32_t>(o.counters.size());
    obj.numInstances = o.hasInstances ? static_cast<std::int32_t>(o.instances.size()) : -1;
    const std::size_t objAt = append(out, obj);
    std::uint32_t blockBytes = 4;  // values right after the length word: 64-bit ones unaligned
    for (std::uint32_t index : o.counters) {
        perf::CounterDefinition def{};
        def.byteLength = sizeof def;
        def.counterNameTitleIndex = index;
        def.counterSize = counterSize(index);
        def.counterOffset = blockBytes;
        blockBytes += def.counterSize;
        append(out, def);
    }
    obj.definitionLength = static_cast<std::uint32_t>(out.size() - objAt);
    for (const auto& [name, values] : o.instances) {
        if (o.hasInstances) {  // 6 unused bytes after each name: the walk must follow lengths
            perf::InstanceDefinition def{};
            def.nameOffset = sizeof def;
            def.nameLength = static_cast<std::uint32_t>((name.size() + 1) * 2);
            def.byteLength = def.nameOffset + def.nameLength + 6;
            const std::size_t at = append(out, def, def.byteLength);
            std::memcpy(out.data() + at + def.nameOffset, name.c_str(), def.nameLength);
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
    std::memcpy(head.signature, u"PERF", 8);
    head.headerLength = sizeof head + 16;  // with room for a system name
    head.numObjectTypes = static_cast<std::uint32_t>(objects.size());
    head.perfTime100nSec = time;
    fake.block.clear();
    append(fake.block, head, head.headerLength);
    for (const TestObject& o : objects)
        appendObject(fake.block, o);
    head.totalByteLength = static_cast<std::uint32_t>(fake.block.size());
    std::memcpy(fake.block.data(), &head, sizeof head);
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

// ---- the sampler --------------------------------------------------------------------------------

TEST_F(Scripted, MachineWideLoadPrimesThenInvertsAndRoundsTheIdleShare) {
    CCpuUsage cpu;
    // 2500 idle units in 10000: 75 % busy; 7490 idle: 25.1 + 0.5 -> 25; 7440: 25.6 + 0.5 -> 26.
    run([&] { return cpu.GetCpuUsage(); }, {{10000, {decoy(2), processors(1000)}, 0},
                                             {20000, {decoy(2), processors(3500)}, 75},
                                             {30000, {processors(10990)}, 25},
                                             {40000, {processors(18430)}, 26}});
    EXPECT_EQ(u"238", fake.queried.back());
}

TEST_F(Scripted, ProcessLoadIsTheCounterDifferenceOverTheTimeDifference) {
    auto game = [](std::int64_t t) { return std::vector{processes({{u"game", 42, t}})}; };
    CCpuUsage cpu;
    run([&] { return cpu.GetCpuUsage(42ul); },
        {{5000, game(1000), 0},
         {5000, game(2000), 0},          // same time stamp, yet the sample is replaced:
         {6000, game(3000), 100},        // 2000 -> 3000 over 1000
         {7000, game(500), 0},           // the counter went down
         {7001, game(30000500), 0},      // beyond the 32-bit range
         {8001, game(30002500), 200}});  // no upper bound: two busy processors
    // A missing process reads -1, which stays 0 while it is absent; when it appears,
    // 99 - (-1) = 100 units over 1000 is 10 %, not 9.9.
    const TestObject other = processes({{u"other", 7, 6000}});
    CCpuUsage absent;
    run([&] { return absent.GetCpuUsage(42ul); },
        {{1000, {other}, 0}, {2000, {other}, 0},
         {3000, {processes({{u"other", 7, 6000}, {u"game", 42, 99}})}, 10}});
    EXPECT_EQ(u"230", fake.queried.back());
}

TEST_F(Scripted, ProcessIdIsFoundWhereverItsCounterIsDefined) {
    auto list = [](std::int64_t t) {
        return std::vector<Proc>{
            {u"Idle", 0, 0}, {u"svc", 100, 77}, {u"game", 4242, t}, {u"tool", 5000, 1}};
    };
    for (bool idFirst : {false, true}) {
        SCOPED_TRACE(idFirst ? "ID Process defined first" : "ID Process defined last");
        CCpuUsage cpu;
        run([&] { return cpu.GetCpuUsage(4242ul); },
            {{100, {decoy(238), processes(list(1000), idFirst)}, 0},
             {1100, {decoy(238), processes(list(1330), idFirst)}, 33}});
    }
    // Without an ID Process counter no instance can match.
    TestObject before = processes({{u"game", 4242, 10}}), after = processes({{u"game", 4242, 510}});
    before.counters.pop_back();
    after.counters.pop_back();
    CCpuUsage cpu;
    run([&] { return cpu.GetCpuUsage(4242ul); }, {{100, {before}, 0}, {200, {after}, 0}});
}

TEST_F(Scripted, NamesMatchInAnyCaseAreCutAt255UnitsAndOverloadsShareOneSample) {
    CCpuUsage cpu;
    run([&] { return cpu.GetCpuUsage(u"gAME#1"); },
        {{1000, {processes({{u"svchost", 1, 0}, {u"Game#1", 2, 100}})}, 0},
         {2000, {processes({{u"svchost", 1, 900}, {u"Game#1", 2, 600}})}, 50}});
    const std::u16string stored(255, u'x'), asked = stored + u"yyyy";
    CCpuUsage cut;
    run([&] { return cut.GetCpuUsage(asked.c_str()); },
        {{1000, {processes({{stored, 3, 0}})}, 0}, {2000, {processes({{stored, 3, 420}})}, 42}});

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
        return TestObject{perf::kObjectSystem,
                          {perf::kCounterProcessorTime, perf::kCounterTotalProcessorTime},
                          {{u"", {0, total}}}, false};
    };
    CCpuUsage nt4;  // 600 idle of 1000: 40 % busy
    run([&] { return nt4.GetCpuUsage(); },
        {{1000, {processors(5), system(100)}, 0}, {2000, {processors(5), system(700)}, 40}});
    EXPECT_EQ(u"2", fake.queried.back());
    EXPECT_EQ(1, nt4.EnablePerformaceCounters(1));
    EXPECT_TRUE(fake.switched.empty()) << "counters are switched only on later NT versions";
    fake.version.major = 6;  // the switch reads the class afresh, unlike the samplers
    fake.switchResult = 0;
    EXPECT_EQ(0, nt4.EnablePerformaceCounters(0));
    EXPECT_EQ(std::vector<bool>{false}, fake.switched);
    run([&] { return nt4.GetCpuUsage(); }, {{3000, {processors(5), system(1200)}, 50}});

    // The 9x family (1) and anything else (3): no machine-wide load, not even a query; the
    // per-process overloads still sample.
    for (std::uint32_t platformId : {1u, 3u}) {
        SCOPED_TRACE("platform id " + std::to_string(platformId));
        nxsysinfo::resetState();
        fake.version.platformId = platformId;
        fake.queried.clear();
        CCpuUsage cpu;
        EXPECT_EQ(-1, cpu.GetCpuUsage());
        EXPECT_EQ(-1, cpu.GetCpuUsage());
        EXPECT_TRUE(fake.queried.empty());
        run([&] { return cpu.GetCpuUsage(9ul); },
            {{1000, {processes({{u"game", 9, 0}})}, 0},
             {2000, {processes({{u"game", 9, 100}})}, 10}});
    }
    nxsysinfo::resetState();
    fake.versionOk = false;  // a failed version query is class 3 as well
    EXPECT_EQ(-1, CCpuUsage().GetCpuUsage());
}

TEST_F(Scripted, MissingDataObjectsAndCounters) {
    CCpuUsage cpu;
    auto machine = [&] { return cpu.GetCpuUsage(); };
    // No data: nothing is stored, and the counters are switched on at every unprimed call.
    run(machine, {{0, {processors(100)}, 0}, {0, {processors(100)}, 0}});
    EXPECT_EQ(std::vector<bool>({true, true}), fake.switched);
    // A missing object reads 0, which the next call differences against.
    run(machine, {{1000, {decoy(230)}, 0}, {2000, {processors(250)}, 75}});
    EXPECT_EQ(3u, fake.switched.size()) << "primed samplers leave the counters alone";
    // A missing counter reads -1: 499 - (-1) = 500 idle of 1000.
    TestObject noCounter = processors(0);
    noCounter.counters.pop_back();
    CCpuUsage other;
    run([&] { return other.GetCpuUsage(); },
        {{1000, {noCounter}, 0}, {2000, {processors(499)}, 50}});
}

TEST_F(Scripted, QueryBufferGrowsByStepsAndKeepsItsSize) {
    // A Process object of about 130 KB does not fit the initial 102400 bytes.
    std::vector<Proc> many;
    for (std::uint32_t i = 0; i < 1500; ++i)
        many.push_back({u"process-with-a-long-name-" + std::u16string(10, u'a' + i % 26), i, 0});
    many.push_back({u"game", 77777, 0});
    CCpuUsage cpu;
    run([&] { return cpu.GetCpuUsage(77777ul); }, {{1000, {processes(many)}, 0}});
    const std::size_t needed = fake.block.size();
    ASSERT_GT(needed, 102400u);
    const std::size_t steps = (needed - 102400 + 10239) / 10240;
    EXPECT_EQ(102400 + steps * 10240, nxsysinfo::queryBufferSize());
    EXPECT_EQ(steps + 1, fake.queried.size());
    many.back().time = 300;
    run([&] { return cpu.GetCpuUsage(77777ul); }, {{2000, {processes(many)}, 30}});
    EXPECT_EQ(steps + 2, fake.queried.size()) << "the grown buffer is kept";
}

TEST_F(Scripted, CounterQueryNeedsTwoCollectionsAndNeverRetriesItsStart) {
    fake.formattedStatus = static_cast<std::uint32_t>(platform::kPdhInvalidData);
    EXPECT_EQ(-1, GetCpuInfo_All());
    EXPECT_EQ(1, fake.collectCalls);
    fake.formattedStatus = 0;
    fake.formatted = 37;
    EXPECT_EQ(37, pubfunc::getCPUUsage());
    fake.formatStatus = 1;
    EXPECT_EQ(-1, GetCpuInfo_All());
    fake.formatStatus = 0;
    fake.collectStatus = 5;
    EXPECT_EQ(-1, GetCpuInfo_All());
    EXPECT_EQ(1, fake.openCalls);
    // A failed open reads 0 once, then -1 for good; so does a failed counter, -1 at once.
    for (bool openFails : {true, false}) {
        SCOPED_TRACE(openFails ? "open fails" : "adding the counter fails");
        nxsysinfo::resetState();
        fake = FakePlatform{};
        (openFails ? fake.openStatus : fake.addStatus) = 1;
        EXPECT_EQ(openFails ? 0 : -1, GetCpuInfo_All());
        fake.openStatus = fake.addStatus = 0;
        EXPECT_EQ(-1, GetCpuInfo_All());
        EXPECT_EQ(1, fake.openCalls);
    }
}

// ---- facts --------------------------------------------------------------------------------------

TEST(IsEqualValue, ComparesTheSinglePrecisionDifferenceStrictly) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Row { float a, b; bool equal; };
    const Row rows[] = {{1.0f, 1.00005f, true}, {1.0f, 1.0001f, false},  // not below 0.0001
                        {0.0f, -0.0f, true},    {nan, nan, false},
                        {1.0f, nan, false},     {inf, inf, false}};
    for (const Row& r : rows)
        EXPECT_EQ(r.equal, isEqualValue(r.a, r.b)) << r.a << " vs " << r.b;
}

TEST_F(Scripted, OsVersionCodeIsReadOnceByInitPubfuncWhileAboveVistaReadsAfresh) {
    EXPECT_EQ(0, pubfunc::getOSVersion()) << "before initPubfunc";
    struct Row { std::uint32_t major, minor; int code; };
    const Row rows[] = {{5, 1, 0}, {5, 9, 0}, {6, 0, 6},  {6, 1, 7}, {6, 2, 8},
                        {6, 3, 8}, {10, 0, 8}, {7, 0, 8}, {0, 0, 0}};
    for (const Row& r : rows) {
        const int before = pubfunc::getOSVersion();
        fake.version.major = r.major;
        fake.version.minor = r.minor;
        EXPECT_EQ(before, pubfunc::getOSVersion()) << "unchanged until initPubfunc runs again";
        EXPECT_EQ(r.major >= 6, pubfunc::isAboveVista()) << r.major;
        pubfunc::initPubfunc();
        EXPECT_EQ(r.code, pubfunc::getOSVersion()) << r.major << "." << r.minor;
    }
    // The extended query failing falls back to the plain one; both failing: code 0 and
    // isAboveVista assumes yes.
    fake.version = {};
    fake.version.major = 5;
    fake.extendedOk = false;
    EXPECT_FALSE(pubfunc::isAboveVista());
    fake.version.major = 6;
    pubfunc::initPubfunc();
    EXPECT_EQ(6, pubfunc::getOSVersion());
    fake.versionOk = false;
    pubfunc::initPubfunc();
    EXPECT_EQ(0, pubfunc::getOSVersion());
    EXPECT_TRUE(pubfunc::isAboveVista());
}

TEST_F(Scripted, CompositionIsLeftAloneBeforeVersionSixAndFollowsThePlatformAfter) {
    const long failure = -2147467259;
    // What the platform says, then IsCompositionEnabled and enableComposition.
    struct Row { std::uint32_t major; bool present; long status; int flag; bool enabled; long set; };
    const Row rows[] = {{5, true, 0, 1, false, 1},  // the composition library is not looked up
                        {6, true, 0, 1, true, 0},
                        {6, true, 0, 0, false, 0},
                        {6, true, failure, 1, false, failure},
                        {6, false, 0, 1, false, 1}};
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        const Row& r = rows[i];
        const bool on = i % 2 == 0;
        fake.version.major = r.major;
        fake.compositionPresent = r.present;
        fake.compositionStatus = r.status;
        fake.compositionFlag = r.flag;
        fake.compositionCalls = 0;
        fake.lastAction = 99;
        EXPECT_EQ(r.enabled, pubfunc::IsCompositionEnabled());
        EXPECT_EQ(r.set, pubfunc::enableComposition(on));
        EXPECT_EQ(r.major < 6 ? 0 : 2, fake.compositionCalls);
        EXPECT_EQ(r.major < 6 ? 99u : unsigned(on), fake.lastAction);
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
    struct Row { std::uint32_t type; std::vector<unsigned char> data; bool key; std::u16string want; };
    const Row rows[] = {{3, {w, w + sizeof wide}, true, u"Radeon RX 580"},
                      {1, {text, text + sizeof text}, true, u" Intel(R) HD Graphics 620 "},
                      {4, {text, text + sizeof text}, true, u""},  // a number: not a name
                      {1, {text, text + sizeof text}, false, u""}};
    for (const Row& r : rows) {
        fake.adapterType = r.type;
        fake.adapterData = r.data;
        fake.adapterKey = r.key;
        EXPECT_EQ(r.want, pubfunc::GetDisplayAdapterName()) << "type " << r.type << ", key " << r.key;
    }
}

}  // namespace
