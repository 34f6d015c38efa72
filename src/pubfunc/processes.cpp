// Processes: the snapshot queries, the master-executable check, the token privilege and the
// injection entry point that does nothing.
#include "pubfunc/pubfunc.h"
#include "platform/process.h"

bool pubfunc::injectDll(const std::u16string&, const std::u16string&) { return false; }

bool pubfunc::isProcessExist(unsigned long processId) {
    std::vector<platform::ProcessEntry> entries;
    if (!platform::processSnapshot(entries))
        return false;
    for (const platform::ProcessEntry& e : entries)
        if (e.id == processId)
            return true;
    return false;
}

unsigned long pubfunc::getProcessIDWnd(const std::u16string& exeName, HWND& wnd,
                                       const std::u16string& title) {
    std::vector<platform::ProcessEntry> entries;
    if (!platform::processSnapshot(entries) || entries.empty())
        return 0;
    std::u16string wanted = exeName;
    ToLower(wanted);
    for (const platform::ProcessEntry& e : entries) {
        std::u16string name = e.exeName;
        ToLower(name);
        if (name != wanted)
            continue;
        const HWND found = getProcessMainWnd(e.id, title);
        if (found != nullptr) {
            wnd = found;
            return e.id;
        }
    }
    return 0;
}

bool pubfunc::isMasterExe() {
    static const char16_t* const kMasters[] = {
        u"lumacast.exe",  u"lumacast_engine_tester.exe", u"lumacast_engine_tester64.exe",
        u"grabsvr64.exe", u"grabsvr.exe",                u"qx.exe",
    };
    std::u16string name = getExeName();
    ToLower(name);
    for (const char16_t* master : kMasters)
        if (name == master)
            return true;
    return false;
}

bool pubfunc::getProcessList(std::vector<std::pair<unsigned long, std::u16string>>& processes) {
    std::vector<platform::ProcessEntry> entries;
    if (!platform::processSnapshot(entries))
        return false;
    processes.reserve(processes.size() + entries.size());
    for (platform::ProcessEntry& e : entries)
        processes.emplace_back(e.id, std::move(e.exeName));
    return true;
}

int pubfunc::DebugPrivilege(char16_t* name, int enable) {
    return platform::adjustPrivilege(name, enable != 0) ? 1 : 0;
}
