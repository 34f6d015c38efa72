// The pool's report text: the pattern with its "%08X" replaced by the caller pointer.
#include "memory/pool_report.h"

#include <cstdint>

void formatPoolReport(char16_t (&out)[kPoolReportCapacity], const char16_t* pattern,
                      const void* callerPointer) {
    static const char16_t kDigits[] = u"0123456789ABCDEF";
    std::size_t n = 0;
    const std::size_t last = kPoolReportCapacity - 1;
    for (const char16_t* p = pattern; *p && n < last; ++p) {
        if (p[0] == u'%' && p[1] == u'0' && p[2] == u'8' && p[3] == u'X') {
            char16_t hex[2 * sizeof(std::uintptr_t)];
            int len = 0;
            for (auto v = reinterpret_cast<std::uintptr_t>(callerPointer); v != 0 || len < 8;
                 v >>= 4)
                hex[len++] = kDigits[v & 0xF];
            while (len > 0 && n < last)
                out[n++] = hex[--len];
            p += 3;
        } else {
            out[n++] = *p;
        }
    }
    out[n] = 0;
}
