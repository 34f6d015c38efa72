// A clean-up that runs on a thread when it ends, with a value the thread set, independent of
// how the language runtime orders its own thread-local destructors (on Windows it also runs for
// threads of a host that loads the library as a DLL).
#ifndef NXUTIL_PLATFORM_THREAD_EXIT_H
#define NXUTIL_PLATFORM_THREAD_EXIT_H

namespace platform {

/// Runs on the ending thread with the value it set; the value is not null.
using ThreadExitFn = void (*)(void* value);

/// Registers `fn` once for the process and returns its id, or -1 when the system refuses (or
/// the few ids are used up). POSIX: a thread-specific key with a destructor; Win32: a
/// fiber-local slot with a callback. Unregister it before the library is unloaded.
int threadExitRegister(ThreadExitFn fn);

/// Withdraws the clean-up `id`: threads that end later run nothing for it, and the id may be
/// given out again. -1 is ignored.
void threadExitUnregister(int id);

/// Sets the calling thread's value for `id` (null: nothing runs for this thread). False when
/// the system refuses.
bool threadExitSet(int id, void* value);

}  // namespace platform

#endif
