// Calendar time on Win32: the system time as a FILETIME, the runtime's _localtime64_s and
// wcsftime (wchar_t is UTF-16 here).
#include "platform/time.h"
#include "platform/error.h"
#include "platform/win32/win32_support.h"

#include <cwchar>
#include <time.h>

namespace platform {

WallTime wallTimeNow() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    // 100-ns ticks since 1601-01-01 to milliseconds since 1970-01-01.
    const unsigned long long ms = t.QuadPart / 10000ull - 11644473600000ull;
    return WallTime{static_cast<long long>(ms / 1000), static_cast<int>(ms % 1000)};
}

bool toLocalTime(long long seconds, std::tm* out) {
    const __time64_t t = seconds;
    const errno_t err = _localtime64_s(out, &t);
    if (err != 0) {
        setLastError(err, "_localtime64_s");
        return false;
    }
    return true;
}

std::size_t formatLocalTime(char16_t* out, std::size_t capacity, const char* pattern,
                            const std::tm& tm) {
    if (capacity == 0)
        return 0;
    wchar_t wpattern[64];
    std::size_t n = 0;
    for (; pattern[n] && n + 1 < sizeof wpattern / sizeof wpattern[0]; ++n)
        wpattern[n] = static_cast<unsigned char>(pattern[n]);
    wpattern[n] = 0;
    const std::size_t len = std::wcsftime(win32::wide(out), capacity, wpattern, &tm);
    if (len == 0)
        out[0] = 0;
    return len;
}

unsigned int tickCount() { return GetTickCount(); }

}  // namespace platform
