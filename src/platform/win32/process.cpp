// Facts about the running process on Win32.
#include "platform/process.h"
#include "platform/win32/win32_support.h"

namespace platform {

unsigned long currentProcessId() { return GetCurrentProcessId(); }

}  // namespace platform
