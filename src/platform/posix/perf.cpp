// Raw processor-time data synthesised in the winperf layout from /proc, and a counter-query
// service computing the machine-wide processor time from /proc/stat.
//
// Sections: reading /proc; building the data block; perfQueryData; the counter queries.
#include "platform/perf.h"
#include "platform/error.h"
#include "platform/posix/posix_support.h"

#include <dirent.h>
#include <sys/utsname.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

namespace {

// ---- reading /proc --------------------------------------------------------------------------

// /proc, or its stand-in under the root of setSystemFilesRoot.
std::string procRoot() { return posix::systemFile("/proc"); }

std::int64_t clockTicksPerSecond() {
    static const long hz = [] {
        const long v = ::sysconf(_SC_CLK_TCK);
        return v > 0 ? v : 100;
    }();
    return hz;
}

// Clock ticks (USER_HZ) to 100-ns units.
std::int64_t ticksTo100ns(std::uint64_t ticks) {
    return static_cast<std::int64_t>(ticks * (10000000ull / clockTicksPerSecond()));
}

// One "cpu" line of /proc/stat, in clock ticks.
struct CpuTimes {
    std::uint64_t user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0,
                  steal = 0;
    // Waiting for I/O is idle time: the processor had nothing to run. The kernel's iowait
    // count can step back a little, so readStat keeps this sum from ever decreasing.
    std::uint64_t idleAll() const { return idle + iowait; }
    std::uint64_t userAll() const { return user + nice; }
    std::uint64_t kernelAll() const { return system + irq + softirq; }
    // Guest time is already part of user time and is not added again.
    std::uint64_t total() const { return userAll() + kernelAll() + idleAll() + steal; }
};

// The "cpu" summary line and one entry per "cpuN" line, in the file's order.
struct StatSnapshot {
    bool ok = false;
    CpuTimes all;
    std::vector<std::pair<int, CpuTimes>> cpus;
};

// The largest idle sum seen per line ("cpu" is -1), so an idle counter never runs backwards.
std::uint64_t monotonicIdle(const std::string& root, int cpu, const CpuTimes& t) {
    static std::mutex mutex;
    static std::map<std::pair<std::string, int>, std::uint64_t> highest;
    std::lock_guard<std::mutex> guard(mutex);
    std::uint64_t& h = highest[{root, cpu}];
    h = std::max(h, t.idleAll());
    return h;
}

StatSnapshot readStat(const std::string& root) {
    StatSnapshot snap;
    std::string text;
    if (!posix::readProcFile(root + "/stat", text)) {
        setLastError(errno, "open /proc/stat");
        return snap;
    }
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        const char* line = text.c_str() + pos;
        if (std::strncmp(line, "cpu", 3) == 0) {
            const char* p = line + 3;
            int number = -1;
            if (*p >= '0' && *p <= '9')
                number = static_cast<int>(std::strtol(p, const_cast<char**>(&p), 10));
            CpuTimes t;
            std::uint64_t* fields[] = {&t.user, &t.nice, &t.system, &t.idle,
                                       &t.iowait, &t.irq, &t.softirq, &t.steal};
            for (std::uint64_t* f : fields) {
                char* next = nullptr;
                const unsigned long long v = std::strtoull(p, &next, 10);
                if (next == p)
                    break;  // older kernels have fewer columns
                *f = v;
                p = next;
            }
            // Fold the whole idle sum into `idle` so idleAll() is the never-decreasing value.
            const std::uint64_t idle = monotonicIdle(root, number, t);
            t.idle = idle - t.iowait;
            if (number < 0) {
                snap.all = t;
                snap.ok = true;
            } else {
                snap.cpus.emplace_back(number, t);
            }
        }
        pos = end + 1;
    }
    return snap;
}

struct ProcessTimes {
    unsigned long pid;
    std::string name;  // the command name, as stored
    std::uint64_t utime, stime;
};

