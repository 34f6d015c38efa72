// Reports on standard error and a debugger trap that only fires under a debugger.
#include "platform/diag.h"
#include "platform/posix/posix_support.h"
#include "platform/utf8.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {


void showReport(const char16_t* message, const char16_t* caption) {
    std::string line = toUtf8(caption);
    line += ": ";
    line += toUtf8(message);
    line += '\n';
    // One write so concurrent reports do not interleave within a line.
    ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
}

bool debuggerAttached() {
    // Linux: /proc/self/status names the tracer; elsewhere assume no debugger.
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return false;
    char buf[256];
    bool traced = false;
    while (std::fgets(buf, sizeof buf, f)) {
        if (std::strncmp(buf, "TracerPid:", 10) == 0) {
            traced = std::strtol(buf + 10, nullptr, 10) != 0;
            break;
        }
    }
    std::fclose(f);
    return traced;
}

void debugBreak() {
    if (debuggerAttached())
        std::raise(SIGTRAP);
}

}  // namespace platform
