// Facts about the running process on Win32, and the toolhelp process snapshot.
#include "platform/process.h"
#include "platform/error.h"
#include "platform/win32/win32_support.h"

#include <tlhelp32.h>

namespace platform {

unsigned long currentProcessId() { return GetCurrentProcessId(); }

bool processAlive(unsigned long id) {
    if (id == 0)
        return false;
    // 0x1000: PROCESS_QUERY_LIMITED_INFORMATION. A process that exists but may not be opened
    // (another user's) gives access denied rather than an invalid parameter.
    win32::Handle process(OpenProcess(0x1000, FALSE, static_cast<DWORD>(id)));
    if (!process.get())
        return GetLastError() != ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    return !GetExitCodeProcess(process.get(), &code) || code == STILL_ACTIVE;
}

bool processSnapshot(std::vector<ProcessEntry>& entries) {
    entries.clear();
    win32::Handle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snap.valid()) {
        setLastError(static_cast<int>(GetLastError()), "CreateToolhelp32Snapshot");
        return false;
    }
    PROCESSENTRY32W pe;
    pe.dwSize = sizeof pe;
    for (BOOL more = Process32FirstW(snap.get(), &pe); more; more = Process32NextW(snap.get(), &pe)) {
        ProcessEntry entry;
        entry.id = pe.th32ProcessID;
        entry.exeName = reinterpret_cast<const char16_t*>(pe.szExeFile);
        entries.push_back(std::move(entry));
    }
    return true;
}

bool adjustPrivilege(const char16_t* name, bool enable) {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) {
        setLastError(static_cast<int>(GetLastError()), "OpenProcessToken");
        return false;
    }
    win32::Handle token(raw);
    TOKEN_PRIVILEGES tp = {};
    tp.PrivilegeCount = 1;
    // An unknown name leaves the identifier zero; the adjustment then reports the failure.
    LookupPrivilegeValueW(nullptr, win32::wide(name), &tp.Privileges[0].Luid);
    tp.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    AdjustTokenPrivileges(token.get(), FALSE, &tp, 0, nullptr, nullptr);
    const DWORD code = GetLastError();
    if (code != 0)
        setLastError(static_cast<int>(code), "AdjustTokenPrivileges");
    return code == 0;
}

}  // namespace platform
