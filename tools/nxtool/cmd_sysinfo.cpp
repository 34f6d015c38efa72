// nxtool sysinfo / cpu: the machine's facts, and its processor load once a second like a
// one-line top.
#include "command.h"
#include "sysinfo/sysinfo.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

void printFacts() {
    pubfunc::initPubfunc();
    const std::string name = nxtool::utf8(pubfunc::getCPUName());
    const std::string adapter = nxtool::utf8(pubfunc::GetDisplayAdapterName());
    std::printf("processors         %d\n", GetCpuNumber());
    std::printf("processor          %s\n", name.empty() ? "(unknown)" : name.c_str());
    std::printf("speed              %lu MHz\n", pubfunc::GetCPUSpeed());
    std::printf("memory             %d MiB\n", pubfunc::GetMemoryTotal());
    std::printf("display adapter    %s\n", adapter.empty() ? "(none)" : adapter.c_str());
    std::printf("OS version code    %d (above Vista: %s)\n", pubfunc::getOSVersion(),
                pubfunc::isAboveVista() ? "yes" : "no");
    std::printf("32-bit on 64-bit   %s\n", pubfunc::is64BitWindows() ? "yes" : "no");
    std::printf("composition        %s\n", pubfunc::IsCompositionEnabled() ? "on" : "off");
}

int runSysinfo(const std::vector<std::string>&) {
    printFacts();
    return 0;
}

// One line per interval: machine-wide load from both sources, and the watched process.
int runCpu(const std::vector<std::string>& args) {
    long count = -1;
    std::string target;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--count" && i + 1 < args.size())
            count = std::strtol(args[++i].c_str(), nullptr, 10);
        else
            target = args[i];
    }
    const bool byPid = !target.empty() && target.find_first_not_of("0123456789") == std::string::npos;
    const unsigned long pid = byPid ? std::strtoul(target.c_str(), nullptr, 10) : 0;
    const std::u16string name(target.begin(), target.end());

    CCpuUsage machine, process;
    // Prime all three so the first printed line already covers one interval.
    machine.GetCpuUsage();
    GetCpuInfo_All();
    if (!target.empty())
        byPid ? process.GetCpuUsage(pid) : process.GetCpuUsage(name.c_str());
    std::printf("%8s %8s", "sampler", "query");
    if (!target.empty())
        std::printf("  %s", target.c_str());
    std::printf("\n");
    for (long i = 0; count < 0 || i < count; ++i) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        std::printf("%7d%% %7d%%", machine.GetCpuUsage(), GetCpuInfo_All());
        if (!target.empty())
            std::printf("  %d%%", byPid ? process.GetCpuUsage(pid)
                                        : process.GetCpuUsage(name.c_str()));
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}

int demoSysinfo() {
    printFacts();
    CCpuUsage cpu;
    cpu.GetCpuUsage();
    GetCpuInfo_All();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::printf("load over 0.3 s    %d%% (raw data), %d%% (counter query)\n", cpu.GetCpuUsage(),
                GetCpuInfo_All());
    return 0;
}

}  // namespace

NXTOOL_COMMAND("sysinfo", "print the machine's processor, memory, adapter and OS facts",
               "usage: nxtool sysinfo\n\n"
               "Prints the processor count, name and speed, the installed memory, the first\n"
               "display adapter, the OS version code, and the desktop-composition state.",
               runSysinfo);
NXTOOL_COMMAND("cpu", "print the processor load once a second",
               "usage: nxtool cpu [PID|NAME] [--count N]\n\n"
               "Every second prints the machine-wide load from the raw performance data and\n"
               "from the counter query and, given a process id or an instance name (\"bash\",\n"
               "\"bash#1\" for the second process of that name), that process's share of one\n"
               "processor. Runs until interrupted, or N lines with --count.",
               runCpu);
NXTOOL_DEMO(60, "system information", demoSysinfo);
