// pubfunc: the library's free utilities, gathered as static members of one data-less class.
//
// The members are defined in the folders of the subsystems they belong to; this header only
// declares them, in one section per subject:
//   - system information (sysinfo/): processor load, processor, memory, display adapter,
//     operating-system version and desktop composition.
//   - processes and windows (pubfunc/processes.cpp, pubfunc/windows.cpp): finding processes
//     and their windows, showing them, the message filter, the master-executable check.
//   - paths, command line and user configuration (pubfunc/paths.cpp, pubfunc/files.cpp).
//   - frame-rate counters (pubfunc/fps.cpp), string utilities (pubfunc/strings.cpp) and key
//     names (pubfunc/keys.cpp, with CKeyExchange below).
#ifndef NXUTIL_PUBFUNC_H
#define NXUTIL_PUBFUNC_H

#include "nxutil_export.h"
#include "nxutil_types.h"

#include <cstddef>
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
    // ---- paths, command line and user configuration (pubfunc/paths.cpp, files.cpp) ----------
    // Built paths use the platform's separator (a backslash on Windows, a slash elsewhere) and
    // never end in one. On POSIX the application-data folder A is $XDG_CONFIG_HOME (else
    // ~/.config) and the documents folder D the XDG documents folder (else ~/Documents).

    /// The executable's file name with its extension ("grabsvr.exe"; Linux "grabsvr").
    static std::u16string getExeName();
    /// The same without the part from its last dot on ("a.b.exe" => "a.b"; no dot: all of it).
    static std::u16string getExeNameWithoutExt();
    /// The folder of the executable (moduleExe, or any value but moduleSelf) or of this
    /// library's own file (moduleSelf), without a trailing separator.
    static std::u16string getExePath(moduleType type);
    /// The product folder A\talven\qx; A is created when missing. A failed folder query
    /// gives the relative "\talven\qx".
    static std::u16string getNxAppDataPath();
    /// The client folder <product>\business\lumacast, created with its parents.
    static std::u16string getUserConfigSavePath();
    /// <client folder>\user.ini (the folder is created, the file is not).
    static std::u16string getUserConfigSavePathFile();
    /// The value of `key` in `section` of user.ini, cut to 1023 units; the default (cut the
    /// same way) when the file, section or key is missing. Names compare case-insensitively.
    static std::u16string getUserConfigString(const std::u16string& section,
                                              const std::u16string& key,
                                              const std::u16string& defaultValue);
    /// Stores `value` (possibly empty) under `key` in `section` of user.ini, creating the file
    /// and the section as needed. Failures are not reported.
    static void setUserConfigString(const std::u16string& section, const std::u16string& key,
                                    const std::u16string& value);
    /// <client folder>\kobaingame.cfg (the folder is created, the file is not).
    static std::u16string getUIConfigureFileName();
    /// <client folder>\main.ini (the folder is created, the file is not).
    static std::u16string getMainConfigureFileName();
    /// <client folder>\cache, created with its parents.
    static std::u16string getCacheDirPath();
    /// The log file path <product>\log\grab_engine\<name>.log; the folder is created.
    static std::u16string getLogFileDir(const std::u16string& name);
    /// D\My QX\Game Record, created; `folder` is left unchanged when D is unknown.
    static void getDefaultVideoRecordSaveFolder(std::u16string& folder);
    /// The text between `-qxpt "` and the next double quote (to the end when there is none);
    /// empty when the switch is missing. Case-sensitive, first occurrence.
    static std::u16string getQXPathFromCmdLine(std::u16string commandLine);
    /// As getQXPathFromCmdLine for the switch `-engine "`.
    static std::u16string getGrabEnginePathFromCmdLine(std::u16string commandLine);
    /// Whether the path names an existing file or folder.
    static bool isFileExist(const std::u16string& path);
    /// Bytes available to the caller on the volume of `path`, or 0. Windows uses the first
    /// three characters ("C:\"); POSIX the path itself, which must exist.
    static long long getDiskFreeSpace(const std::u16string& path);
    /// Reads the whole file into `bytes` (resized to the file's size); false when it cannot
    /// be opened. An empty file gives true and leaves `bytes` as it was. A folder, FIFO or
    /// device counts as a file that cannot be opened, as do a read error and a file larger
    /// than the memory available for it; `bytes` then stays as it was.
    static bool loadBinaryFile(const std::u16string& path, std::vector<char>& bytes);
    /// Writes a 54-byte bitmap header (height stored negated: top row first) and `size` pixel
    /// bytes, unchanged, from offset 0 of `fileName` without truncating a longer file; false
    /// when the file cannot be opened or created. The file is replaced as a whole (headers,
    /// pixels and the old tail): when writing fails the result is false and the old file is
    /// left as it was.
    static bool saveAsBMP(const void* data, unsigned int size, int width, int height,
                          int bitCount, const char16_t* fileName);
    /// Addition for tools: replaces the whole file `path` with `size` bytes, so that it holds
    /// either its old contents or the complete new ones whatever fails (null `data` writes an
    /// empty file). False when it cannot be written (lastFileError says why): a folder, FIFO or
    /// device, a file this process may not write, a full disk.
    static bool saveBinaryFile(const std::u16string& path, const void* data, std::size_t size);
    /// Addition for tools: creates a new folder "<temporary folder>/<prefix>XXXXXX" (a random
    /// suffix) that did not exist before, open to its owner only (POSIX mode 0700), and returns
    /// its path; never an existing folder or a link planted under that name. The temporary
    /// folder is $TMPDIR, else /tmp (Windows: the user's temporary folder). Empty when it
    /// cannot be created (lastFileError says why).
    static std::u16string createPrivateFolder(const std::u16string& prefix);
    /// Addition for tools: why the calling thread's last failed loadBinaryFile, saveBinaryFile,
    /// saveAsBMP or createPrivateFolder failed, as the system words it ("write: No space left
    /// on device", "not a regular file"); empty when none has failed on this thread.
    static std::u16string lastFileError();

    // ---- frame-rate counters (pubfunc/fps.cpp) ------------------------------------------------
    // Each counts frames of one pipeline stage and, at the first call after more than its
    // interval (60 s for send and capture, 8 s for the encoder stages), logs
    // "pubfunc::_updatePublishFPS  <name> AVG_FPS : <avg> FPS : <frames>" at info level through
    // the process-wide logger. One thread per stage; the first call only starts the interval.

    static void updatePublishSendFPS(const std::u16string& name);
    static void updatePublishCaptureFPS(const std::u16string& name);
    static void updateBeforeEncodeFPS(const std::u16string& name);
    static void updateAfterEncodeFPS(const std::u16string& name);

    // ---- string utilities (pubfunc/strings.cpp) ---------------------------------------------

    /// Narrow text in `codePage` (65001 UTF-8; 0 the ANSI page, UTF-8 on POSIX) to UTF-16.
    /// `length` in bytes, -1 for zero-terminated. Null or a length below -1 give empty text;
    /// a counted input keeps its zero bytes ("abc" with length 4 => u"abc\0").
    static std::u16string toWideString(const char* text, int length, unsigned int codePage);
    /// UTF-16 to narrow text in `codePage`, with the same conventions.
    static std::string toNarrowString(const char16_t* text, int length, unsigned int codePage);
    /// Percent-encodes every byte but ASCII letters, digits and ".", upper-case hexadecimal;
    /// stops at the first zero byte. "a b.c" => "a%20b.c".
    static std::string URLEncode2(const std::string& text);
    /// The UTF-8 form of the text, percent-encoded. u"\u00FC" => "%C3%BC".
    static std::string URLEncode2(const std::u16string& text);
    /// Two lower-case hexadecimal digits per byte; empty for a count of 0 or below.
    static std::string getHashString(const char* bytes, int count);
    /// A number in [low, high] from the runtime's generator, reseeded with the current second
    /// on every call; low == high gives low, low > high gives high.
    static unsigned int GetRandomNum(unsigned int low, unsigned int high);
    /// Appends the pieces of `text` between occurrences of `separator` (empty pieces kept);
    /// an empty separator appends the whole text as one piece.
    static void splitString(const std::u16string& text, const std::u16string& separator,
                            std::vector<std::u16string>& pieces);
    /// Case mapping unit by unit with the runtime's towlower / towupper.
    static void ToLower(std::u16string& text);
    static void ToUpper(std::u16string& text);

    // ---- key names (pubfunc/keys.cpp) -------------------------------------------------------

    /// A hotkey value (virtual key in bits 0-15; Shift bit 16, Ctrl 17, Alt 18) as text:
    /// "Ctrl+Shift+F5"; Space is no key; Backspace or Delete, or nothing at all, give "\u65E0".
    static std::u16string changeHotkeyValueToString(unsigned int value);

private:
    static void _updatePublishFPS(unsigned int& frames, unsigned int& startTick,
                                  const std::u16string& name, int interval);
};

/// Names and DirectInput codes of keyboard keys, from one fixed table of 107 keys.
class NXUTIL_API CKeyExchange {
public:
    /// The table name of the virtual key (0x21 => "Prior"); `name` unchanged when it has none.
    static void VKKeyToString_S(int vk, std::u16string& name);
    /// The DirectInput code of the virtual key (0x10 => 0x2A); false, `dik` unchanged, when the
    /// table has no such key.
    static bool VK2DIK(int vk, int& dik);
    /// Up to three keys (0 for none) joined by " + ": (0x11, 0x12, 0x41) => "Ctrl + Alt + A".
    /// A key without a name still contributes its separator.
    static void GetKeysCombineDesc(int first, int second, int third, std::u16string& text);

private:
    CKeyExchange() = default;
};

#endif
