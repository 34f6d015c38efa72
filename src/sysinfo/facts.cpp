// Hardware and OS facts: processor count, speed and name, memory, display adapter, the OS
// generation, and desktop composition. Each query reads the platform afresh, except
// getOSVersion, which reads the record initPubfunc filled once. The platform is reached through
// platform::sys(), where tests replace its answers.
#include "sysinfo/sysinfo.h"
#include "sysinfo/sysinfo_backend.h"
#include "platform/syscalls.h"

#include <cmath>

namespace nxsysinfo {

namespace {

// Zero until initPubfunc; written once, early, and only read afterwards.
platform::OsVersion g_version;

}  // namespace

void resetVersionRecord() { g_version = platform::OsVersion{}; }

std::string adapterText(std::uint32_t type, const std::vector<unsigned char>& data) {
    std::string text;
    if (type == 3) {
        // UTF-16 text of ASCII letters stored as bytes: its zero bytes are dropped.
        for (unsigned char c : data)
            if (c != 0)
                text += static_cast<char>(c);
    } else if (type == 1) {
        for (unsigned char c : data) {
            if (c == 0)
                break;
            text += static_cast<char>(c);
        }
    }
    return text;
}

}  // namespace nxsysinfo

int GetCpuNumber() { return static_cast<int>(platform::sys().processorCount()); }

bool isEqualValue(float a, float b) {
    const float diff = std::fabs(a - b);
    return static_cast<double>(diff) < 0.0001;
}

unsigned long pubfunc::GetCPUSpeed() {
    std::uint32_t mhz = 0;
    return platform::sys().cpuSpeedMHz(mhz) ? mhz : 0;
}

std::u16string pubfunc::getCPUName() {
    std::string narrow;
    if (!platform::sys().cpuName(narrow))
        return {};
    return pubfunc::toWideString(narrow.data(), static_cast<int>(narrow.size()), 0);
}

int pubfunc::GetMemoryTotal() {
    return static_cast<int>(platform::sys().physicalMemoryBytes() >> 20);
}

std::u16string pubfunc::GetDisplayAdapterName() {
    std::uint32_t type = 3;
    std::vector<unsigned char> data;
    if (!platform::sys().displayAdapterValue(type, data))
        return {};
    const std::string text = nxsysinfo::adapterText(type, data);
    return pubfunc::toWideString(text.data(), static_cast<int>(text.size()), 0);
}

void pubfunc::initPubfunc() {
    using nxsysinfo::g_version;
    g_version = platform::OsVersion{};
    if (!platform::sys().osVersion(g_version, true)) {
        g_version = platform::OsVersion{};
        platform::sys().osVersion(g_version, false);
    }
}

int pubfunc::getOSVersion() {
    const platform::OsVersion& v = nxsysinfo::g_version;
    if (v.major > 6 || (v.major == 6 && v.minor >= 2))
        return 8;
    if (v.major == 6)
        return v.minor == 1 ? 7 : 6;
    return 0;
}

bool pubfunc::isAboveVista() {
    platform::OsVersion v;
    if (!platform::sys().osVersion(v, true) && !platform::sys().osVersion(v, false))
        return true;
    return v.major >= 6;
}

bool pubfunc::is64BitWindows() {
    bool wow64 = false;
    platform::isWow64(wow64);
    return wow64;
}

bool pubfunc::IsCompositionEnabled() {
    if (!isAboveVista())
        return false;
    long status = 0;
    int enabled = 1;
    if (!platform::sys().compositionIsEnabled(status, enabled) || status != 0)
        return false;
    return enabled != 0;
}

long pubfunc::enableComposition(bool enable) {
    if (!isAboveVista())
        return 1;
    long status = 0;
    if (!platform::sys().compositionEnable(enable ? 1u : 0u, status))
        return 1;
    return status;
}
