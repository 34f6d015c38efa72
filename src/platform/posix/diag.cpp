// Reports on standard error and a debugger trap that only fires under a debugger.
#include "platform/diag.h"
#include "platform/posix/posix_support.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {

namespace {

// Minimal UTF-16 to UTF-8 for report texts; a lone surrogate becomes U+FFFD.
void appendUtf8(std::string& out, const char16_t* s) {
    for (; s && *s; ++s) {
        char32_t c = *s;
        if (c >= 0xD800 && c <= 0xDBFF && s[1] >= 0xDC00 && s[1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[1] - 0xDC00);
            ++s;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
}

}  // namespace

void showReport(const char16_t* message, const char16_t* caption) {
    std::string line;
    appendUtf8(line, caption);
    line += ": ";
    appendUtf8(line, message);
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
