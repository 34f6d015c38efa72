// Per-thread storage of the last platform failure; shared by both backends.
#include "platform/error.h"

namespace platform {

namespace {
thread_local Error t_lastError;
}

Error lastError() { return t_lastError; }

void setLastError(int code, const char* call) {
    t_lastError.code = code;
    t_lastError.call = call;
}

}  // namespace platform
