// The helper process's windows on Windows: the same layouts as the X11 helper, made with the
// window manager's own calls, with a message loop that keeps them answering.
#include "processes/helpers/host.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <imm.h>

#include <cstdint>

namespace nxproc {

namespace {

HWND makeWindow(HWND parent, const wchar_t* title, int x, int y) {
    const DWORD style = parent ? WS_CHILD | WS_VISIBLE : WS_OVERLAPPEDWINDOW;
    return CreateWindowExW(0, L"nxTestWindow", title, style, x, y, 100, 80, parent, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

unsigned long long id(HWND w) { return reinterpret_cast<std::uintptr_t>(w); }

}  // namespace

long long startWindowSystem(std::string* display) {
    // The desktop is there already; under Wine without a display driver no window can be made.
    const HWND probe = CreateWindowExW(0, L"STATIC", L"probe", WS_OVERLAPPED, 0, 0, 10, 10,
                                       nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!probe)
        return *display = "no window can be created (Wine without a display driver?)", 0;
    DestroyWindow(probe);
    return 1;
}

int runWindowHelper(bool hiddenOnly) {
    // Without input methods the process owns no "Default IME" top-level windows: the windows
    // below are all it has.
    ImmDisableIME(static_cast<DWORD>(-1));
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"nxTestWindow";
    if (!RegisterClassW(&wc))
        return 2;
    HWND main = nullptr, hiddenParent = nullptr, orphanChild = nullptr, grandchild = nullptr;
    if (!hiddenOnly) {
        main = makeWindow(nullptr, L"nx main window", 0, 0);
        const HWND inner = makeWindow(main, nullptr, 5, 5);
        grandchild = inner ? makeWindow(inner, nullptr, 2, 2) : nullptr;
        ShowWindow(main, SW_SHOWNOACTIVATE);
        hiddenParent = makeWindow(nullptr, L"nx hidden parent", 120, 0);
        orphanChild = makeWindow(hiddenParent, nullptr, 5, 5);
    }
    const HWND hidden = makeWindow(nullptr, L"nx hidden window", 0, 100);
    if (!hidden || (!hiddenOnly && (!main || !grandchild || !orphanChild)))
        return 3;
    for (HWND w : {hiddenParent, hidden})  // the hidden windows above the main window
        if (w)
            SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    reportReady(
        windowLine({id(main), id(hidden), id(hiddenParent), id(orphanChild), id(grandchild)}));
    waitUntilStopped([] {
        for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);)
            TranslateMessage(&msg), DispatchMessageW(&msg);
    });
    for (HWND w : {main, hiddenParent, hidden})
        if (w)
            DestroyWindow(w);
    return 0;
}

}  // namespace nxproc
