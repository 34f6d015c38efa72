// Windows of processes: finding a process's main window, showing its windows, climbing to the
// top-level window of a child, and the window-message filter.
#include "pubfunc/pubfunc.h"
#include "log/log.h"
#include "platform/window.h"

namespace {

// Titles are read as into a zero-filled buffer of 260 units.
constexpr int kTitleUnits = 259;

HWND toHandle(platform::WindowId w) { return reinterpret_cast<HWND>(w); }
platform::WindowId toId(HWND w) { return reinterpret_cast<platform::WindowId>(w); }

}  // namespace

HWND pubfunc::getProcessMainWnd(unsigned long processId, const std::u16string& title) {
    TRK::TRKLogger* log = TRK::TRKLogger::Instance();
    log->LogInfo(u"pubfunc::getProcessMainWnd dwPID=%d, strTitle=%s",
                 static_cast<int>(processId), title.c_str());
    for (platform::WindowId w = platform::windowTop(); platform::windowIsValid(w);
         w = platform::windowNext(w)) {
        unsigned long owner = 0;
        if (!platform::windowProcessId(w, &owner) || owner != processId)
            continue;
        const std::u16string text = platform::windowText(w, kTitleUnits);
        const bool visible = platform::windowIsVisible(w);
        log->LogInfo(u"pubfunc::getProcessMainWnd find result: szTitle=%s, isVisible=%d",
                     text.c_str(), visible ? 1 : 0);
        if (visible)
            return toHandle(w);
    }
    return nullptr;
}

void pubfunc::showProcessMainWnd(unsigned long processId) {
    for (platform::WindowId w = platform::windowTop(); w != 0; w = platform::windowNext(w)) {
        unsigned long owner = 0;
        if (platform::windowProcessId(w, &owner) && owner == processId &&
            platform::windowIsValid(w)) {
            platform::windowShow(w);
            platform::windowBringToTop(w);
        }
    }
}

HWND pubfunc::FindWindowTop(HWND wnd) {
    const platform::WindowId w = toId(wnd);
    if (!platform::windowIsValid(w))
        return nullptr;
    if (!(platform::windowStyle(w) & platform::kWindowStyleChild))
        return wnd;
    // Climb while the parent is shown; stop below a hidden or missing parent, or at the first
    // shown ancestor that is not itself a child.
    platform::WindowId current = w;
    do {
        const platform::WindowId parent = platform::windowParent(current);
        if (parent == 0 || !(platform::windowStyle(parent) & platform::kWindowStyleVisible))
            break;
        current = parent;
    } while (platform::windowStyle(current) & platform::kWindowStyleChild);
    return toHandle(current);
}

bool pubfunc::changeUIPIMessageFilter(unsigned long message, bool allow) {
    return platform::windowMessageFilter(static_cast<unsigned int>(message), allow);
}

std::u16string pubfunc::getWindowTitle(HWND wnd) {
    return platform::windowText(toId(wnd), kTitleUnits);
}
