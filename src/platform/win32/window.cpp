// Windows on Win32: the window manager's own queries, and the message filter looked up at run
// time (it exists from Windows Vista on).
#include "platform/window.h"
#include "platform/error.h"
#include "platform/win32/win32_support.h"

#include <vector>

namespace platform {

namespace {

HWND hwnd(WindowId w) { return reinterpret_cast<HWND>(w); }
WindowId id(HWND h) { return reinterpret_cast<WindowId>(h); }

// The walk runs over the order as it was when it started: raising windows during the walk
// (showProcessMainWnd does) reorders the live list, and following the live order would send
// the walk back and forth between two raised windows of one process. Each thread keeps the
// list of its own walk.
thread_local std::vector<HWND> t_order;

BOOL CALLBACK collect(HWND w, LPARAM) {
    t_order.push_back(w);
    return TRUE;
}

}  // namespace

WindowId windowTop() {
    t_order.clear();
    // EnumWindows lists the top-level windows from the top of the Z order, as GetTopWindow
    // and GetWindow(GW_HWNDNEXT) would.
    if (!EnumWindows(collect, 0) && t_order.empty())
        return id(GetTopWindow(nullptr));
    return t_order.empty() ? 0 : id(t_order.front());
}

WindowId windowNext(WindowId w) {
    for (std::size_t i = 0; i < t_order.size(); ++i)
        if (t_order[i] == hwnd(w))
            return i + 1 < t_order.size() ? id(t_order[i + 1]) : 0;
    return id(GetWindow(hwnd(w), GW_HWNDNEXT));
}

bool windowIsValid(WindowId w) { return IsWindow(hwnd(w)) != FALSE; }

bool windowProcessId(WindowId w, unsigned long* processId) {
    DWORD pid = 0;
    if (GetWindowThreadProcessId(hwnd(w), &pid) == 0) {
        setLastError(static_cast<int>(GetLastError()), "GetWindowThreadProcessId");
        return false;
    }
    if (processId)
        *processId = pid;
    return true;
}

bool windowIsVisible(WindowId w) { return IsWindowVisible(hwnd(w)) != FALSE; }

std::u16string windowText(WindowId w, int maxUnits) {
    if (maxUnits <= 0)
        return std::u16string();
    // A zero-filled buffer one unit longer than the text may be.
    std::u16string buf(static_cast<std::size_t>(maxUnits) + 1, u'\0');
    const int n = GetWindowTextW(hwnd(w), win32::wide(&buf[0]), maxUnits + 1);
    buf.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return buf;
}

WindowId windowParent(WindowId w) { return id(GetParent(hwnd(w))); }

unsigned long windowStyle(WindowId w) {
    return static_cast<unsigned long>(GetWindowLongW(hwnd(w), GWL_STYLE));
}

void windowShow(WindowId w) { ShowWindow(hwnd(w), SW_SHOW); }

void windowBringToTop(WindowId w) { BringWindowToTop(hwnd(w)); }

bool windowMessageFilter(unsigned int message, bool allow) {
    HMODULE user32 = LoadLibraryW(L"user32.dll");
    if (!user32) {
        setLastError(static_cast<int>(GetLastError()), "LoadLibraryW");
        return false;
    }
    typedef BOOL(WINAPI * FilterFn)(UINT, DWORD);
    const FilterFn filter =
        reinterpret_cast<FilterFn>(reinterpret_cast<void*>(GetProcAddress(user32, "ChangeWindowMessageFilter")));
    if (!filter) {
        setLastError(static_cast<int>(GetLastError()), "GetProcAddress");
        FreeLibrary(user32);
        return false;
    }
    // MSGFLT_ADD (1) lets the message through, MSGFLT_REMOVE (2) blocks it again.
    const BOOL ok = filter(message, allow ? 1 : 2);
    if (!ok)
        setLastError(static_cast<int>(GetLastError()), "ChangeWindowMessageFilter");
    FreeLibrary(user32);
    return ok != FALSE;
}

}  // namespace platform
