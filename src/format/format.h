// The library's formatter for UTF-16 patterns with the Windows wide-printf conventions (internal;
// used by the logger, the XML messages, the pool's reports and every other formatted message).
//
// Conversions: "%s" a const char16_t* (null prints "(null)"), "%S" a const char* narrow string,
// "%c" a UTF-16 unit passed as int, "%d" "%i" "%u" "%x" "%X" "%o" int-sized, "%p" a pointer,
// "%I64d" "%I64u" "%I64x" "%lld" "%llu" 64-bit, "%ld" long, "%f" "%e" "%g" (and upper-case) double;
// flags "-+ #0", width, precision, "*" for either, "%%". It never calls vswprintf, whose wchar_t
// is 32-bit outside Windows.
#ifndef NXUTIL_FORMAT_FORMAT_H
#define NXUTIL_FORMAT_FORMAT_H

#include <cstdarg>
#include <cstddef>
#include <string>

/// Formats into `out`, writing at most `capacity - 1` units and a terminating zero; a longer
/// result is cut there. Returns the number of units written, zero excluded. A capacity of 0
/// writes nothing and returns 0.
std::size_t nxVFormat(char16_t* out, std::size_t capacity, const char16_t* pattern, va_list args);
std::size_t nxFormat(char16_t* out, std::size_t capacity, const char16_t* pattern, ...);

/// Formats without a length limit.
std::u16string nxVFormatString(const char16_t* pattern, va_list args);
std::u16string nxFormatString(const char16_t* pattern, ...);

#endif
