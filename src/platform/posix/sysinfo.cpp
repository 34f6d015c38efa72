// Machine and OS facts on Linux: uname, /proc/cpuinfo, sysinfo(2), /sys/class/drm. The files
// are read under the root of setSystemFilesRoot (posix::systemFile).
#include "platform/sysinfo.h"
#include "platform/error.h"
#include "platform/posix/posix_support.h"

#include <dirent.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace platform {

namespace {

bool readText(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream all;
    all << in.rdbuf();
    out = all.str();
    return true;
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    return s;
}

// The value of the first "key : value" line of /proc/cpuinfo whose key is `key`.
bool cpuinfoValue(const char* key, std::string& value) {
    std::ifstream in(posix::systemFile("/proc/cpuinfo"));
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string k = line.substr(0, colon);
        while (!k.empty() && (k.back() == ' ' || k.back() == '\t'))
            k.pop_back();
        if (k != key)
            continue;
        value = line.substr(colon + 1);
        if (!value.empty() && value[0] == ' ')
            value.erase(0, 1);
        return true;
    }
    return false;
}

// Vendor and device names of a PCI id from the pci.ids database, when it is installed.
std::string pciName(unsigned vendor, unsigned device) {
    static const char* const kDatabases[] = {"/usr/share/misc/pci.ids",
                                             "/usr/share/hwdata/pci.ids"};
    for (const char* path : kDatabases) {
        std::ifstream in(posix::systemFile(path));
        if (!in)
            continue;
        char vendorKey[8], deviceKey[8];
        std::snprintf(vendorKey, sizeof vendorKey, "%04x  ", vendor);
        std::snprintf(deviceKey, sizeof deviceKey, "\t%04x ", device);
        std::string line, vendorName;
        bool inVendor = false;
        while (std::getline(in, line)) {
            if (!inVendor) {
                if (line.compare(0, 6, vendorKey) == 0) {
                    vendorName = line.substr(6);
                    inVendor = true;
                }
                continue;
            }
            if (!line.empty() && line[0] != '\t' && line[0] != '#')
                break;  // the next vendor: the device is not listed
            if (line.compare(0, 6, deviceKey) == 0)
                return vendorName + " " + trimmed(line.substr(7));
        }
        if (inVendor)
            return vendorName;
    }
    return {};
}

}  // namespace

bool osVersion(OsVersion& out, bool) {
    // Linux reports itself as version 6.1 of the NT family: the "NT family, not version 4" path
    // of the processor-load sampler applies, and the clock's millisecond sleep is not shortened
    // (nanosleep does not overshoot by a timer tick the way Sleep does from version 6.2 on).
    out = OsVersion{};
    out.major = 6;
    out.minor = 1;
    out.platformId = 2;
    utsname uts{};
    if (::uname(&uts) == 0) {
        unsigned a = 0, b = 0, c = 0;
        std::sscanf(uts.release, "%u.%u.%u", &a, &b, &c);
        out.build = a * 10000 + b * 100 + c;
        out.description = std::string(uts.sysname) + " " + uts.release + " " + uts.machine;
    } else {
        out.description = "Linux";
    }
    return true;
}

std::uint32_t processorCount() {
    const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<std::uint32_t>(n) : 0;
}

std::uint64_t physicalMemoryBytes() {
    struct sysinfo info {};
    if (::sysinfo(&info) != 0) {
        setLastError(errno, "sysinfo");
        return 0;
    }
    return static_cast<std::uint64_t>(info.totalram) * info.mem_unit;
}

bool cpuSpeedMHz(std::uint32_t& mhz) {
    std::string value;
    if (cpuinfoValue("cpu MHz", value)) {
        const double v = std::strtod(value.c_str(), nullptr);
        if (v > 0) {
            mhz = static_cast<std::uint32_t>(std::lround(v));
            return true;
        }
    }
    // Processors whose /proc/cpuinfo lists no speed (ARM) still have cpufreq limits, in kHz.
    if (readText(posix::systemFile("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq"), value)) {
        const unsigned long khz = std::strtoul(value.c_str(), nullptr, 10);
        if (khz > 0) {
            mhz = static_cast<std::uint32_t>((khz + 500) / 1000);
            return true;
        }
    }
    return false;
}

bool cpuName(std::string& narrow) {
    static const char* const kKeys[] = {"model name", "Hardware", "Processor", "cpu model"};
    for (const char* key : kKeys) {
        if (cpuinfoValue(key, narrow)) {
            if (narrow.size() > 255)
                narrow.resize(255);
            return true;
        }
    }
    return false;
}

bool displayAdapterValue(std::uint32_t& type, std::vector<unsigned char>& data) {
    // The first card ("card0", not a connector such as "card0-HDMI-A-1") stands for the key of
    // the first adapter.
    const std::string drm = posix::systemFile("/sys/class/drm");
    DIR* dir = ::opendir(drm.c_str());
    if (!dir) {
        setLastError(errno, "opendir /sys/class/drm");
        return false;
    }
    std::vector<std::string> cards;
    while (dirent* e = ::readdir(dir)) {
        const char* n = e->d_name;
        if (std::strncmp(n, "card", 4) == 0 && n[4] && std::strspn(n + 4, "0123456789") ==
                                                           std::strlen(n + 4))
            cards.push_back(n);
    }
    ::closedir(dir);
    if (cards.empty())
        return false;
    std::sort(cards.begin(), cards.end(), [](const std::string& a, const std::string& b) {
        return std::atoi(a.c_str() + 4) < std::atoi(b.c_str() + 4);
    });
    const std::string device = drm + "/" + cards[0] + "/device/";
    std::string uevent, vendorText, deviceText;
    readText(device + "uevent", uevent);
    std::string driver, text;
    std::istringstream lines(uevent);
    for (std::string line; std::getline(lines, line);)
        if (line.compare(0, 7, "DRIVER=") == 0)
            driver = line.substr(7);
    if (readText(device + "vendor", vendorText) && readText(device + "device", deviceText)) {
        const unsigned v = static_cast<unsigned>(std::strtoul(vendorText.c_str(), nullptr, 16));
        const unsigned d = static_cast<unsigned>(std::strtoul(deviceText.c_str(), nullptr, 16));
        text = pciName(v, d);
        if (text.empty()) {
            char ids[32];
            std::snprintf(ids, sizeof ids, "%04x:%04x", v, d);
            text = driver.empty() ? std::string(ids) : driver + " (" + ids + ")";
        }
    } else {
        text = driver;
    }
    type = 1;
    data.assign(text.begin(), text.end());
    data.push_back(0);
    return true;
}

bool isWow64(bool& wow64) {
    // A 32-bit program on a 64-bit kernel is the counterpart of a 32-bit process on 64-bit
    // Windows.
    utsname uts{};
    const bool kernel64 = ::uname(&uts) == 0 && (std::strstr(uts.machine, "64") != nullptr ||
                                                 std::strcmp(uts.machine, "s390x") == 0);
    wow64 = sizeof(void*) == 4 && kernel64;
    return true;
}

bool compositionIsEnabled(long&, int&) { return false; }

bool compositionEnable(unsigned, long&) { return false; }

}  // namespace platform
