// pubfunc: the library's free utilities, gathered as static members of one data-less class.
//
// The members are defined in the folders of the subsystems they belong to; this header only
// declares them, in one section per subject:
//   - system information (sysinfo/): processor load, processor, memory, display adapter,
//     operating-system version and desktop composition.
//   - processes and windows (pubfunc/processes.cpp, pubfunc/windows.cpp): finding processes
//     and their windows, showing them, the message filter, the master-executable check.
#ifndef NXUTIL_PUBFUNC_H
#define NXUTIL_PUBFUNC_H

#include "nxutil_export.h"
#include "nxutil_types.h"

#include <string>
#include <utility>
#include <vector>

class NXUTIL_API pubfunc {
public:
    /// The module whose folder a path query starts from.
    enum moduleType {
        moduleExe = 0,   ///< the host executable
        moduleSelf = 1,  ///< this library's own file
    };

    // ---- system information (sysinfo/) -------------------------------------------------------

    /// Machine-wide processor time in percent from the counter-query library: GetCpuInfo_All().
    static int getCPUUsage();

    /// The first processor's speed in MHz, or 0 when unknown. Linux: the first "cpu MHz" of
    /// /proc/cpuinfo, rounded.
    static unsigned long GetCPUSpeed();

    /// The first processor's name as the system stores it (blanks kept), or empty.
    static std::u16string getCPUName();

    /// Total physical memory in MiB (bytes shifted right by 20).
    static int GetMemoryTotal();

    /// The first display adapter's name, or empty when there is none.
    static std::u16string GetDisplayAdapterName();

    /// Reads the version record that getOSVersion reports from; call it once, early.
    static void initPubfunc();

    /// The OS generation from the record initPubfunc read: 8 for version 6.2 and later, 7 for
    /// 6.1, 6 for 6.0, 0 for anything older and before initPubfunc. Linux reads as 6.1 (7).
    static int getOSVersion();

    /// Whether the major version (read afresh) is 6 or later; true when it cannot be read.
    static bool isAboveVista();

    /// Whether this is a 32-bit process on a 64-bit system (false for a 64-bit process).
    static bool is64BitWindows();

    /// Whether desktop composition is on; false before version 6 and where the composition
    /// library is missing (always on Linux).
    static bool IsCompositionEnabled();

    /// Switches desktop composition on or off; the platform's status code, or 1 when there is
    /// nothing to do (before version 6, no composition library, Linux).
    static long enableComposition(bool enable);

    // ---- processes and windows (pubfunc/processes.cpp, pubfunc/windows.cpp) -------------------
    // Results describe the system at the moment of the call: a process or window found may be
    // gone by the time it is used. Linux windows are X11 windows when DISPLAY is set (a window
    // counts for a process through its _NET_WM_PID); without a display there are none.

    /// Does nothing and returns false, whatever it is given.
    static bool injectDll(const std::u16string& processName, const std::u16string& dllPath);

    /// Whether a process with this id is in the process snapshot; false when no snapshot can
    /// be taken.
    static bool isProcessExist(unsigned long processId);

    /// The first visible top-level window of the process, from the top of the stacking order,
    /// or null. Logs one info line for the call and one per window of the process it looks at;
    /// `title` only appears in the first line.
    static HWND getProcessMainWnd(unsigned long processId, const std::u16string& title);

    /// Shows and raises every top-level window of the process, hidden ones included.
    static void showProcessMainWnd(unsigned long processId);

    /// The id of the first process in snapshot order whose executable file name equals
    /// `exeName` in any letter case (u"GRABSVR.EXE" finds "grabsvr.exe"; u"grabsvr" does not)
    /// and that has a visible top-level window, which goes to `wnd`; 0 when there is none,
    /// `wnd` then untouched. `title` is passed on to getProcessMainWnd for its log line.
    static unsigned long getProcessIDWnd(const std::u16string& exeName, HWND& wnd,
                                         const std::u16string& title);

    /// The top-level window that `wnd` belongs to, climbing only through visible parents: a
    /// top-level window gives itself, a child below a hidden parent gives the child; null for
    /// an invalid window.
    static HWND FindWindowTop(HWND wnd);

    /// Lets window message `message` reach this process from lower-integrity processes
    /// (`allow`) or stops it again; whether the platform accepted. Always false off Windows
    /// and where the filter function is missing.
    static bool changeUIPIMessageFilter(unsigned long message, bool allow);

    /// Whether the running executable's file name, in any letter case and from any folder, is
    /// one of "lumacast.exe", "lumacast_engine_tester.exe", "lumacast_engine_tester64.exe",
    /// "grabsvr64.exe", "grabsvr.exe", "qx.exe".
    static bool isMasterExe();

    /// Addition for tools: the process snapshot as (id, executable file name) pairs in
    /// snapshot order, appended to `processes`; false when no snapshot can be taken.
    static bool getProcessList(std::vector<std::pair<unsigned long, std::u16string>>& processes);

    /// Addition for tools: the title of a window (at most 259 units), or empty.
    static std::u16string getWindowTitle(HWND wnd);

private:
    friend struct PubfuncProcessTestAccess;

    /// Enables (nonzero `enable`) or disables the privilege `name` (u"SeDebugPrivilege") in
    /// the process token: 1 when the platform reported no error, else 0 (also when the
    /// privilege is not held). Linux: the debug privilege is the capability CAP_SYS_PTRACE.
    static int DebugPrivilege(char16_t* name, int enable);

public:
};

#endif
