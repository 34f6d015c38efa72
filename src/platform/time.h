// Wall-clock time for time stamps: the calendar time with milliseconds, its local broken-down
// form and the locale's text of it.
#ifndef NXUTIL_PLATFORM_TIME_H
#define NXUTIL_PLATFORM_TIME_H

#include <cstddef>
#include <ctime>

namespace platform {

/// A moment of the calendar clock: seconds since 1970-01-01 UTC and the milliseconds past them.
struct WallTime {
    long long seconds;
    int milliseconds;  ///< 0..999
};

/// The current calendar time.
WallTime wallTimeNow();

/// Converts calendar seconds to local time (localtime_r / _localtime64_s). False, with the
/// conversion's error in lastError(), when the moment cannot be represented.
bool toLocalTime(long long seconds, std::tm* out);

/// Formats `tm` with strftime conversions in the current locale (weekday and month names are
/// the locale's), as UTF-16, into `out` with room for `capacity` units including the zero.
/// Returns the number of units written; 0 when the result does not fit.
std::size_t formatLocalTime(char16_t* out, std::size_t capacity, const char* pattern,
                            const std::tm& tm);

/// Milliseconds since the system started, wrapping at 2^32 (GetTickCount; POSIX: the monotonic
/// clock).
unsigned int tickCount();

}  // namespace platform

#endif
