// Captures the pool's misuse reports for the duration of a test.
#ifndef NXUTIL_TESTS_POOL_REPORTS_H
#define NXUTIL_TESTS_POOL_REPORTS_H

#include "memory/memory.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

class PoolReports {
public:
    PoolReports() { m_previous = mp_set_report_handler(&PoolReports::capture); clear(); }
    ~PoolReports() { mp_set_report_handler(m_previous); }

    std::vector<std::u16string> take() {
        std::lock_guard<std::mutex> g(mutex());
        std::vector<std::u16string> out;
        out.swap(messages());
        return out;
    }
    void clear() { take(); }

    /// The text a report about `p` must carry, e.g. "mp_free - repeat free block 0x0804A00C!".
    static std::u16string expected(const char* before, const void* p, const char* after) {
        char hex[32];
        std::snprintf(hex, sizeof hex, "0x%08llX",
                      static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p)));
        std::string all = std::string(before) + hex + after;
        return std::u16string(all.begin(), all.end());
    }

private:
    static std::mutex& mutex() { static std::mutex m; return m; }
    static std::vector<std::u16string>& messages() {
        static std::vector<std::u16string> v;
        return v;
    }
    static void capture(const char16_t* message) {
        std::lock_guard<std::mutex> g(mutex());
        messages().emplace_back(message);
    }
    NxPoolReportFn m_previous;
};

#endif
