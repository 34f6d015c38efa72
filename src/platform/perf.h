// Raw processor-time data in the published winperf layout, and the counter-query service.
//
// The sampler in sysinfo/ walks a data block of this layout by the byte lengths every element
// carries. Win32 reads the real block from the performance-data registry root; the POSIX backend
// synthesises one from /proc, so the walking and the arithmetic above it run unchanged:
//
//   index  object       instances                               counters (index: value)
//   2      System       none (one counter block)                240: idle time, average per CPU
//   238    Processor    "0", "1", ..., "_Total" (the average)   6: idle time, 142: user, 144: kernel
//   230    Process      one per process, named after its        6: user + kernel time, 142: user,
//                       command name; "#1", "#2" for repeats     144: kernel, 784: ID Process
//
// Every time is in 100-nanosecond units; the block's time stamp is CLOCK_MONOTONIC in the same
// unit. The counter-query service reports the machine-wide processor time as a rate counter.
// setSystemFilesRoot (platform/sysinfo.h) points the POSIX reader at a test tree instead.
#ifndef NXUTIL_PLATFORM_PERF_H
#define NXUTIL_PLATFORM_PERF_H

#include <cstddef>
#include <cstdint>

namespace platform {
namespace perf {

// Title indices of the counter-name table.
constexpr std::uint32_t kObjectSystem = 2;
constexpr std::uint32_t kObjectProcess = 230;
constexpr std::uint32_t kObjectProcessor = 238;
constexpr std::uint32_t kCounterProcessorTime = 6;
constexpr std::uint32_t kCounterUserTime = 142;
constexpr std::uint32_t kCounterPrivilegedTime = 144;
constexpr std::uint32_t kCounterTotalProcessorTime = 240;
constexpr std::uint32_t kCounterIdProcess = 784;

// Counter types: a 64-bit 100-ns timer, the same inverted (it counts idle time), a 32-bit number.
constexpr std::uint32_t kType100nsTimer = 0x20510500;
constexpr std::uint32_t kType100nsTimerInv = 0x21510500;
constexpr std::uint32_t kTypeRawCount = 0x00010000;

/// An instance count meaning "no instances: one counter block follows the definitions".
constexpr std::int32_t kNoInstances = -1;

// The layout is fixed (the 32-bit and 64-bit Windows layouts agree: the title "pointers" are
// 32-bit words in both); 64-bit members sit on 8-byte offsets.
struct DataBlock {
    char16_t signature[4];  // "PERF"
    std::uint32_t littleEndian;
    std::uint32_t version;
    std::uint32_t revision;
    std::uint32_t totalByteLength;
    std::uint32_t headerLength;  // the first object type starts here
    std::uint32_t numObjectTypes;
    std::int32_t defaultObject;
    std::uint16_t systemTime[8];
    alignas(8) std::int64_t perfTime;
    alignas(8) std::int64_t perfFreq;
    alignas(8) std::int64_t perfTime100nSec;
    std::uint32_t systemNameLength;
    std::uint32_t systemNameOffset;
};

struct ObjectType {
    std::uint32_t totalByteLength;   // the next object type starts this far on
    std::uint32_t definitionLength;  // the first instance (or the counter block) starts here
    std::uint32_t headerLength;      // the first counter definition starts here
    std::uint32_t objectNameTitleIndex;
    std::uint32_t objectNameTitle;
    std::uint32_t objectHelpTitleIndex;
    std::uint32_t objectHelpTitle;
    std::uint32_t detailLevel;
    std::uint32_t numCounters;
    std::int32_t defaultCounter;
    std::int32_t numInstances;  // kNoInstances for an object without instances
    std::uint32_t codePage;     // 0: instance names are UTF-16
    alignas(8) std::int64_t perfTime;
    alignas(8) std::int64_t perfFreq;
};

struct CounterDefinition {
    std::uint32_t byteLength;
    std::uint32_t counterNameTitleIndex;
    std::uint32_t counterNameTitle;
    std::uint32_t counterHelpTitleIndex;
    std::uint32_t counterHelpTitle;
    std::int32_t defaultScale;
    std::uint32_t detailLevel;
    std::uint32_t counterType;
    std::uint32_t counterSize;
    std::uint32_t counterOffset;  // from the start of the counter block
};

struct InstanceDefinition {
    std::uint32_t byteLength;  // the instance's counter block starts this far on
    std::uint32_t parentObjectTitleIndex;
    std::uint32_t parentObjectInstance;
    std::int32_t uniqueId;
    std::uint32_t nameOffset;  // zero-terminated UTF-16 name, from the instance's start
    std::uint32_t nameLength;  // in bytes, terminator included
};

struct CounterBlock {
    std::uint32_t byteLength;
};

static_assert(sizeof(DataBlock) == 88 && offsetof(DataBlock, perfTime100nSec) == 72, "layout");
static_assert(sizeof(ObjectType) == 64 && offsetof(ObjectType, perfTime) == 48, "layout");
static_assert(sizeof(CounterDefinition) == 40, "layout");
static_assert(sizeof(InstanceDefinition) == 24, "layout");

}  // namespace perf

/// Win32 status: the buffer was too small.
constexpr long kPerfMoreData = 234;

/// Reads the raw data of the objects named by `valueName` (decimal title indices separated by
/// blanks, or "Global") into `buffer` of `*size` bytes. Returns 0 and sets `*size` to the bytes
/// written, or kPerfMoreData leaving `*size` unspecified (the registry's contract; the POSIX
/// backend leaves it unchanged), or another error code. Unknown indices add no object.
long perfQueryData(const char16_t* valueName, void* buffer, std::uint32_t* size);

/// Switches the operating system's processor-time counters on or off. Win32: the value
/// "Disable Performance Counters" under the PerfOS and PerfProc service keys (needs write
/// access to HKEY_LOCAL_MACHINE). Returns 1, or 0 when either key cannot be opened for writing.
/// POSIX: the counters are always on; returns 1.
int perfSetCountersEnabled(bool enable);

// The counter-query service (Win32: pdh.dll, loaded on first use). Every call returns 0 or a
// status code; handles are opaque.
constexpr long kPdhInvalidData = static_cast<long>(0xC0000BC6);
constexpr long kPdhNoObject = static_cast<long>(0xC0000BB8);
constexpr long kPdhLibraryMissing = static_cast<long>(0xC0000BB0);  // "PDH_CSTATUS_NO_MACHINE"

/// Opens a real-time query (no log file as data source).
long pdhOpenQuery(void** query);
/// Adds a counter by path, e.g. "\Processor(_Total)\% Processor Time" (POSIX knows the
/// processor-time counter of "_Total" and of every processor number).
long pdhAddCounter(void* query, const char16_t* path, void** counter);
/// Takes one sample of every counter of the query.
long pdhCollectQueryData(void* query);
/// The counter's value between the last two samples as a whole number (truncated), and the
/// value's own status (0 valid). A rate counter sampled fewer than two times has no value.
long pdhGetFormattedLong(void* counter, long* value, std::uint32_t* counterStatus);
/// Closes a query and its counters.
void pdhCloseQuery(void* query);

}  // namespace platform

#endif
