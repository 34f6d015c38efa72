// Facts about the running process, and the list of all processes.
#ifndef NXUTIL_PLATFORM_PROCESS_H
#define NXUTIL_PLATFORM_PROCESS_H

#include <string>
#include <vector>

namespace platform {

/// The id of the calling process (getpid / GetCurrentProcessId).
unsigned long currentProcessId();

/// True when a process of that id is running (also one of another user); false for 0.
bool processAlive(unsigned long id);

/// One entry of a process snapshot.
struct ProcessEntry {
    unsigned long id = 0;
    /// The executable's file name alone, with its extension ("nxtool", "grabsvr.exe").
    std::u16string exeName;
};

/// Lists the running processes in the platform's snapshot order (the toolhelp snapshot on
/// Windows; ascending process id from /proc on Linux). Returns false, with `entries` empty,
/// when no snapshot can be taken. Linux names a process by the target of /proc/<id>/exe where
/// it may be read; for processes of other users it falls back to the last part of argv[0]
/// when that agrees with the kernel's 15-byte "comm" name, else to "comm" itself.
bool processSnapshot(std::vector<ProcessEntry>& entries);

/// Enables (`enable`) or removes from the enabled set the privilege called `name`
/// ("SeDebugPrivilege") in the calling process's token: OpenProcessToken with access 0x28,
/// LookupPrivilegeValueW (its result ignored), AdjustTokenPrivileges, then GetLastError.
/// Returns true only when that last error is 0, so a privilege the token does not hold
/// (ERROR_NOT_ALL_ASSIGNED) gives false. Linux has no token: "SeDebugPrivilege" maps to the
/// capability CAP_SYS_PTRACE, raised into or dropped from the effective set when the
/// permitted set holds it; other names, and a capability not permitted, give false.
bool adjustPrivilege(const char16_t* name, bool enable);

}  // namespace platform

#endif
