// The performance counter and Sleep.
#include "platform/clock.h"
#include "platform/win32/win32_support.h"

namespace platform {

std::int64_t perfCounter() {
    LARGE_INTEGER v;
    QueryPerformanceCounter(&v);
    return v.QuadPart;
}

std::int64_t perfFrequency() {
    LARGE_INTEGER v;
    QueryPerformanceFrequency(&v);
    return v.QuadPart;
}

void sleepMs(unsigned ms) { Sleep(ms); }

}  // namespace platform
