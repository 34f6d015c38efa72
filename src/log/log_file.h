// The logger's file object (internal): one open log file and the lock that keeps its lines
// whole and in time-stamp order.
#ifndef NXUTIL_LOG_LOG_FILE_H
#define NXUTIL_LOG_LOG_FILE_H

#include "memory/memory.h"
#include "platform/file.h"

#include <cstddef>
#include <string>

namespace nxlog {

/// Message and line buffers hold 4,092 units: at most 4,091 characters and a zero.
constexpr std::size_t kLogBufferUnits = 4092;
/// Above this size a log file is rotated when it is opened (exactly this size is kept).
constexpr long long kLogRotateBytes = 20971520;

class LogFile {
public:
    LogFile();
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    /// Opens (creating folders and rotating as needed); true when the file is open. Only a
    /// regular file is used: a folder, FIFO or device at the path fails the opening.
    bool open(const char16_t* path);
    /// Writes "<time stamp> <ms> [<pid>] <text>\r\n" as UTF-8 in one write. Returns the bytes
    /// written, 0 without an open file, -1 when the time could not be converted.
    long long writeLine(const char16_t* text, std::size_t units);
    /// Closes the file: the close status, or -1 when it was not open.
    int close();
    /// When the path no longer names the open file (another process rotated or deleted the
    /// log), opens the path afresh and writes there from now on; if that cannot be opened as a
    /// regular file, keeps the file it has. writeLine calls it once a second; true when it
    /// switched files.
    bool followPath();

private:
    bool rotate(const std::u16string& path);
    // Refreshes the cached UTF-8 time stamp for `seconds`; false when local time fails.
    bool stampFor(long long seconds);

    platform::FileHandle m_file;
    NxCriticalSection m_lock;
    // The path the file was opened with, and the second of the last check that it still names
    // the open file.
    std::u16string m_path;
    long long m_checkedSecond;
    // The time-stamp text changes once a second; it is rebuilt only then.
    long long m_stampSecond;
    std::string m_stamp;
    // The line being assembled; kept to reuse its capacity (used under m_lock only).
    std::string m_line;
};

/// The directory part of a path: everything before the last backslash, else before the last
/// slash, else empty. "C:\logs/app.log" => "C:"; "/var/log/app.log" => "/var/log".
std::u16string logDirectoryPart(const std::u16string& path);
/// The file-name part: everything after that separator. "/var/log/app.log" => "app.log".
std::u16string logFileNamePart(const std::u16string& path);

}  // namespace nxlog

#endif
