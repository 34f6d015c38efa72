// Private-profile files on POSIX: the shared INI engine over whole-file reads and atomic,
// lock-serialised replacement.
#include "platform/profile.h"
#include "platform/error.h"
#include "platform/ini.h"
#include "platform/posix/posix_support.h"
#include "platform/utf8.h"

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>

namespace platform {

namespace {

// The whole file; false when it cannot be opened (a missing file is `missing`, not an error).
bool readAll(const std::string& path, std::string* out, bool* missing) {
    out->clear();
    *missing = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *missing = errno == ENOENT;
        setLastError(errno, "open");
        return false;
    }
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            setLastError(errno, "read");
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        out->append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            setLastError(errno, "write");
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::size_t copyOut(const std::u16string& value, char16_t* out, std::size_t capacity) {
    if (!out || capacity == 0)
        return 0;
    const std::size_t n = value.size() < capacity - 1 ? value.size() : capacity - 1;
    value.copy(out, n);
    out[n] = 0;
    return n;
}

}  // namespace

std::size_t profileGetString(const char16_t* file, const char16_t* section, const char16_t* key,
                             const char16_t* defaultValue, char16_t* out, std::size_t capacity) {
    std::string text;
    bool missing = false;
    std::u16string value;
    if (section && key && readAll(toUtf8(file), &text, &missing) &&
        ini::lookup(text, section, key, &value))
        return copyOut(value, out, capacity);
    std::u16string def = defaultValue ? defaultValue : u"";
    while (!def.empty() && def.back() == u' ')
        def.pop_back();
    return copyOut(def, out, capacity);
}

bool profileWriteString(const char16_t* file, const char16_t* section, const char16_t* key,
                        const char16_t* value) {
    const std::string path = toUtf8(file);
    if (path.empty() || !section || !key) {
        setLastError(EINVAL, "profileWriteString");
        return false;
    }
    // Writers take turns on a lock file beside the INI file; readers need no lock because the
    // file is only ever replaced whole.
    const std::string lockPath = path + ".lock";
    const int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lockFd < 0) {
        setLastError(errno, "open");
        return false;
    }
    int rc;
    do {
        rc = ::flock(lockFd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);

    bool ok = false;
    std::string text;
    bool missing = false;
    if (readAll(path, &text, &missing) || missing) {
        const std::string updated = ini::update(text, section, key, value ? value : u"");
        const std::string tmp = path + ".tmp" + std::to_string(::getpid());
        const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) {
            setLastError(errno, "open");
        } else {
            struct stat st;
            if (!missing && ::stat(path.c_str(), &st) == 0)
                ::fchmod(fd, st.st_mode & 07777);
            ok = writeAll(fd, updated) && ::fsync(fd) == 0;
            ::close(fd);
            if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
                setLastError(errno, "rename");
                ok = false;
            }
            if (!ok)
                ::unlink(tmp.c_str());
        }
    }
    ::flock(lockFd, LOCK_UN);
    ::close(lockFd);
    return ok;
}

}  // namespace platform
