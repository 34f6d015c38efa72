// nxtool ps: lists processes with their main window; the demo's processes-and-windows screen.
#include "command.h"
#include "pubfunc/pubfunc.h"

#include <cstdint>

namespace {

// Command-line names are compared in ASCII case only, as the library does on every platform.
std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

int runPs(const std::vector<std::string>& args) {
    if (args.size() > 1) {
        std::fprintf(stderr, "usage: nxtool ps [NAME]\n");
        return 2;
    }
    std::vector<std::pair<unsigned long, std::u16string>> processes;
    if (!pubfunc::getProcessList(processes)) {
        std::fprintf(stderr, "nxtool ps: no process snapshot\n");
        return 1;
    }
    const std::string wanted = args.empty() ? std::string() : lowerAscii(args[0]);
    std::printf("%8s  %-28s %-12s %s\n", "PID", "NAME", "WINDOW", "TITLE");
    int shown = 0;
    for (const auto& p : processes) {
        const std::string name = nxtool::utf8(p.second);
        if (!wanted.empty() && lowerAscii(name) != wanted)
            continue;
        const HWND wnd = pubfunc::getProcessMainWnd(p.first, p.second);
        char id[32] = "-";
        if (wnd)
            std::snprintf(id, sizeof id, "0x%llx",
                          static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(wnd)));
        std::printf("%8lu  %-28s %-12s %s\n", p.first, name.c_str(), id,
                    wnd ? nxtool::utf8(pubfunc::getWindowTitle(wnd)).c_str() : "");
        ++shown;
    }
    if (!wanted.empty() && shown == 0) {
        std::printf("no process named %s\n", args[0].c_str());
        return 1;
    }
    return 0;
}

int demoProcesses() {
    std::vector<std::pair<unsigned long, std::u16string>> processes;
    pubfunc::getProcessList(processes);
    std::printf("process snapshot: %zu processes; the first ones:\n", processes.size());
    for (std::size_t i = 0; i < processes.size() && i < 3; ++i)
        std::printf("  %8lu  %s  exists: %s\n", processes[i].first,
                    nxtool::utf8(processes[i].second).c_str(),
                    pubfunc::isProcessExist(processes[i].first) ? "yes" : "no");
    std::printf("isProcessExist(4294967290) -> %s\n",
                pubfunc::isProcessExist(4294967290UL) ? "true" : "false");
    std::printf("isMasterExe() -> %s (true only for grabsvr.exe, qx.exe, lumacast.exe, ...)\n",
                pubfunc::isMasterExe() ? "true" : "false");
    HWND wnd = nullptr;
    const unsigned long owner = pubfunc::getProcessIDWnd(u"NO_SUCH_PROGRAM.EXE", wnd, u"");
    std::printf("getProcessIDWnd(\"NO_SUCH_PROGRAM.EXE\") -> %lu, window %s\n", owner,
                wnd ? "set" : "untouched");
    std::printf("FindWindowTop(null) -> %s\n", pubfunc::FindWindowTop(nullptr) ? "a window" : "null");
    std::printf("injectDll(...) -> %s\n", pubfunc::injectDll(u"qx.exe", u"hook.dll") ? "true" : "false");
    std::printf("changeUIPIMessageFilter(0x401, true) -> %s\n",
                pubfunc::changeUIPIMessageFilter(0x401, true) ? "true" : "false");
    return 0;
}

}  // namespace

NXTOOL_COMMAND("ps", "list processes with their main window",
               "usage: nxtool ps [NAME]\n\n"
               "Lists the running processes (only those whose executable file name is NAME, in\n"
               "any letter case) with the id and title of their main window: the first visible\n"
               "top-level window from the top of the stacking order. Linux finds windows on the\n"
               "X display named by DISPLAY through their _NET_WM_PID; without one, none.\n"
               "Exits with 1 when NAME matches no process.",
               runPs);
NXTOOL_DEMO(75, "processes and windows", demoProcesses);
