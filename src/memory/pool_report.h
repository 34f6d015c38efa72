// Formatting of the pool's misuse reports (internal).
#ifndef NXUTIL_MEMORY_POOL_REPORT_H
#define NXUTIL_MEMORY_POOL_REPORT_H

#include <cstddef>

/// Report buffer size in UTF-16 units: 4095 characters and the terminating zero.
constexpr std::size_t kPoolReportCapacity = 4096;

/// Formats a report pattern whose one conversion is "%08X" (the caller pointer: at least eight
/// upper-case hexadecimal digits) into `out`, cutting what does not fit.
void formatPoolReport(char16_t (&out)[kPoolReportCapacity], const char16_t* pattern,
                      const void* callerPointer);

#endif
