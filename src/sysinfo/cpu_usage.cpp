// The processor-load sampler: raw performance data walked by the byte lengths of its elements,
// two successive readings of a processor-time counter turned into a percentage; and the
// machine-wide load from the counter-query library.
//
// Sections: module-wide state; the raw-data query; walking the data; CCpuUsage; GetCpuInfo_All.
#include "sysinfo/sysinfo.h"
#include "sysinfo/sysinfo_backend.h"
#include "platform/perf.h"
#include "platform/syscalls.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace nxsysinfo {

// ---- module-wide state ----------------------------------------------------------------------
//
// The platform's answers (raw data, counter queries, the version record) come through
// platform::sys(), where tests replace them.

int platformClassOf(bool queried, const platform::OsVersion& v) {
    if (!queried)
        return 3;
    if (v.platformId == 2)
        return v.major == 4 ? 0 : 1;
    return v.platformId == 1 ? 2 : 3;
}

namespace {

constexpr std::size_t kInitialBufferBytes = 102400;
constexpr std::uint32_t kBufferStep = 10240;
constexpr int kUnknownClass = -1;

// Module-wide and unlocked: callers serialise sampling calls. The buffer lives until unload.
std::vector<unsigned char> g_buffer;
int g_classAll = kUnknownClass;
int g_classById = kUnknownClass;
int g_classByName = kUnknownClass;

bool g_pdhStarted = false;
void* g_pdhQuery = nullptr;
void* g_pdhCounter = nullptr;

int platformClass() {
    platform::OsVersion v;
    const bool ok = platform::sys().osVersion(v, false);
    return platformClassOf(ok, v);
}

int cachedClass(int& slot) {
    if (slot == kUnknownClass)
        slot = platformClass();
    return slot;
}

}  // namespace

std::size_t queryBufferSize() { return g_buffer.size(); }

void resetVersionRecord();  // facts.cpp

void resetState() {
    g_buffer.clear();
    g_buffer.shrink_to_fit();
    g_classAll = g_classById = g_classByName = kUnknownClass;
    g_pdhStarted = false;
    if (g_pdhQuery)
        platform::sys().pdhCloseQuery(g_pdhQuery);
    g_pdhQuery = g_pdhCounter = nullptr;
    resetVersionRecord();
}

namespace {

// ---- the raw-data query --------------------------------------------------------------------

// Reads the object `index` into the module-wide buffer, growing it while the platform asks for
// more; the data block is the buffer's start. A read that ends with an error leaves the
// zero-filled buffer, whose time stamp of 0 makes the caller return 0.
void queryRawData(std::uint32_t index) {
    if (g_buffer.empty())
        g_buffer.resize(kInitialBufferBytes);
    char16_t name[16];
    {
        char digits[16];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + index % 10);
            index /= 10;
        } while (index);
        for (int i = 0; i < n; ++i)
            name[i] = static_cast<char16_t>(digits[n - 1 - i]);
        name[n] = 0;
    }
    std::fill(g_buffer.begin(), g_buffer.end(), 0);
    std::uint32_t size = static_cast<std::uint32_t>(g_buffer.size());
    long status = platform::sys().perfQueryData(name, g_buffer.data(), &size);
    while (status == platform::kPerfMoreData) {
        // The size the read left behind is unspecified; growing from it keeps the buffer
        // growing in any case as long as the registry hands back what it was given.
        std::uint32_t grown = size + kBufferStep;
        if (grown <= g_buffer.size())
            grown = static_cast<std::uint32_t>(g_buffer.size()) + kBufferStep;
        g_buffer.resize(grown, 0);
        size = grown;
        status = platform::sys().perfQueryData(name, g_buffer.data(), &size);
    }
}

// ---- walking the data ----------------------------------------------------------------------

// The data block as read: every access is checked against the buffer, so a malformed block
// reads as a missing element instead of running off the end.
struct View {
    const unsigned char* base;
    std::size_t size;

    template <typename T>
    bool load(std::uint64_t offset, T& out) const {
        if (offset > size || size - offset < sizeof(T))
            return false;
        std::memcpy(&out, base + offset, sizeof(T));
        return true;
    }
};

constexpr std::uint64_t kNotFound = ~std::uint64_t(0);
constexpr long long kMissingReading = -1;

// The offset of the first object type whose title index is `index`, or kNotFound.
std::uint64_t findObject(const View& v, std::uint32_t index) {
    platform::perf::DataBlock head;
    if (!v.load(0, head))
        return kNotFound;
    std::uint64_t at = head.headerLength;
    for (std::uint32_t i = 0; i < head.numObjectTypes; ++i) {
        platform::perf::ObjectType obj;
        if (!v.load(at, obj))
            return kNotFound;
        if (obj.objectNameTitleIndex == index)
            return at;
        at += obj.totalByteLength;
    }
    return kNotFound;
}

// Case folding of the instance-name comparison: ASCII letters.
inline char16_t fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c; }

