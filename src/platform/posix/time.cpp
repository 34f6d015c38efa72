// Calendar time on POSIX: clock_gettime(CLOCK_REALTIME), localtime_r and wcsftime.
#include "platform/time.h"
#include "platform/error.h"
#include "platform/posix/posix_support.h"

#include <cwchar>
#include <time.h>

namespace platform {

WallTime wallTimeNow() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return WallTime{static_cast<long long>(ts.tv_sec), static_cast<int>(ts.tv_nsec / 1000000)};
}

bool toLocalTime(long long seconds, std::tm* out) {
    const time_t t = static_cast<time_t>(seconds);
    if (static_cast<long long>(t) != seconds) {
        setLastError(EOVERFLOW, "localtime_r");
        return false;
    }
    if (!localtime_r(&t, out)) {
        setLastError(errno ? errno : EOVERFLOW, "localtime_r");
        return false;
    }
    return true;
}

std::size_t formatLocalTime(char16_t* out, std::size_t capacity, const char* pattern,
                            const std::tm& tm) {
    if (capacity == 0)
        return 0;
    // wchar_t is UTF-32 here: format wide so the locale's names arrive as characters, then
    // narrow them to UTF-16.
    wchar_t wpattern[64];
    std::size_t n = 0;
    for (; pattern[n] && n + 1 < sizeof wpattern / sizeof wpattern[0]; ++n)
        wpattern[n] = static_cast<unsigned char>(pattern[n]);
    wpattern[n] = 0;
    wchar_t wide[256];
    const std::size_t len = std::wcsftime(wide, sizeof wide / sizeof wide[0], wpattern, &tm);
    std::size_t o = 0;
    for (std::size_t i = 0; i < len; ++i) {
        const char32_t c = static_cast<char32_t>(wide[i]);
        const std::size_t need = c >= 0x10000 ? 2 : 1;
        if (o + need >= capacity) {
            out[0] = 0;
            return 0;
        }
        if (c >= 0x10000) {
            out[o++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out[o++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out[o++] = static_cast<char16_t>(c);
        }
    }
    out[o] = 0;
    return o;
}

unsigned int tickCount() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const unsigned long long ms =
        static_cast<unsigned long long>(ts.tv_sec) * 1000ull + static_cast<unsigned long long>(ts.tv_nsec) / 1000000ull;
    return static_cast<unsigned int>(ms);
}

}  // namespace platform
