// Child processes that run this same program again: test helpers and tools that need a second
// process (a load generator, a process to watch).
#ifndef NXUTIL_PLATFORM_CHILD_H
#define NXUTIL_PLATFORM_CHILD_H

#include <string>
#include <vector>

namespace platform {

struct Child;

/// Starts the running executable again with `args` (argv[1] onwards), its standard streams
/// inherited. Returns null when it cannot be started.
Child* childStart(const std::vector<std::string>& args);

/// The child's process id (comparable with currentProcessId of process.h).
unsigned long childId(const Child* child);

/// Ends the child (SIGKILL / TerminateProcess), waits for it and frees the handle; null is
/// ignored.
void childStop(Child* child);

}  // namespace platform

#endif
