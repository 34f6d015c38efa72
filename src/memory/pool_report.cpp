// The pool's report text: the pattern with its "%08X" replaced by the caller pointer. The
// pointer goes through the library's formatter as a 64-bit number ("%08I64X"), so a 64-bit
// address keeps all of its digits while a 32-bit one still shows at least eight.
#include "memory/pool_report.h"

#include "format/format.h"

#include <cstdint>

void formatPoolReport(char16_t (&out)[kPoolReportCapacity], const char16_t* pattern,
                      const void* callerPointer) {
    // Widen the one conversion in a local copy of the pattern; a literal "%" elsewhere is
    // doubled so the formatter prints it unchanged. No heap: the pool lock is held here.
    char16_t widened[kPoolReportCapacity];
    std::size_t n = 0;
    const std::size_t last = kPoolReportCapacity - 8;
    bool converted = false;
    for (const char16_t* p = pattern; *p && n < last; ++p) {
        if (!converted && p[0] == u'%' && p[1] == u'0' && p[2] == u'8' && p[3] == u'X') {
            static const char16_t kWide[] = u"%08I64X";
            for (const char16_t* w = kWide; *w; ++w)
                widened[n++] = *w;
            p += 3;
            converted = true;
        } else if (*p == u'%') {
            widened[n++] = u'%';
            widened[n++] = u'%';
        } else {
            widened[n++] = *p;
        }
    }
    widened[n] = 0;
    nxFormat(out, kPoolReportCapacity, widened,
             static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(callerPointer)));
}
