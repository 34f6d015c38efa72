// Machine and OS facts from the version API, GetSystemInfo, GlobalMemoryStatusEx, the registry
// and dwmapi.dll (loaded on first use).
#include "platform/sysinfo.h"
#include "platform/error.h"
#include "platform/win32/win32_support.h"

namespace platform {

bool osVersion(OsVersion& out, bool extended) {
    out = OsVersion{};
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = extended ? sizeof(OSVERSIONINFOEXW) : sizeof(OSVERSIONINFOW);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    const BOOL ok = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    if (!ok) {
        setLastError(static_cast<int>(GetLastError()), "GetVersionExW");
        return false;
    }
    out.major = info.dwMajorVersion;
    out.minor = info.dwMinorVersion;
    out.build = info.dwBuildNumber;
    out.platformId = info.dwPlatformId;
    out.description = "Windows " + std::to_string(out.major) + "." + std::to_string(out.minor) +
                      "." + std::to_string(out.build);
    return true;
}

std::uint32_t processorCount() {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors;
}

std::uint64_t physicalMemoryBytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) {
        setLastError(static_cast<int>(GetLastError()), "GlobalMemoryStatusEx");
        return 0;
    }
    return status.ullTotalPhys;
}

bool cpuSpeedMHz(std::uint32_t& mhz) {
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                                "Hardware\\Description\\System\\CentralProcessor\\0", 0, 0x20019,
                                &key);
    if (status != ERROR_SUCCESS) {
        setLastError(static_cast<int>(status), "RegOpenKeyExA");
        return false;
    }
    DWORD value = 0, size = sizeof value;
    status = RegQueryValueExA(key, "~MHz", nullptr, nullptr, reinterpret_cast<LPBYTE>(&value),
                              &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        setLastError(static_cast<int>(status), "RegQueryValueExA");
        return false;
    }
    mhz = value;
    return true;
}

bool cpuName(std::string& narrow) {
    HKEY key = nullptr;
    LONG status =
        RegOpenKeyA(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", &key);
    if (status != ERROR_SUCCESS) {
        setLastError(static_cast<int>(status), "RegOpenKeyA");
        return false;
    }
    char buffer[257] = {};
    DWORD size = 256;
    status = RegQueryValueExA(key, "ProcessorNameString", nullptr, nullptr,
                              reinterpret_cast<LPBYTE>(buffer), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        setLastError(static_cast<int>(status), "RegQueryValueExA");
        narrow.clear();
        return true;  // the key exists: the name is empty
    }
    narrow = buffer;
    return true;
}

bool displayAdapterValue(std::uint32_t& type, std::vector<unsigned char>& data) {
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(
        HKEY_LOCAL_MACHINE,
        "System\\ControlSet001\\Control\\class\\{4D36E968-E325-11CE-BFC1-08002BE10318}\\0000", 0,
        0x20019, &key);
    if (status != ERROR_SUCCESS) {
        setLastError(static_cast<int>(status), "RegOpenKeyExA");
        return false;
    }
    const char* const name = "HardwareInformation.AdapterString";
    DWORD valueType = 3, size = 256;
    data.clear();
    status = RegQueryValueExA(key, name, nullptr, &valueType, nullptr, &size);
    type = valueType;
    if (status == ERROR_SUCCESS && (valueType == 3 || valueType == 1)) {
        // A text value is read whole, however long, rather than into a fixed 256 bytes.
        data.assign(size + 1, 0);
        DWORD got = size;
        if (RegQueryValueExA(key, name, nullptr, nullptr, data.data(), &got) == ERROR_SUCCESS)
            data.resize(got);
        else
            data.clear();
    }
    RegCloseKey(key);
    return true;
}

bool isWow64(bool& wow64) {
    using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    auto fn = kernel ? reinterpret_cast<Fn>(
                           reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")))
                     : nullptr;
    if (!fn)
        return false;
    BOOL flag = FALSE;
    fn(GetCurrentProcess(), &flag);
    wow64 = flag != FALSE;
    return true;
}

namespace {

// dwmapi.dll is loaded on the first lookup and kept; a failed load is tried again next time.
// Two threads racing here may load it twice, which the loader's reference count absorbs.
HMODULE g_dwmapi = nullptr;

void* dwmEntry(const char* name) {
    if (!g_dwmapi)
        g_dwmapi = LoadLibraryW(L"dwmapi.dll");
    if (!g_dwmapi)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(g_dwmapi, name));
}

}  // namespace

bool compositionIsEnabled(long& status, int& enabled) {
    using Fn = HRESULT(WINAPI*)(BOOL*);
    auto fn = reinterpret_cast<Fn>(dwmEntry("DwmIsCompositionEnabled"));
    if (!fn)
        return false;
    BOOL flag = enabled;
    status = fn(&flag);
    enabled = flag;
    return true;
}

bool compositionEnable(unsigned action, long& status) {
    using Fn = HRESULT(WINAPI*)(UINT);
    auto fn = reinterpret_cast<Fn>(dwmEntry("DwmEnableComposition"));
    if (!fn)
        return false;
    status = fn(action);
    return true;
}

bool setSystemFilesRoot(const char*) { return false; }

}  // namespace platform
