// Top-level windows of the desktop and the few things the library asks of them: the owning
// process, visibility, title, parent and style, and showing and raising them.
//
// Win32 calls the window manager directly. The POSIX backend speaks X11 when DISPLAY is set,
// through libX11.so.6 loaded at run time (the library never links it): top-level windows are
// the children of the root window in stacking order, from the top, each replaced by the client
// window it frames when a reparenting window manager runs; the owner is the window's
// _NET_WM_PID; visibility is the map state; the title is _NET_WM_NAME, else WM_NAME. Without
// libX11, without DISPLAY or without a reachable server there are no windows: every query
// answers 0, false or empty. One connection per process is kept, opened on first use, opened
// again when DISPLAY changes or the server went away, and dropped in a forked child.
#ifndef NXUTIL_PLATFORM_WINDOW_H
#define NXUTIL_PLATFORM_WINDOW_H

#include <cstdint>
#include <string>

namespace platform {

/// A window: an HWND on Windows, an X11 window id elsewhere; 0 is no window.
using WindowId = std::uintptr_t;

/// Style bits of windowStyle, with their Win32 values.
constexpr unsigned long kWindowStyleChild = 0x40000000UL;    ///< WS_CHILD
constexpr unsigned long kWindowStyleVisible = 0x10000000UL;  ///< WS_VISIBLE

/// The top-level window at the top of the stacking order (GetTopWindow(NULL)), or 0. Reads
/// the whole order for the calling thread's walk.
WindowId windowTop();
/// The top-level window below `w` in stacking order, or 0 at the bottom. Both backends answer
/// from the list that the calling thread's last windowTop read (EnumWindows on Win32), so a
/// walk sees the order of its start even while it raises windows; Win32 asks
/// GetWindow(w, GW_HWNDNEXT) for a window not in that list, X11 answers 0.
WindowId windowNext(WindowId w);

/// Whether `w` names an existing window (IsWindow).
bool windowIsValid(WindowId w);
/// The id of the process that owns `w` (GetWindowThreadProcessId); false when it cannot be
/// read (an invalid window; on X11 also a window without _NET_WM_PID).
bool windowProcessId(WindowId w, unsigned long* processId);
/// Whether `w` and all its ancestors are shown (IsWindowVisible; X11: map state viewable).
bool windowIsVisible(WindowId w);
/// The title of `w`, at most `maxUnits` UTF-16 units (GetWindowTextW); empty when it has none.
std::u16string windowText(WindowId w, int maxUnits);
/// The parent of a child window (GetParent), or 0 for a top-level window or an invalid one.
WindowId windowParent(WindowId w);
/// The style bits of `w` (GetWindowLongW with GWL_STYLE); X11 supplies kWindowStyleChild for
/// a window below another window (not a top-level one) and kWindowStyleVisible for a mapped
/// one. 0 for an invalid window.
unsigned long windowStyle(WindowId w);

/// Shows `w` (ShowWindow with SW_SHOW; X11: maps it).
void windowShow(WindowId w);
/// Raises `w` to the top of its siblings (BringWindowToTop; X11: raises it and asks the window
/// manager to activate it).
void windowBringToTop(WindowId w);

/// Lets (`allow`) or stops window message `message` from reaching this process from
/// lower-integrity ones: ChangeWindowMessageFilter, looked up in user32.dll at each call, with
/// action 1 (add) or 2 (remove). False when the function is missing or fails, and always on
/// POSIX, which has no such filter.
bool windowMessageFilter(unsigned int message, bool allow);

}  // namespace platform

#endif
