// The thread message queue: user32 windows, posted messages, thread timers and the
// PeekMessageW/DispatchMessageW loop.
#include "platform/msgloop.h"
#include "platform/error.h"
#include "platform/win32/win32_support.h"

namespace platform {

namespace {

// This library's own module: the instance of its hidden windows.
HINSTANCE selfModule() {
    HMODULE m = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&selfModule), &m);
    return m;
}

::HWND native(HWND w) { return reinterpret_cast<::HWND>(w); }

}  // namespace

HWND msgWindowCreate() {
    ::HWND w = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               selfModule(), nullptr);
    if (!w)
        setLastError(static_cast<int>(GetLastError()), "CreateWindowExW");
    return reinterpret_cast<HWND>(w);
}

bool msgWindowIsValid(HWND w) { return w && IsWindow(native(w)) != FALSE; }

bool msgWindowDestroy(HWND w) { return DestroyWindow(native(w)) != FALSE; }

WindowProc msgWindowSetProc(HWND w, WindowProc proc) {
    return reinterpret_cast<WindowProc>(
        SetWindowLongPtrW(native(w), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc)));
}

std::intptr_t msgWindowUserData(HWND w) { return GetWindowLongPtrW(native(w), GWLP_USERDATA); }

void msgWindowSetUserData(HWND w, std::intptr_t data) {
    SetWindowLongPtrW(native(w), GWLP_USERDATA, data);
}

std::intptr_t msgCallWindowProc(WindowProc proc, HWND w, unsigned msg, std::uintptr_t wp,
                                std::intptr_t lp) {
    return CallWindowProcW(reinterpret_cast<WNDPROC>(proc), native(w), msg, wp, lp);
}

std::intptr_t msgDefWindowProc(HWND w, unsigned msg, std::uintptr_t wp, std::intptr_t lp) {
    return DefWindowProcW(native(w), msg, wp, lp);
}

bool msgPost(HWND w, unsigned msg, std::uintptr_t wp, std::intptr_t lp) {
    if (!PostMessageW(native(w), msg, wp, lp)) {
        setLastError(static_cast<int>(GetLastError()), "PostMessageW");
        return false;
    }
    return true;
}

unsigned threadTimerSet(unsigned elapseMs, TimerProc proc) {
    const UINT_PTR id = SetTimer(nullptr, 0, elapseMs, reinterpret_cast<TIMERPROC>(proc));
    if (id == 0)
        setLastError(static_cast<int>(GetLastError()), "SetTimer");
    return static_cast<unsigned>(id);
}

bool threadTimerKill(unsigned id) { return KillTimer(nullptr, id) != FALSE; }

int msgProcessPending() {
    int dispatched = 0;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        ++dispatched;
    }
    return dispatched;
}

int msgRunFor(unsigned ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    int dispatched = 0;
    for (;;) {
        dispatched += msgProcessPending();
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return dispatched;
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
}

}  // namespace platform
