// Folders, moves, deletes and free space on Win32. Opening, reading and writing files go
// through the system-call table (syscalls.cpp).
#include "platform/file.h"
#include "platform/error.h"
#include "platform/process.h"
#include "platform/syscalls.h"
#include "platform/win32/win32_support.h"

#include <string>

namespace platform {

const char16_t kPathSeparator = u'\\';

bool setFileMode(FileHandle, unsigned) { return true; }

void removeDeadTemporaries(const std::u16string& folder, const std::u16string& fileName) {
    const std::u16string pattern = folder + fileName + u".tmp*";
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW(win32::wide(pattern.c_str()), &found);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::u16string name(reinterpret_cast<const char16_t*>(found.cFileName));
        unsigned long pid = 0;
        // Folders and reparse points (links, junctions) are left alone.
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
            !temporaryWriter(name, fileName, &pid) || processAlive(pid))
            continue;
        DeleteFileW(win32::wide((folder + name).c_str()));
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

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

std::u16string temporaryFolder() {
    wchar_t buffer[MAX_PATH + 2];
    const DWORD n = GetTempPathW(MAX_PATH + 2, buffer);
    if (n == 0 || n > MAX_PATH + 1) {
        setLastError(static_cast<int>(n == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW), "GetTempPathW");
        return std::u16string();
    }
    std::u16string folder(reinterpret_cast<const char16_t*>(buffer), n);
    while (folder.size() > 3 && (folder.back() == u'\\' || folder.back() == u'/'))
        folder.pop_back();
    return folder;
}

bool createFolderExclusive(const char16_t* path, bool* clash) {
    if (clash)
        *clash = false;
    if (CreateDirectoryW(win32::wide(path), nullptr))
        return true;
    const DWORD code = GetLastError();
    if (clash)
        *clash = code == ERROR_ALREADY_EXISTS;
    setLastError(static_cast<int>(code), "CreateDirectoryW");
    return false;
}

bool moveFile(const char16_t* from, const char16_t* to) { return sys().move(from, to); }

bool sameFile(FileHandle file, const char16_t* path) {
    FileStatus open;
    if (!fileStatus(file, open) || open.index == 0)
        return false;
    // No access asked for: only the attributes, whatever the other openers share.
    HANDLE h = CreateFileW(win32::wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        setLastError(static_cast<int>(GetLastError()), "CreateFileW");
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(h, &info) != 0;
    if (!known)
        setLastError(static_cast<int>(GetLastError()), "GetFileInformationByHandle");
    CloseHandle(h);
    return known && open.volume == info.dwVolumeSerialNumber &&
           open.index == ((static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
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