// Whether the zero-terminated UTF-16 name at `offset` equals `wanted` regardless of case.
bool nameMatches(const View& v, std::uint64_t offset, const char16_t* wanted) {
    for (std::size_t i = 0;; ++i) {
        char16_t c;
        if (!v.load(offset + 2 * i, c))
            return false;
        if (fold(c) != fold(wanted[i]))
            return false;
        if (c == 0)
            return true;
    }
}

// The object's definition of counter `index`: its offset in a counter block, or kNotFound.
struct CounterDefs {
    std::uint64_t wanted = kNotFound;
    std::uint64_t idProcess = kNotFound;
};

CounterDefs findCounters(const View& v, std::uint64_t objAt,
                         const platform::perf::ObjectType& obj, std::uint32_t index,
                         bool withIdProcess) {
    CounterDefs defs;
    std::uint64_t at = objAt + obj.headerLength;
    for (std::uint32_t i = 0; i < obj.numCounters; ++i) {
        platform::perf::CounterDefinition def;
        if (!v.load(at, def))
            break;
        if (def.counterNameTitleIndex == index && defs.wanted == kNotFound)
            defs.wanted = def.counterOffset;
        if (withIdProcess && def.counterNameTitleIndex == platform::perf::kCounterIdProcess &&
            defs.idProcess == kNotFound)
            defs.idProcess = def.counterOffset;
        if (defs.wanted != kNotFound && (!withIdProcess || defs.idProcess != kNotFound))
            break;
        at += def.byteLength;
    }
    return defs;
}

// The start of the counter block that follows the instance at `instAt`, or kNotFound.
std::uint64_t blockAfter(const View& v, std::uint64_t instAt) {
    platform::perf::InstanceDefinition inst;
    return v.load(instAt, inst) ? instAt + inst.byteLength : kNotFound;
}

// The instance after the counter block at `blockAt`, or kNotFound.
std::uint64_t instanceAfter(const View& v, std::uint64_t blockAt) {
    platform::perf::CounterBlock block;
    return v.load(blockAt, block) ? blockAt + block.byteLength : kNotFound;
}

long long readCounter64(const View& v, std::uint64_t blockAt, std::uint64_t offset) {
    long long value;
    return v.load(blockAt + offset, value) ? value : kMissingReading;
}

// A counter of the instance called `name` (or of the object's only block when it has no
// instances). 0 when the object is missing, -1 when the instance or the counter is.
long long readByName(std::uint32_t object, std::uint32_t counter, const char16_t* name) {
    const View v{g_buffer.data(), g_buffer.size()};
    const std::uint64_t objAt = findObject(v, object);
    if (objAt == kNotFound)
        return 0;
    platform::perf::ObjectType obj;
    v.load(objAt, obj);
    const CounterDefs defs = findCounters(v, objAt, obj, counter, false);
    std::uint64_t blockAt = kNotFound;
    if (obj.numInstances == platform::perf::kNoInstances) {
        blockAt = objAt + obj.definitionLength;
    } else {
        std::uint64_t instAt = objAt + obj.definitionLength;
        for (std::int32_t i = 0; i < obj.numInstances && instAt != kNotFound; ++i) {
            platform::perf::InstanceDefinition inst;
            if (!v.load(instAt, inst))
                break;
            if (nameMatches(v, instAt + inst.nameOffset, name)) {
                blockAt = instAt + inst.byteLength;
                break;
            }
            instAt = instanceAfter(v, instAt + inst.byteLength);
        }
    }
    if (blockAt == kNotFound || defs.wanted == kNotFound)
        return kMissingReading;
    return readCounter64(v, blockAt, defs.wanted);
}

// A counter of the instance whose ID Process counter is `pid`.
long long readById(std::uint32_t object, std::uint32_t counter, unsigned long pid) {
    const View v{g_buffer.data(), g_buffer.size()};
    const std::uint64_t objAt = findObject(v, object);
    if (objAt == kNotFound)
        return 0;
    platform::perf::ObjectType obj;
    v.load(objAt, obj);
    const CounterDefs defs = findCounters(v, objAt, obj, counter, true);
    if (obj.numInstances < 1 || defs.wanted == kNotFound || defs.idProcess == kNotFound)
        return kMissingReading;
    std::uint64_t instAt = objAt + obj.definitionLength;
    for (std::int32_t i = 0; i < obj.numInstances && instAt != kNotFound; ++i) {
        const std::uint64_t blockAt = blockAfter(v, instAt);
        if (blockAt == kNotFound)
            break;
        std::uint32_t id;
        if (!v.load(blockAt + defs.idProcess, id))
            break;
        if (id == static_cast<std::uint32_t>(pid))
            return readCounter64(v, blockAt, defs.wanted);
        instAt = instanceAfter(v, blockAt);
    }
    return kMissingReading;
}

long long blockTimeStamp() {
    platform::perf::DataBlock head;
    const View v{g_buffer.data(), g_buffer.size()};
    return v.load(0, head) ? head.perfTime100nSec : 0;
}

}  // namespace

}  // namespace nxsysinfo

// ---- CCpuUsage -----------------------------------------------------------------------------