// Every process whose stat file can be read, by ascending id. A process that ends while it is
// being read is simply left out.
std::vector<ProcessTimes> readProcesses(const std::string& root) {
    std::vector<ProcessTimes> list;
    DIR* dir = ::opendir(root.c_str());
    if (!dir) {
        setLastError(errno, "opendir /proc");
        return list;
    }
    std::string text;
    while (dirent* entry = ::readdir(dir)) {
        const char* n = entry->d_name;
        if (*n < '1' || *n > '9' || std::strspn(n, "0123456789") != std::strlen(n))
            continue;
        if (!posix::readProcFile(root + "/" + n + "/stat", text))
            continue;
        // "pid (comm) state ppid ...": the name may hold blanks and parentheses, so it ends at
        // the last ')'; utime and stime are the 12th and 13th fields after it.
        const std::size_t open = text.find('(');
        const std::size_t close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open)
            continue;
        ProcessTimes pt{std::strtoul(n, nullptr, 10), text.substr(open + 1, close - open - 1), 0,
                        0};
        const char* p = text.c_str() + close + 1;
        for (int field = 1; field <= 13 && *p; ++field) {
            while (*p == ' ')
                ++p;
            if (field == 12)
                pt.utime = std::strtoull(p, nullptr, 10);
            else if (field == 13)
                pt.stime = std::strtoull(p, nullptr, 10);
            while (*p && *p != ' ')
                ++p;
        }
        list.push_back(std::move(pt));
    }
    ::closedir(dir);
    std::sort(list.begin(), list.end(),
              [](const ProcessTimes& a, const ProcessTimes& b) { return a.pid < b.pid; });
    return list;
}

std::int64_t monotonic100ns() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100;
}

std::u16string widenAscii(const std::string& s) {
    std::u16string out;
    out.reserve(s.size());
    for (unsigned char c : s)
        out += static_cast<char16_t>(c < 0x80 ? c : u'?');
    return out;
}

// ---- building the data block ---------------------------------------------------------------

// Appends the elements of one data block; every element starts on an 8-byte boundary.
class BlockWriter {
public:
    std::vector<unsigned char> bytes;

    template <typename T>
    std::size_t append(const T& value) {
        const std::size_t at = bytes.size();
        bytes.resize(at + sizeof(T));
        std::memcpy(bytes.data() + at, &value, sizeof(T));
        return at;
    }
    // A zero-terminated UTF-16 text; returns its byte length with the terminator.
    std::uint32_t appendText(const std::u16string& s) {
        const std::size_t n = (s.size() + 1) * sizeof(char16_t);
        const std::size_t at = bytes.size();
        bytes.resize(at + n, 0);
        std::memcpy(bytes.data() + at, s.data(), s.size() * sizeof(char16_t));
        return static_cast<std::uint32_t>(n);
    }
    void pad8() { bytes.resize((bytes.size() + 7) & ~std::size_t(7), 0); }
    template <typename T>
    T* at(std::size_t offset) {
        return reinterpret_cast<T*>(bytes.data() + offset);
    }
    std::uint32_t since(std::size_t offset) const {
        return static_cast<std::uint32_t>(bytes.size() - offset);
    }
};

struct CounterSpec {
    std::uint32_t index;
    std::uint32_t type;
    std::uint32_t size;  // 8 or 4
};

