// The system-information code's internal helpers and state, for tests. The platform operations
// it calls (raw performance data, the counter switch and counter queries, version records,
// processor and memory facts, registry values, composition) are entries of platform::sys(),
// where tests replace them with hand-built answers. Internal: tests reach it by linking the
// static library.
#ifndef NXUTIL_SYSINFO_BACKEND_H
#define NXUTIL_SYSINFO_BACKEND_H

#include "platform/sysinfo.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nxsysinfo {

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
