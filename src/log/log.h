// Logging: the process-wide file logger.
//
// The host opens the log once with InitLog; from then on any thread writes printf-style
// messages at four levels. Each message becomes one line, stamped with local time, milliseconds
// and the process id, converted to UTF-8 and handed to the file at once:
//
//     Fri Dec 04 08:30:19 2026: 7 [4120] :warning disk nearly full<CR><LF>
//
// A log file that has grown past 20 MiB is moved to "<name>.bk" (and an older "<name>.bk" to
// "<name>.bk.bk") when it is opened; two generations of backups exist at most.
#ifndef NXUTIL_LOG_H
#define NXUTIL_LOG_H

#include "nxutil_export.h"

#include <cstdarg>
#include <string>

namespace nxlog {
class LogFile;
}

namespace TRK {

/// A file logger; TRKLogger::Instance() is the process-wide one that the library itself uses.
///
/// Patterns are UTF-16 with the Windows wide-printf conventions on every platform: "%s" takes
/// a const char16_t*, "%S" a narrow string, "%I64d" a 64-bit integer.
class NXUTIL_API TRKLogger {
public:
    /// No log file, install-hook flag false.
    constexpr TRKLogger() noexcept : _logFile(nullptr), _installHook(false) {}
    /// Closes the log file if one is open.
    ~TRKLogger();
    TRKLogger(const TRKLogger&) = delete;
    TRKLogger& operator=(const TRKLogger&) = delete;

    /// The process-wide logger; never null, creates nothing. Its file is closed when the
    /// library is unloaded or the process ends.
    static TRKLogger* Instance();

    /// Opens the log at `path` and returns true when it is open. Missing folders of the
    /// directory part (before the last backslash, else the last slash) are created with their
    /// parents; a path without either has no directory part and fails. A file above
    /// 20,971,520 bytes is rotated first. A logger that already has a file returns false and
    /// keeps writing to that file.
    bool InitLog(const char16_t* path);
    bool InitLog(const std::u16string& path);

    /// Formats the message (cut after 4,091 units) and writes one line with the marker
    /// ":info ", ":warning ", ":error " or ":fatal ". Without an open file they do nothing.
    void LogInfo(const char16_t* pattern, ...);
    void LogWaring(const char16_t* pattern, ...);
    void LogError(const char16_t* pattern, ...);
    void LogFatal(const char16_t* pattern, ...);
    /// Discards the message: neither formats nor writes.
    void LogDebug(const char16_t* pattern, ...);

    /// A process-wide flag for host modules; the logger itself never reads it.
    void SetInstallHook(bool installed) { _installHook = installed; }
    bool isInstallHook() { return _installHook; }

private:
    /// The marker of a level: 0 ":info ", 1 ":warning ", 2 ":error ", 3 ":fatal ",
    /// 4 ":debug ", anything else ":info ".
    std::u16string __GetLogLevel(int level);
    void __Log(const char16_t* pattern, va_list args, int level);
    void _closeLog();

    nxlog::LogFile* _logFile;
    bool _installHook;
};

}  // namespace TRK

#endif
