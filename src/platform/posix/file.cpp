// Folders, moves, deletes and free space on POSIX; paths reach the kernel as UTF-8. Opening,
// reading and writing files go through the system-call table (syscalls.cpp).
#include "platform/file.h"
#include "platform/error.h"
#include "platform/posix/posix_support.h"
#include "platform/process.h"
#include "platform/syscalls.h"
#include "platform/utf8.h"

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
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

void removeDeadTemporaries(const std::u16string& folder, const std::u16string& fileName) {
    const std::string dirPath = folder.empty() ? std::string(".") : toUtf8(folder);
    const int dirFd = ::open(dirPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    const uid_t me = ::geteuid();
    while (const struct dirent* e = ::readdir(dir)) {
        unsigned long pid = 0;
        if (!temporaryWriter(fromUtf8(e->d_name), fileName, &pid) || processAlive(pid))
            continue;
        // The entry itself, never what a link points to; unlinkat removes a name, so a swap
        // after this check could only remove a link, not its target.
        struct stat st;
        if (::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == me)
            ::unlinkat(dirFd, e->d_name, 0);
    }
    ::closedir(dir);
}

bool setFileMode(FileHandle file, unsigned mode) {
    if (::fchmod(static_cast<int>(file), static_cast<mode_t>(mode)) != 0) {
        setLastError(errno, "fchmod");
        return false;
    }
    return true;
}

bool pathExists(const char16_t* path) {
    struct stat st;
    return statPath(toUtf8(path), &st);
}

bool isDirectory(const char16_t* path) {
    struct stat st;
    return statPath(toUtf8(path), &st) && S_ISDIR(st.st_mode);
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
        if (!sys().makeDirectory(fromUtf8(level).c_str()) && lastError().code != EEXIST)
            return false;
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

std::u16string temporaryFolder() {
    const char* env = std::getenv("TMPDIR");
    std::string folder = env && *env ? env : "/tmp";
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return fromUtf8(folder);
}

bool createFolderExclusive(const char16_t* path, bool* clash) {
    if (clash)
        *clash = false;
    const std::string p = toUtf8(path);
    // mkdir never follows a link at the last component and fails on any existing name.
    if (p.empty() || ::mkdir(p.c_str(), 0700) != 0) {
        const int code = p.empty() ? ENOENT : errno;
        if (clash)
            *clash = code == EEXIST;
        setLastError(code, "mkdir");
        return false;
    }
    return true;
}

bool moveFile(const char16_t* from, const char16_t* to) {
    // link + unlink refuses an existing target atomically, unlike rename.
    if (sys().move(from, to))
        return true;
    if (lastError().code == EEXIST)
        return false;
    // File systems without hard links: check, then rename.
    struct stat st;
    if (::lstat(toUtf8(to).c_str(), &st) == 0) {
        setLastError(EEXIST, "rename");
        return false;
    }
    return sys().rename(from, to);
}

bool sameFile(FileHandle file, const char16_t* path) {
    FileStatus open;
    if (!fileStatus(file, open))
        return false;
    struct stat st;
    if (!statPath(toUtf8(path), &st)) {
        setLastError(errno, "stat");
        return false;
    }
    return open.volume == static_cast<std::uint64_t>(st.st_dev) &&
           open.index == static_cast<std::uint64_t>(st.st_ino);
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
