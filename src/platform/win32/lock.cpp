// The recursive lock is the Win32 critical section itself.
#include "platform/lock.h"
#include "nxutil_export.h"
#include "platform/win32/win32_support.h"

// NxCriticalSection keeps the critical section in NXUTIL_LOCK_STORAGE pointer-aligned bytes:
// 24 bytes of 24 on 32-bit Windows, 40 of 48 on 64-bit.
static_assert(sizeof(CRITICAL_SECTION) <= NXUTIL_LOCK_STORAGE,
              "NXUTIL_LOCK_STORAGE is too small for a CRITICAL_SECTION");
static_assert(alignof(CRITICAL_SECTION) <= alignof(void*),
              "NxCriticalSection's storage is only pointer-aligned");

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
