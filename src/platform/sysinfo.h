// Facts about the machine and the operating system: version, processors, memory, display
// adapter, desktop composition, and whether the program runs under Wine.
//
// Win32 reads them from the version API, GetSystemInfo, GlobalMemoryStatusEx, the registry and
// dwmapi.dll. The POSIX backend reads uname, /proc/cpuinfo, sysinfo(2) and /sys/class/drm; where
// Linux has no counterpart the result is the documented neutral value.
#ifndef NXUTIL_PLATFORM_SYSINFO_H
#define NXUTIL_PLATFORM_SYSINFO_H

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

/// The fields of the platform's version record that the library reads.
struct OsVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    std::uint32_t platformId = 0;  // 2: NT family, 1: 9x family
    std::string description;       // for display: "Windows 6.1.7601", "Linux 6.1.0-18-amd64"
};

/// Queries the version (GetVersionExW; `extended` asks for the 284-byte extended record, else
/// the 276-byte plain one). POSIX reports the NT family, version 6.1, the kernel's major, minor
/// and patch numbers folded into `build` (major*10000 + minor*100 + patch), and never fails.
bool osVersion(OsVersion& out, bool extended);

/// Logical processors (GetSystemInfo; POSIX: the processors online).
std::uint32_t processorCount();

/// Installed physical memory in bytes (GlobalMemoryStatusEx; POSIX: sysinfo's total RAM).
std::uint64_t physicalMemoryBytes();

/// The first processor's speed in MHz (the "~MHz" registry value; POSIX: the first "cpu MHz" of
/// /proc/cpuinfo rounded, else cpufreq's maximum). False when unknown.
bool cpuSpeedMHz(std::uint32_t& mhz);

/// The first processor's name as narrow text, at most 255 bytes (registry
/// "ProcessorNameString"; POSIX: "model name" of /proc/cpuinfo, else "Hardware"/"Processor").
bool cpuName(std::string& narrow);

/// The raw "HardwareInformation.AdapterString" value of the first display adapter and its
/// registry type (3 binary, 1 text). False when the adapter's key cannot be opened. POSIX: the
/// first /sys/class/drm card as text (type 1): the vendor and device names from the PCI id
/// database when it is installed, else the driver name and the PCI ids.
bool displayAdapterValue(std::uint32_t& type, std::vector<unsigned char>& data);

/// Looks up IsWow64Process in kernel32 and, when present, asks it for the current process.
/// Returns false when the entry does not exist. POSIX: a 32-bit process on a 64-bit kernel.
bool isWow64(bool& wow64);

/// DwmIsCompositionEnabled of dwmapi.dll (loaded on first use and kept). Returns false when the
/// entry is missing (POSIX: always); otherwise `status` is its result and `enabled` the flag,
/// which starts at 1.
bool compositionIsEnabled(long& status, int& enabled);

/// DwmEnableComposition(action) of dwmapi.dll; false when the entry is missing (POSIX: always).
bool compositionEnable(unsigned action, long& status);

/// POSIX: reads the system's data files, /proc (performance data, processor facts, the process
/// list of platform/process.h), /sys (display adapter, cpufreq) and the PCI id databases, under
/// `root` instead of "/" (a test tree: "<root>/proc/stat", "<root>/sys/class/drm/card0/...");
/// null restores "/". The process's own files (/proc/self/...) are always the real ones.
/// Returns false where the backend has no such files (Win32).
bool setSystemFilesRoot(const char* root);

}  // namespace platform

#endif
