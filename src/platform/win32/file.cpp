// Folders, moves, deletes and free space on Win32. Opening, reading and writing files go
// through the system-call table (syscalls.cpp).
#include "platform/file.h"
#include "platform/error.h"
#include "platform/syscalls.h"
#include "platform/win32/win32_support.h"

#include <string>

namespace platform {

const char16_t kPathSeparator = u'\\';

bool setFileMode(FileHandle, unsigned) { return true; }

bool pathExists(const char16_t* path) {
    return GetFileAttributesW(win32::wide(path)) != INVALID_FILE_ATTRIBUTES;
}

bool isDirectory(const char16_t* path) {
    const DWORD attrs = GetFileAttributesW(win32::wide(path));
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool createDirectories(const char16_t* path) {
    if (sys().makeDirectory(path))
        return true;
    return lastError().code == ERROR_ALREADY_EXISTS && isDirectory(path);
}

bool moveFile(const char16_t* from, const char16_t* to) {
    if (!MoveFileExW(win32::wide(from), win32::wide(to), 0)) {
        setLastError(static_cast<int>(GetLastError()), "MoveFileExW");
        return false;
    }
    return true;
}

bool deleteFile(const char16_t* path) {
    if (!DeleteFileW(win32::wide(path))) {
        setLastError(static_cast<int>(GetLastError()), "DeleteFileW");
        return false;
    }
    return true;
}

long long volumeFreeBytes(const char16_t* path) {
    // The volume is named by its root: a drive letter, a colon and a backslash.
    std::u16string root = path ? path : u"";
    if (root.size() > 3)
        root.resize(3);
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(win32::wide(root.c_str()), &available, nullptr, nullptr)) {
        setLastError(static_cast<int>(GetLastError()), "GetDiskFreeSpaceExW");
        return -1;
    }
    return static_cast<long long>(available.QuadPart);
}

}  // namespace platform
