// Gatekeeper of the POSIX backend: the OS headers every posix/ file needs, and nothing beyond
// generic POSIX except where a file says it uses a Linux interface (futex, /proc).
#ifndef NXUTIL_PLATFORM_POSIX_SUPPORT_H
#define NXUTIL_PLATFORM_POSIX_SUPPORT_H

#include <cerrno>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/mmtimer.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {
namespace posix {

/// Reads the file at `path` (a /proc file) into `out`, stopping once `limit` bytes are in;
/// false when it cannot be opened. A read error ends the text early.
bool readProcFile(const std::string& path, std::string& out, std::size_t limit = SIZE_MAX);

/// `path`, an absolute path of the system's data files ("/proc/stat", "/sys/class/drm"), under
/// the root setSystemFilesRoot chose; unchanged while none is set.
std::string systemFile(const std::string& path);

/// Adds a timer to the timer-service thread, starting the thread with the first timer; 0 when
/// the thread cannot be started. The table's startTimer entry.
unsigned startServiceTimer(unsigned delayMs, MmTimerProc proc, std::uintptr_t user);

}  // namespace posix
}  // namespace platform

#endif
