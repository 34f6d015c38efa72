// The platform operations the system-information code calls, gathered in one replaceable
// table so tests can feed it hand-built performance data, version records and registry values.
// Internal: tests reach it by linking the static library.
#ifndef NXUTIL_SYSINFO_BACKEND_H
#define NXUTIL_SYSINFO_BACKEND_H

#include "platform/perf.h"
#include "platform/sysinfo.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nxsysinfo {

struct Backend {
    // raw performance data and the counter switch (platform/perf.h)
    long (*queryData)(const char16_t* valueName, void* buffer, std::uint32_t* size);
    int (*setCountersEnabled)(bool enable);
    // the counter-query library
    long (*pdhOpenQuery)(void** query);
    long (*pdhAddCounter)(void* query, const char16_t* path, void** counter);
    long (*pdhCollectQueryData)(void* query);
    long (*pdhGetFormattedLong)(void* counter, long* value, std::uint32_t* counterStatus);
    // facts (platform/sysinfo.h)
    bool (*osVersion)(platform::OsVersion& out, bool extended);
    std::uint32_t (*processorCount)();
    std::uint64_t (*physicalMemoryBytes)();
    bool (*cpuSpeedMHz)(std::uint32_t& mhz);
    bool (*cpuName)(std::string& narrow);
    bool (*displayAdapterValue)(std::uint32_t& type, std::vector<unsigned char>& data);
    bool (*compositionIsEnabled)(long& status, int& enabled);
    bool (*compositionEnable)(unsigned action, long& status);
};

/// The table in use; starts as the platform's own functions.
Backend& backend();
/// The platform's own functions, for restoring the table.
Backend platformBackend();

/// Returns the module-wide sampler state to its load-time values: the cached platform classes,
/// the query buffer (size back to its initial 102400 bytes), the counter query's started flag
/// and handles, and the version record.
void resetState();

/// The query buffer's current size in bytes (0 before its first use).
std::size_t queryBufferSize();

/// The platform class of a version record: 0 NT 4, 1 later NT, 2 the 9x family, 3 anything
/// else or no record.
int platformClassOf(bool queried, const platform::OsVersion& v);

/// The adapter name's narrow text from a registry value: every nonzero byte of a binary value
/// (UTF-16 text of ASCII letters), the zero-terminated text of a text value, empty otherwise.
std::string adapterText(std::uint32_t type, const std::vector<unsigned char>& data);

}  // namespace nxsysinfo

#endif