// One object: header, counter definitions, then one counter block (no instances) or the
// instances with their blocks. `values[i][c]` is counter c of instance i.
void appendObject(BlockWriter& w, std::uint32_t index, std::int64_t time100ns,
                  const std::vector<CounterSpec>& counters,
                  const std::vector<std::u16string>* names,
                  const std::vector<std::vector<std::int64_t>>& values) {
    const std::size_t objAt = w.bytes.size();
    perf::ObjectType obj{};
    obj.headerLength = sizeof(perf::ObjectType);
    obj.objectNameTitleIndex = index;
    obj.objectHelpTitleIndex = index + 1;
    obj.numCounters = static_cast<std::uint32_t>(counters.size());
    obj.numInstances = names ? static_cast<std::int32_t>(names->size()) : perf::kNoInstances;
    obj.perfTime = time100ns;
    obj.perfFreq = 10000000;
    w.append(obj);

    // Counter offsets inside a block: after the block's length word, 64-bit values aligned.
    std::vector<std::uint32_t> offsets;
    std::uint32_t offset = 8;
    for (const CounterSpec& c : counters) {
        offset = (offset + c.size - 1) & ~(c.size - 1);
        offsets.push_back(offset);
        perf::CounterDefinition def{};
        def.byteLength = sizeof(perf::CounterDefinition);
        def.counterNameTitleIndex = c.index;
        def.counterHelpTitleIndex = c.index + 1;
        def.counterType = c.type;
        def.counterSize = c.size;
        def.counterOffset = offset;
        w.append(def);
        offset += c.size;
    }
    const std::uint32_t blockBytes = (offset + 7) & ~std::uint32_t(7);
    w.pad8();
    w.at<perf::ObjectType>(objAt)->definitionLength = w.since(objAt);

    auto appendBlock = [&](const std::vector<std::int64_t>& v) {
        const std::size_t blockAt = w.bytes.size();
        w.bytes.resize(blockAt + blockBytes, 0);
        const perf::CounterBlock head{blockBytes};
        std::memcpy(w.bytes.data() + blockAt, &head, sizeof head);
        for (std::size_t c = 0; c < counters.size(); ++c) {
            if (counters[c].size == 8) {
                std::memcpy(w.bytes.data() + blockAt + offsets[c], &v[c], 8);
            } else {
                const std::uint32_t v32 = static_cast<std::uint32_t>(v[c]);
                std::memcpy(w.bytes.data() + blockAt + offsets[c], &v32, 4);
            }
        }
    };

    if (!names) {
        appendBlock(values.empty() ? std::vector<std::int64_t>(counters.size(), 0) : values[0]);
    } else {
        for (std::size_t i = 0; i < names->size(); ++i) {
            const std::size_t instAt = w.bytes.size();
            perf::InstanceDefinition inst{};
            inst.uniqueId = -1;  // instances are told apart by name
            inst.nameOffset = sizeof(perf::InstanceDefinition);
            w.append(inst);
            w.at<perf::InstanceDefinition>(instAt)->nameLength = w.appendText((*names)[i]);
            w.pad8();
            w.at<perf::InstanceDefinition>(instAt)->byteLength = w.since(instAt);
            appendBlock(values[i]);
        }
    }
    w.at<perf::ObjectType>(objAt)->totalByteLength = w.since(objAt);
}

// Idle time of the summary line as the average per processor, so that a rate over wall time
// stays within 0..100 %.
std::int64_t averagePerCpu(std::uint64_t ticks, std::size_t cpus) {
    return ticksTo100ns(ticks) / static_cast<std::int64_t>(cpus ? cpus : 1);
}

void appendSystem(BlockWriter& w, const StatSnapshot& stat, std::int64_t now) {
    appendObject(w, perf::kObjectSystem, now,
                 {{perf::kCounterTotalProcessorTime, perf::kType100nsTimerInv, 8}}, nullptr,
                 {{averagePerCpu(stat.all.idleAll(), stat.cpus.size())}});
}

void appendProcessor(BlockWriter& w, const StatSnapshot& stat, std::int64_t now) {
    std::vector<std::u16string> names;
    std::vector<std::vector<std::int64_t>> values;
    for (const auto& cpu : stat.cpus) {
        names.push_back(widenAscii(std::to_string(cpu.first)));
        values.push_back({ticksTo100ns(cpu.second.idleAll()), ticksTo100ns(cpu.second.userAll()),
                          ticksTo100ns(cpu.second.kernelAll())});
    }
    const std::size_t n = stat.cpus.size();
    names.push_back(u"_Total");
    values.push_back({averagePerCpu(stat.all.idleAll(), n), averagePerCpu(stat.all.userAll(), n),
                      averagePerCpu(stat.all.kernelAll(), n)});
    appendObject(w, perf::kObjectProcessor, now,
                 {{perf::kCounterProcessorTime, perf::kType100nsTimerInv, 8},
                  {perf::kCounterUserTime, perf::kType100nsTimer, 8},
                  {perf::kCounterPrivilegedTime, perf::kType100nsTimer, 8}},
                 &names, values);
}

