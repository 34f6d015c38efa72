// The recursive lock is the Win32 critical section itself.
#include "platform/lock.h"
#include "platform/win32/win32_support.h"

namespace platform {

const std::size_t kLockSize = sizeof(CRITICAL_SECTION);

void lockInit(void* storage) { InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(storage)); }

void lockDestroy(void* storage) { DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(storage)); }

void lockAcquire(void* storage) { EnterCriticalSection(static_cast<CRITICAL_SECTION*>(storage)); }

bool lockTry(void* storage) {
    return TryEnterCriticalSection(static_cast<CRITICAL_SECTION*>(storage)) != FALSE;
}

void lockRelease(void* storage) { LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(storage)); }

}  // namespace platform
