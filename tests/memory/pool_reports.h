// Helpers of the pool's suites: its statistics, and its misuse reports captured for the duration
// of a test (the pool calls its handler under its own lock, so the list needs none).
#ifndef NXUTIL_TESTS_POOL_REPORTS_H
#define NXUTIL_TESTS_POOL_REPORTS_H

#include "memory/memory.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

inline NxPoolStats poolStats() {
    NxPoolStats s;
    mp_get_stats(&s);
    return s;
}

class PoolReports {
public:
    using List = std::vector<std::u16string>;
    PoolReports() : m_previous(mp_set_report_handler(&PoolReports::capture)) { take(); }
    ~PoolReports() { mp_set_report_handler(m_previous); }

    /// The reports since the last call.
    List take() { return std::exchange(messages(), {}); }

    /// The one report about `p`, e.g. "mp_free - repeat free block 0x0804A00C!".
    static List one(const char* before, const void* p, const char* after) {
        char hex[32];
        std::snprintf(hex, sizeof hex, "0x%08llX",
                      static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p)));
        const std::string all = std::string(before) + hex + after;
        return {std::u16string(all.begin(), all.end())};
    }

private:
    static List& messages() {
        static List list;
        return list;
    }
    static void capture(const char16_t* message) { messages().emplace_back(message); }
    NxPoolReportFn m_previous;
};

#endif