void appendProcess(BlockWriter& w, const std::vector<ProcessTimes>& procs, std::int64_t now) {
    std::vector<std::u16string> names;
    std::vector<std::vector<std::int64_t>> values;
    // Repeated names are told apart the way the performance library does it: the first keeps
    // the name, the next ones get "#1", "#2", ... in process-id order.
    std::map<std::string, int> seen;
    for (const ProcessTimes& p : procs) {
        const int repeat = seen[p.name]++;
        std::string name = p.name;
        if (repeat > 0)
            name += "#" + std::to_string(repeat);
        names.push_back(widenAscii(name));
        values.push_back({ticksTo100ns(p.utime + p.stime), ticksTo100ns(p.utime),
                          ticksTo100ns(p.stime), static_cast<std::int64_t>(p.pid)});
    }
    appendObject(w, perf::kObjectProcess, now,
                 {{perf::kCounterProcessorTime, perf::kType100nsTimer, 8},
                  {perf::kCounterUserTime, perf::kType100nsTimer, 8},
                  {perf::kCounterPrivilegedTime, perf::kType100nsTimer, 8},
                  {perf::kCounterIdProcess, perf::kTypeRawCount, 4}},
                 &names, values);
}

// The object indices named by a registry value name: "230", "2 238", "Global".
std::vector<std::uint32_t> parseIndices(const char16_t* valueName) {
    std::vector<std::uint32_t> out;
    std::string text;
    for (const char16_t* p = valueName; p && *p; ++p)
        text += static_cast<char>(*p < 0x80 ? *p : '?');
    if (text == "Global")
        return {perf::kObjectSystem, perf::kObjectProcess, perf::kObjectProcessor};
    const char* p = text.c_str();
    while (*p) {
        char* end = nullptr;
        const unsigned long v = std::strtoul(p, &end, 10);
        if (end == p) {
            ++p;
            continue;
        }
        if (std::find(out.begin(), out.end(), v) == out.end())
            out.push_back(static_cast<std::uint32_t>(v));
        p = end;
    }
    return out;
}

std::vector<unsigned char> buildBlock(const std::vector<std::uint32_t>& indices) {
    const std::string root = procRoot();
    BlockWriter w;
    perf::DataBlock head{};
    std::memcpy(head.signature, u"PERF", sizeof head.signature);
    head.littleEndian = 1;
    head.version = 1;
    head.revision = 1;
    head.defaultObject = static_cast<std::int32_t>(perf::kObjectProcessor);
    w.append(head);
    utsname uts{};
    const std::string host = ::uname(&uts) == 0 ? uts.nodename : "";
    const std::uint32_t hostBytes = w.appendText(widenAscii(host));
    w.pad8();
    const std::uint32_t headerLength = w.since(0);

    // Read everything first so the time stamp sits between the readings.
    const bool wantStat = std::count(indices.begin(), indices.end(), perf::kObjectSystem) ||
                          std::count(indices.begin(), indices.end(), perf::kObjectProcessor);
    const bool wantProcs = std::count(indices.begin(), indices.end(), perf::kObjectProcess) != 0;
    StatSnapshot stat;
    std::vector<ProcessTimes> procs;
    if (wantStat)
        stat = readStat(root);
    if (wantProcs)
        procs = readProcesses(root);
    const std::int64_t now = monotonic100ns();

    std::uint32_t objects = 0;
    for (std::uint32_t index : indices) {
        if (index == perf::kObjectSystem && stat.ok)
            appendSystem(w, stat, now);
        else if (index == perf::kObjectProcessor && stat.ok)
            appendProcessor(w, stat, now);
        else if (index == perf::kObjectProcess)
            appendProcess(w, procs, now);
        else
            continue;
        ++objects;
    }
    perf::DataBlock* h = w.at<perf::DataBlock>(0);
    h->totalByteLength = w.since(0);
    h->headerLength = headerLength;
    h->numObjectTypes = objects;
    h->perfTime = now * 100;
    h->perfFreq = 1000000000;
    h->perfTime100nSec = now;
    h->systemNameLength = hostBytes;
    h->systemNameOffset = sizeof(perf::DataBlock);
    return w.bytes;
}

}  // namespace

