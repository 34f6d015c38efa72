// Diagnostics for misuse reports: a message to the user, and a break into an attached debugger.
#ifndef NXUTIL_PLATFORM_DIAG_H
#define NXUTIL_PLATFORM_DIAG_H

namespace platform {

/// Shows a report. Win32: MessageBoxW without an owner, as a service notification with an OK
/// button. POSIX: one line "caption: message" on standard error, in UTF-8.
void showReport(const char16_t* message, const char16_t* caption);

/// Win32: DebugBreak. POSIX: a trap only when a debugger is attached, so a report never kills
/// a process that nobody is debugging.
void debugBreak();

/// True when a debugger is attached to this process.
bool debuggerAttached();

}  // namespace platform

#endif
