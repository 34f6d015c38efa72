// The thread message queue: message-only windows with replaceable window procedures, posted
// messages and thread timers, delivered while the owning thread dispatches.
//
// Win32 wraps the real user32 calls and PeekMessageW/DispatchMessageW. POSIX keeps one queue per
// thread: a window belongs to the thread that created it; a message posted to it from any
// thread waits in that thread's queue; thread timers fire from their thread's dispatch, never
// before their due time and at most once per due time; a window destroyed with messages still
// queued loses them; the queue and its windows go when the thread ends.
#ifndef NXUTIL_PLATFORM_MSGLOOP_H
#define NXUTIL_PLATFORM_MSGLOOP_H

#include "nxutil_types.h"

#include <cstdint>

namespace platform {

/// A window procedure (WNDPROC).
using WindowProc = std::intptr_t(NXUTIL_CALLBACK*)(HWND window, unsigned msg, std::uintptr_t wp,
                                                   std::intptr_t lp);
/// A thread-timer procedure (TIMERPROC): called with a null window, WM_TIMER, the id and the
/// tick count in milliseconds.
using TimerProc = void(NXUTIL_CALLBACK*)(HWND window, unsigned msg, std::uintptr_t id,
                                         unsigned long time);

constexpr unsigned kMsgTimer = 0x0113;  ///< WM_TIMER
constexpr unsigned kMsgUser = 0x0400;   ///< WM_USER

/// A hidden message-only window of the system class "STATIC" on the calling thread, owned by
/// this library's module; null on failure.
HWND msgWindowCreate();
/// Whether `w` is a live window (IsWindow).
bool msgWindowIsValid(HWND w);
/// Destroys `w` (DestroyWindow); its queued messages are dropped.
bool msgWindowDestroy(HWND w);
/// Replaces the window procedure; returns the previous one (null on failure).
WindowProc msgWindowSetProc(HWND w, WindowProc proc);
/// The window's user-data word (GWLP_USERDATA); 0 for an invalid window.
std::intptr_t msgWindowUserData(HWND w);
void msgWindowSetUserData(HWND w, std::intptr_t data);
/// CallWindowProcW and DefWindowProcW.
std::intptr_t msgCallWindowProc(WindowProc proc, HWND w, unsigned msg, std::uintptr_t wp,
                                std::intptr_t lp);
std::intptr_t msgDefWindowProc(HWND w, unsigned msg, std::uintptr_t wp, std::intptr_t lp);
/// Queues a message for `w`'s thread (PostMessageW); false when `w` is not a live window.
bool msgPost(HWND w, unsigned msg, std::uintptr_t wp, std::intptr_t lp);

/// Starts a thread timer of the calling thread (SetTimer without a window); periods below
/// 10 ms are raised to 10 ms, as on Windows. Returns the id or 0.
unsigned threadTimerSet(unsigned elapseMs, TimerProc proc);
/// Kills a thread timer (KillTimer without a window); false when it does not exist.
bool threadTimerKill(unsigned id);

/// Dispatches every queued message and every due timer of the calling thread; returns how
/// many it dispatched.
int msgProcessPending();
/// Dispatches for `ms` milliseconds, sleeping while nothing is due; returns the count.
int msgRunFor(unsigned ms);

}  // namespace platform

#endif
