// Files and folders on POSIX: descriptors opened with O_CLOEXEC, paths converted to UTF-8.
#include "platform/file.h"
#include "platform/error.h"
#include "platform/posix/posix_support.h"
#include "platform/utf8.h"

#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace platform {

const char16_t kPathSeparator = u'/';

namespace {

bool statPath(const std::string& path, struct stat* st) {
    return !path.empty() && ::stat(path.c_str(), st) == 0;
}

}  // namespace

FileHandle fileOpen(const char16_t* path, FileAccess access) {
    const std::string p = toUtf8(path);
    int flags = O_CLOEXEC;
    switch (access) {
    case FileAccess::Read: flags |= O_RDONLY; break;
    case FileAccess::Append: flags |= O_RDWR | O_CREAT | O_APPEND; break;
    case FileAccess::CreateTruncate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case FileAccess::CreateKeepExclusive: flags |= O_WRONLY | O_CREAT; break;
    }
    int fd;
    do {
        fd = p.empty() ? -1 : ::open(p.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        setLastError(p.empty() ? ENOENT : errno, "open");
        return kNoFile;
    }
    if (access == FileAccess::CreateKeepExclusive && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Another opener holds it: the exclusive open fails, as a sharing violation would.
        setLastError(errno, "flock");
        ::close(fd);
        return kNoFile;
    }
    return fd;
}

long long fileWrite(FileHandle file, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(static_cast<int>(file), p + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            setLastError(errno, "write");
            return -1;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(done);
}

long long fileRead(FileHandle file, void* data, std::size_t size) {
    ssize_t n;
    do {
        n = ::read(static_cast<int>(file), data, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        setLastError(errno, "read");
    return n;
}

bool fileSeek(FileHandle file, long long offset) {
    if (::lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) < 0) {
        setLastError(errno, "lseek");
        return false;
    }
    return true;
}

long long fileSize(FileHandle file) {
    struct stat st;
    if (::fstat(static_cast<int>(file), &st) != 0) {
        setLastError(errno, "fstat");
        return -1;
    }
    return static_cast<long long>(st.st_size);
}

void fileClose(FileHandle file) {
    if (file != kNoFile)
        ::close(static_cast<int>(file));
}

bool pathExists(const char16_t* path) {
    struct stat st;
    return statPath(toUtf8(path), &st);
}

bool isDirectory(const char16_t* path) {
    struct stat st;
    return statPath(toUtf8(path), &st) && S_ISDIR(st.st_mode);
}

bool fileReadable(const char16_t* path) {
    const FileHandle f = fileOpen(path, FileAccess::Read);
    fileClose(f);
    return f != kNoFile;
}

bool createDirectories(const char16_t* path) {
    std::string p = toUtf8(path);
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    if (p.empty()) {
        setLastError(ENOENT, "mkdir");
        return false;
    }
    // Create each missing level from the top down; a level made meanwhile by someone else is
    // fine, a level that exists as a file is not.
    for (std::size_t pos = 1;; ++pos) {
        pos = p.find('/', pos);
        const std::string level = p.substr(0, pos);
        if (::mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) {
            setLastError(errno, "mkdir");
            return false;
        }
        if (pos == std::string::npos)
            break;
    }
    struct stat st;
    if (!statPath(p, &st) || !S_ISDIR(st.st_mode)) {
        setLastError(ENOTDIR, "mkdir");
        return false;
    }
    return true;
}

bool moveFile(const char16_t* from, const char16_t* to) {
    const std::string f = toUtf8(from);
    const std::string t = toUtf8(to);
    // link + unlink refuses an existing target atomically, unlike rename.
    if (::link(f.c_str(), t.c_str()) == 0) {
        ::unlink(f.c_str());
        return true;
    }
    const int err = errno;
    if (err == EEXIST) {
        setLastError(err, "link");
        return false;
    }
    // File systems without hard links: check, then rename.
    struct stat st;
    if (::lstat(t.c_str(), &st) == 0) {
        setLastError(EEXIST, "rename");
        return false;
    }
    if (::rename(f.c_str(), t.c_str()) != 0) {
        setLastError(errno, "rename");
        return false;
    }
    return true;
}

bool deleteFile(const char16_t* path) {
    const std::string p = toUtf8(path);
    if (p.empty() || ::unlink(p.c_str()) != 0) {
        setLastError(p.empty() ? ENOENT : errno, "unlink");
        return false;
    }
    return true;
}

long long volumeFreeBytes(const char16_t* path) {
    const std::string p = toUtf8(path);
    struct statvfs vs;
    if (p.empty() || ::statvfs(p.c_str(), &vs) != 0) {
        setLastError(p.empty() ? ENOENT : errno, "statvfs");
        return -1;
    }
    return static_cast<long long>(vs.f_bavail) * static_cast<long long>(vs.f_frsize);
}

}  // namespace platform
