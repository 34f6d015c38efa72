// Reports in a message box, then a break into the debugger.
#include "platform/diag.h"
#include "platform/win32/win32_support.h"

namespace platform {

void showReport(const char16_t* message, const char16_t* caption) {
    MessageBoxW(nullptr, win32::wide(message), win32::wide(caption), MB_OK | MB_SERVICE_NOTIFICATION);
}

bool debuggerAttached() { return IsDebuggerPresent() != FALSE; }

void debugBreak() { DebugBreak(); }

}  // namespace platform
