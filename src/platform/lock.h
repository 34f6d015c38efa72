// Recursive lock living in caller-provided storage (NxCriticalSection's bytes).
#ifndef NXUTIL_PLATFORM_LOCK_H
#define NXUTIL_PLATFORM_LOCK_H

#include <cstddef>

namespace platform {

/// Bytes and alignment the backend's lock object needs; NXUTIL_LOCK_STORAGE must cover them.
extern const std::size_t kLockSize;

/// Constructs a recursive lock in `storage` (Win32: InitializeCriticalSection).
void lockInit(void* storage);
/// Destroys it; the lock must not be held.
void lockDestroy(void* storage);
/// Waits until the calling thread owns the lock; recursive.
void lockAcquire(void* storage);
/// Takes the lock without waiting; true when the calling thread now owns it (again).
bool lockTry(void* storage);
/// Releases one level of the calling thread's ownership.
void lockRelease(void* storage);

}  // namespace platform

#endif
