// Facts about the running process.
#ifndef NXUTIL_PLATFORM_PROCESS_H
#define NXUTIL_PLATFORM_PROCESS_H

namespace platform {

/// The id of the calling process (getpid / GetCurrentProcessId).
unsigned long currentProcessId();

}  // namespace platform

#endif