namespace {

enum class Reading { ByName, ById };

// A percentage as a 32-bit integer truncated toward zero; anything not finite, outside the
// 32-bit range or negative is 0.
int toPercent(double value) {
    if (!std::isfinite(value))
        return 0;
    const double t = std::trunc(value);
    if (t < -2147483648.0 || t > 2147483647.0)
        return 0;
    const int v = static_cast<int>(t);
    return v < 0 ? 0 : v;
}

}  // namespace

CCpuUsage::CCpuUsage() : m_bFirstTime(true), m_lnOldValue(0), m_OldPerfTime100nSec(0) {}

CCpuUsage::~CCpuUsage() = default;

int CCpuUsage::EnablePerformaceCounters(int enable) {
    using namespace nxsysinfo;
    if (platformClass() != 1)
        return 1;
    return platform::sys().perfSetCountersEnabled(enable != 0);
}

namespace {

// The sampling step shared by the overloads: read, then difference against the previous
// sample. `machineWide` selects the inverted formula of an idle-time counter.
int sample(bool& first, long long& oldValue, long long& oldTime, long long reading,
           bool machineWide) {
    const long long stamp = nxsysinfo::blockTimeStamp();
    if (stamp == 0)
        return 0;
    if (first) {
        first = false;
        oldValue = reading;
        oldTime = stamp;
        return 0;
    }
    const long long diff = static_cast<long long>(static_cast<unsigned long long>(reading) -
                                                  static_cast<unsigned long long>(oldValue));
    const double timeDiff = static_cast<double>(stamp) - static_cast<double>(oldTime);
    oldValue = reading;
    oldTime = stamp;
    const double ratio = static_cast<double>(diff) / timeDiff;
    return toPercent(machineWide ? (1.0 - ratio) * 100.0 + 0.5 : ratio * 100.0);
}

}  // namespace

int CCpuUsage::GetCpuUsage() {
    using namespace nxsysinfo;
    namespace perf = platform::perf;
    const int cls = cachedClass(g_classAll);
    if (m_bFirstTime)
        EnablePerformaceCounters(1);
    std::uint32_t object, counter;
    const char16_t* name;
    if (cls == 0) {
        object = perf::kObjectSystem;
        counter = perf::kCounterTotalProcessorTime;
        name = u"";
    } else if (cls == 1) {
        object = perf::kObjectProcessor;
        counter = perf::kCounterProcessorTime;
        name = u"_Total";
    } else {
        return -1;
    }
    queryRawData(object);
    const long long reading = readByName(object, counter, name);
    return sample(m_bFirstTime, m_lnOldValue, m_OldPerfTime100nSec, reading, true);
}

int CCpuUsage::GetCpuUsage(unsigned long pid) {
    using namespace nxsysinfo;
    namespace perf = platform::perf;
    cachedClass(g_classById);
    if (m_bFirstTime)
        EnablePerformaceCounters(1);
    queryRawData(perf::kObjectProcess);
    const long long reading = readById(perf::kObjectProcess, perf::kCounterProcessorTime, pid);
    return sample(m_bFirstTime, m_lnOldValue, m_OldPerfTime100nSec, reading, false);
}

int CCpuUsage::GetCpuUsage(const char16_t* name) {
    using namespace nxsysinfo;
    namespace perf = platform::perf;
    cachedClass(g_classByName);
    if (m_bFirstTime)
        EnablePerformaceCounters(1);
    // The name buffer holds 256 units: longer names are cut to 255.
    char16_t wanted[256] = {};
    for (std::size_t i = 0; name && i < 255 && name[i]; ++i)
        wanted[i] = name[i];
    queryRawData(perf::kObjectProcess);
    const long long reading = readByName(perf::kObjectProcess, perf::kCounterProcessorTime, wanted);
    return sample(m_bFirstTime, m_lnOldValue, m_OldPerfTime100nSec, reading, false);
}

// ---- GetCpuInfo_All ------------------------------------------------------------------------

int GetCpuInfo_All() {
    using namespace nxsysinfo;
    const platform::SysCalls& b = platform::sys();
    if (!g_pdhStarted) {
        // Marked first, so a failed start is never retried.
        g_pdhStarted = true;
        if (b.pdhOpenQuery(&g_pdhQuery) != 0) {
            g_pdhQuery = nullptr;
            return 0;
        }
        if (b.pdhAddCounter(g_pdhQuery, u"\\Processor(_Total)\\% Processor Time",
                            &g_pdhCounter) != 0) {
            g_pdhCounter = nullptr;
            return -1;
        }
    }
    if (!g_pdhQuery || !g_pdhCounter || b.pdhCollectQueryData(g_pdhQuery) != 0)
        return -1;
    long value = 0;
    std::uint32_t counterStatus = 0;
    if (b.pdhGetFormattedLong(g_pdhCounter, &value, &counterStatus) != 0 || counterStatus != 0)
        return -1;
    return static_cast<int>(value);
}

int pubfunc::getCPUUsage() { return GetCpuInfo_All(); }