// ---- perfQueryData -------------------------------------------------------------------------

long perfQueryData(const char16_t* valueName, void* buffer, std::uint32_t* size) {
    if (!size)
        return 87;  // ERROR_INVALID_PARAMETER
    const std::vector<unsigned char> block = buildBlock(parseIndices(valueName));
    if (!buffer || block.size() > *size)
        return kPerfMoreData;
    std::memcpy(buffer, block.data(), block.size());
    *size = static_cast<std::uint32_t>(block.size());
    return 0;
}

int perfSetCountersEnabled(bool) { return 1; }

// ---- the counter queries -------------------------------------------------------------------

namespace {

struct PdhCounter {
    int cpu = -1;  // -1: the summary line ("_Total")
    int samples = 0;
    CpuTimes previous, current;
};

struct PdhQuery {
    std::vector<PdhCounter*> counters;
};

bool equalsIgnoringCase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b))
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

long pdhOpenQuery(void** query) {
    if (!query)
        return kPdhInvalidData;
    *query = new PdhQuery;
    return 0;
}

long pdhAddCounter(void* query, const char16_t* path, void** counter) {
    if (!query || !path || !counter)
        return kPdhNoObject;
    std::string text;
    for (const char16_t* p = path; *p; ++p)
        text += static_cast<char>(*p < 0x80 ? *p : '?');
    // "\Processor(<instance>)\% Processor Time"
    const std::size_t open = text.find('(');
    const std::size_t close = text.find(')');
    if (open == std::string::npos || close == std::string::npos || close < open ||
        !equalsIgnoringCase(text.substr(0, open), "\\Processor") ||
        !equalsIgnoringCase(text.substr(close + 1), "\\% Processor Time"))
        return kPdhNoObject;
    const std::string instance = text.substr(open + 1, close - open - 1);
    int cpu = -1;
    if (!equalsIgnoringCase(instance, "_Total")) {
        if (instance.empty() || std::strspn(instance.c_str(), "0123456789") != instance.size())
            return kPdhNoObject;
        cpu = std::atoi(instance.c_str());
    }
    auto* c = new PdhCounter;
    c->cpu = cpu;
    static_cast<PdhQuery*>(query)->counters.push_back(c);
    *counter = c;
    return 0;
}

long pdhCollectQueryData(void* query) {
    if (!query)
        return kPdhInvalidData;
    const StatSnapshot stat = readStat(procRoot());
    if (!stat.ok)
        return kPdhInvalidData;
    for (PdhCounter* c : static_cast<PdhQuery*>(query)->counters) {
        const CpuTimes* now = c->cpu < 0 ? &stat.all : nullptr;
        for (const auto& cpu : stat.cpus)
            if (cpu.first == c->cpu)
                now = &cpu.second;
        if (!now)
            continue;  // that processor went offline: no new sample
        c->previous = c->current;
        c->current = *now;
        ++c->samples;
    }
    return 0;
}

long pdhGetFormattedLong(void* counter, long* value, std::uint32_t* counterStatus) {
    if (!counter || !value)
        return kPdhInvalidData;
    const PdhCounter* c = static_cast<const PdhCounter*>(counter);
    // A rate needs two samples, and two samples within one clock tick measure nothing.
    if (c->samples < 2 || c->current.total() <= c->previous.total()) {
        if (counterStatus)
            *counterStatus = static_cast<std::uint32_t>(kPdhInvalidData);
        return kPdhInvalidData;
    }
    const double total = static_cast<double>(c->current.total() - c->previous.total());
    const double idle = static_cast<double>(c->current.idleAll() - c->previous.idleAll());
    double busy = 100.0 * (1.0 - idle / total);
    busy = std::min(100.0, std::max(0.0, busy));
    *value = static_cast<long>(busy);
    if (counterStatus)
        *counterStatus = 0;
    return 0;
}

void pdhCloseQuery(void* query) {
    auto* q = static_cast<PdhQuery*>(query);
    if (!q)
        return;
    for (PdhCounter* c : q->counters)
        delete c;
    delete q;
}

}  // namespace platform
