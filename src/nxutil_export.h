// Export marking for the library's public interface.
//
// Everything a host may call carries NXUTIL_API; the rest stays inside the shared library
// (it is built with hidden visibility on ELF, and a Windows DLL exports only what is marked).
// NXUTIL_BUILDING is set while compiling the library itself; NXUTIL_STATIC is set by code that
// links the static archive used by the internal tests.
#ifndef NXUTIL_EXPORT_H
#define NXUTIL_EXPORT_H

#if defined(NXUTIL_STATIC) && !defined(NXUTIL_BUILDING)
#  define NXUTIL_API
#elif defined(_WIN32)
#  if defined(NXUTIL_BUILDING)
#    define NXUTIL_API __declspec(dllexport)
#  else
#    define NXUTIL_API __declspec(dllimport)
#  endif
#else
#  define NXUTIL_API __attribute__((visibility("default")))
#endif

// Bytes reserved inside NxCriticalSection for the platform's lock object: a Win32
// CRITICAL_SECTION (24 bytes on 32-bit Windows, 40 on 64-bit) or the POSIX backend's lock.
#define NXUTIL_LOCK_STORAGE (6 * sizeof(void*))

#endif
