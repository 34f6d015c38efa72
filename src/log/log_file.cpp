// LogFile: opening with folder creation and rotation, and the writing of one line.
#include "log/log_file.h"

#include "platform/error.h"
#include "platform/process.h"
#include "platform/time.h"
#include "platform/utf8.h"
#include "format/format.h"

#include <climits>
#include <ctime>

namespace nxlog {

namespace {

// Time stamps are formatted into 50 units, as the line layout allows.
constexpr std::size_t kStampUnits = 50;

// Opens `path` if it is a regular file; a folder, FIFO or device is closed again and refused
// (the opens do not block, and lines written to a FIFO nobody reads would block the logging
// thread while it holds the log's lock). `size` receives the file's size.
platform::FileHandle openRegular(const std::u16string& path, long long& size) {
    const platform::FileHandle f = platform::fileOpen(path.c_str(), platform::FileAccess::Append);
    if (f == platform::kNoFile)
        return f;
    platform::FileStatus st;
    if (!platform::fileStatus(f, st) || !st.regular) {
        platform::fileClose(f);
        return platform::kNoFile;
    }
    size = st.size;
    return f;
}

// Appends the decimal digits of v.
void appendUnsigned(std::string& out, unsigned long v) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n > 0)
        out += digits[--n];
}

}  // namespace

std::u16string logDirectoryPart(const std::u16string& path) {
    std::size_t cut = path.rfind(u'\\');
    if (cut == std::u16string::npos)
        cut = path.rfind(u'/');
    return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut);
}

std::u16string logFileNamePart(const std::u16string& path) {
    std::size_t cut = path.rfind(u'\\');
    if (cut == std::u16string::npos)
        cut = path.rfind(u'/');
    return cut == std::u16string::npos ? path : path.substr(cut + 1);
}

LogFile::LogFile()
    : m_file(platform::kNoFile), m_checkedSecond(LLONG_MIN), m_stampSecond(LLONG_MIN) {}

LogFile::~LogFile() = default;

bool LogFile::open(const char16_t* path) {
    NxCSLocker guard(&m_lock);
    if (m_file != platform::kNoFile)
        return true;
    const std::u16string p = path ? path : u"";
    const std::u16string dir = logDirectoryPart(p);
    if (!platform::isDirectory(dir.c_str()) && !platform::createDirectories(dir.c_str()))
        return false;
    long long size = 0;
    m_file = openRegular(p, size);
    if (m_file == platform::kNoFile)
        return false;
    m_path = p;
    m_checkedSecond = platform::wallTimeNow().seconds;
    if (size > kLogRotateBytes)
        rotate(p);
    return m_file != platform::kNoFile;
}

bool LogFile::rotate(const std::u16string& path) {
    platform::fileClose(m_file);
    m_file = platform::kNoFile;

    const std::u16string dir = logDirectoryPart(path);
    const std::u16string name = logFileNamePart(path);
    if (!platform::isDirectory(dir.c_str()) && !platform::createDirectories(dir.c_str()))
        return false;
    if (name.empty())
        return false;
    const std::u16string first = dir + platform::kPathSeparator + name + u".bk";
    const std::u16string second = first + u".bk";

    // Failures of the backup generations' moves and deletes are ignored.
    if (platform::fileReadable(first.c_str())) {
        if (platform::fileReadable(second.c_str()))
            platform::deleteFile(second.c_str());
        platform::moveFile(first.c_str(), second.c_str());
        platform::deleteFile(first.c_str());
    }
    // When the log cannot become the backup (a read-only folder, say), it is kept and appended
    // to: it stays above the limit until an opening can move it, but nothing is lost. After a
    // move the path is free and the append open starts the fresh, empty log.
    platform::moveFile(path.c_str(), first.c_str());
    long long size = 0;
    m_file = openRegular(path, size);
    return m_file != platform::kNoFile;
}

bool LogFile::followPath() {
    NxCSLocker guard(&m_lock);
    if (m_file == platform::kNoFile || platform::sameFile(m_file, m_path.c_str()))
        return false;
    long long size = 0;
    const platform::FileHandle f = openRegular(m_path, size);
    if (f == platform::kNoFile)
        return false;
    platform::fileClose(m_file);
    m_file = f;
    return true;
}

bool LogFile::stampFor(long long seconds) {
    std::tm tm;
    if (!platform::toLocalTime(seconds, &tm))
        return false;
    char16_t stamp[kStampUnits];
    const std::size_t n = platform::formatLocalTime(stamp, kStampUnits, "%a %b %d %H:%M:%S %Y:", tm);
    m_stamp.clear();
    platform::appendUtf8(m_stamp, stamp, n);
    m_stampSecond = seconds;
    return true;
}

long long LogFile::writeLine(const char16_t* text, std::size_t units) {
    NxCSLocker guard(&m_lock);
    if (m_file == platform::kNoFile)
        return 0;

    const platform::WallTime now = platform::wallTimeNow();
    // Other processes may have rotated or deleted the log: once a second, make sure the path
    // still names the open file.
    if (now.seconds != m_checkedSecond) {
        m_checkedSecond = now.seconds;
        followPath();
    }
    if (now.seconds != m_stampSecond && !stampFor(now.seconds)) {
        char16_t failure[80];
        const std::size_t n = nxFormat(failure, 80, u"log failed for get loacl time error :%d",
                                       platform::lastError().code);
        m_line.clear();
        platform::appendUtf8(m_line, failure, n);
        platform::fileWrite(m_file, m_line.data(), m_line.size());
        return -1;
    }

    // " <ms> [<pid>] <text>\r\n", cut after kLogBufferUnits - 1 units like the message.
    m_line.assign(m_stamp);
    const std::size_t headStart = m_line.size();
    m_line += ' ';
    appendUnsigned(m_line, static_cast<unsigned long>(now.milliseconds));
    m_line += " [";
    appendUnsigned(m_line, platform::currentProcessId());
    m_line += "] ";
    const std::size_t headUnits = m_line.size() - headStart;  // ASCII: one unit per byte
    std::size_t budget = kLogBufferUnits - 1 - headUnits;
    const std::size_t take = units < budget ? units : budget;
    platform::appendUtf8(m_line, text, take);
    budget -= take;
    if (budget >= 2)
        m_line += "\r\n";
    else if (budget == 1)
        m_line += '\r';

    return platform::fileWrite(m_file, m_line.data(), m_line.size());
}

int LogFile::close() {
    NxCSLocker guard(&m_lock);
    if (m_file == platform::kNoFile)
        return -1;
    platform::fileClose(m_file);
    m_file = platform::kNoFile;
    return 0;
}

}  // namespace nxlog
