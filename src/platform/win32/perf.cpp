// Raw performance data from the registry's performance-data root, the counter switch in the
// PerfOS and PerfProc service keys, and the counter-query library (pdh.dll, loaded on first
// use so the library does not depend on it at load time).
#include "platform/perf.h"
#include "platform/error.h"
#include "platform/win32/win32_support.h"

#include <pdh.h>

namespace platform {

long perfQueryData(const char16_t* valueName, void* buffer, std::uint32_t* size) {
    if (!size)
        return ERROR_INVALID_PARAMETER;
    DWORD bytes = *size;
    const LONG status = RegQueryValueExW(HKEY_PERFORMANCE_DATA, win32::wide(valueName), nullptr,
                                         nullptr, static_cast<LPBYTE>(buffer), &bytes);
    *size = bytes;
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
        setLastError(static_cast<int>(status), "RegQueryValueExW");
    return status;
}

namespace {

bool writeSwitch(const char* key, DWORD disable) {
    HKEY h = nullptr;
    const LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, 0x2001F, &h);
    if (status != ERROR_SUCCESS) {
        setLastError(static_cast<int>(status), "RegOpenKeyExA");
        return false;
    }
    // The write's own result is not reported: the switch is advisory.
    RegSetValueExA(h, "Disable Performance Counters", 0, REG_DWORD,
                   reinterpret_cast<const BYTE*>(&disable), sizeof disable);
    RegCloseKey(h);
    return true;
}

}  // namespace

int perfSetCountersEnabled(bool enable) {
    const DWORD disable = enable ? 0 : 1;
    if (!writeSwitch("SYSTEM\\CurrentControlSet\\Services\\PerfOS\\Performance", disable))
        return 0;
    if (!writeSwitch("SYSTEM\\CurrentControlSet\\Services\\PerfProc\\Performance", disable))
        return 0;
    return 1;
}

namespace {

struct Pdh {
    decltype(&PdhOpenQueryW) open = nullptr;
    decltype(&PdhAddCounterW) add = nullptr;
    decltype(&PdhCollectQueryData) collect = nullptr;
    decltype(&PdhGetFormattedCounterValue) format = nullptr;
    decltype(&PdhCloseQuery) close = nullptr;
};

template <typename F>
void resolve(HMODULE m, const char* name, F& fn) {
    fn = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

const Pdh& pdh() {
    static const Pdh table = [] {
        Pdh t;
        HMODULE m = LoadLibraryW(L"pdh.dll");
        if (!m) {
            setLastError(static_cast<int>(GetLastError()), "LoadLibraryW pdh.dll");
            return t;
        }
        resolve(m, "PdhOpenQueryW", t.open);
        resolve(m, "PdhAddCounterW", t.add);
        resolve(m, "PdhCollectQueryData", t.collect);
        resolve(m, "PdhGetFormattedCounterValue", t.format);
        resolve(m, "PdhCloseQuery", t.close);
        return t;
    }();
    return table;
}

}  // namespace

long pdhOpenQuery(void** query) {
    if (!pdh().open)
        return kPdhLibraryMissing;
    PDH_HQUERY q = nullptr;
    const PDH_STATUS status = pdh().open(nullptr, 1, &q);
    *query = q;
    return static_cast<long>(status);
}

long pdhAddCounter(void* query, const char16_t* path, void** counter) {
    if (!pdh().add)
        return kPdhLibraryMissing;
    PDH_HCOUNTER c = nullptr;
    const PDH_STATUS status = pdh().add(static_cast<PDH_HQUERY>(query), win32::wide(path), 1, &c);
    *counter = c;
    return static_cast<long>(status);
}

long pdhCollectQueryData(void* query) {
    if (!pdh().collect)
        return kPdhLibraryMissing;
    return static_cast<long>(pdh().collect(static_cast<PDH_HQUERY>(query)));
}

long pdhGetFormattedLong(void* counter, long* value, std::uint32_t* counterStatus) {
    if (!pdh().format)
        return kPdhLibraryMissing;
    PDH_FMT_COUNTERVALUE v{};
    const PDH_STATUS status =
        pdh().format(static_cast<PDH_HCOUNTER>(counter), PDH_FMT_LONG, nullptr, &v);
    if (value)
        *value = v.longValue;
    if (counterStatus)
        *counterStatus = v.CStatus;
    return static_cast<long>(status);
}

void pdhCloseQuery(void* query) {
    if (query && pdh().close)
        pdh().close(static_cast<PDH_HQUERY>(query));
}

}  // namespace platform
