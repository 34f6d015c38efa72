// Usage: machine facts, the per-user folders and settings, and hotkey texts.
#include "pubfunc/pubfunc.h"
#include "sysinfo/sysinfo.h"

#include <cstdio>
#include <string>

int example_pubfunc() {
    pubfunc::initPubfunc();
    std::printf("%d processors, %d MiB, OS version code %d\n", GetCpuNumber(),
                pubfunc::GetMemoryTotal(), pubfunc::getOSVersion());
    const std::u16string folder = pubfunc::getNxAppDataPath();
    const std::u16string hotkey = pubfunc::changeHotkeyValueToString(0x30041);  // Ctrl+Shift+A
    std::printf("per-user folder: %s\nhotkey: %s\n", std::string(folder.begin(), folder.end()).c_str(),
                std::string(hotkey.begin(), hotkey.end()).c_str());
    return 0;
}
