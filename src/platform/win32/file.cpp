// Files and folders on Win32: CreateFileW handles, attribute queries, MoveFileExW, DeleteFileW
// and the shell's recursive folder creation.
#include "platform/file.h"
#include "platform/error.h"
#include "platform/win32/win32_support.h"

#include <shlobj.h>

#include <string>

namespace platform {

const char16_t kPathSeparator = u'\\';

namespace {

HANDLE toHandle(FileHandle f) { return reinterpret_cast<HANDLE>(f); }

}  // namespace

FileHandle fileOpen(const char16_t* path, FileAccess access) {
    DWORD desired = 0;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    DWORD disposition = OPEN_EXISTING;
    switch (access) {
    case FileAccess::Read:
        desired = GENERIC_READ;
        break;
    case FileAccess::Append:
        // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of the file.
        desired = GENERIC_READ | FILE_APPEND_DATA;
        disposition = OPEN_ALWAYS;
        break;
    case FileAccess::CreateTruncate:
        desired = GENERIC_READ | GENERIC_WRITE;
        disposition = CREATE_ALWAYS;
        break;
    case FileAccess::CreateKeepExclusive:
        desired = GENERIC_WRITE;
        share = 0;
        disposition = OPEN_ALWAYS;
        break;
    }
    HANDLE h = CreateFileW(win32::wide(path), desired, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        setLastError(static_cast<int>(GetLastError()), "CreateFileW");
        return kNoFile;
    }
    return reinterpret_cast<FileHandle>(h);
}

long long fileWrite(FileHandle file, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const std::size_t chunk = size - done > 0x40000000u ? 0x40000000u : size - done;
        DWORD written = 0;
        if (!WriteFile(toHandle(file), p + done, static_cast<DWORD>(chunk), &written, nullptr)) {
            setLastError(static_cast<int>(GetLastError()), "WriteFile");
            return -1;
        }
        if (written == 0)
            break;
        done += written;
    }
    return static_cast<long long>(done);
}

long long fileRead(FileHandle file, void* data, std::size_t size) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!ReadFile(toHandle(file), data, chunk, &got, nullptr)) {
        setLastError(static_cast<int>(GetLastError()), "ReadFile");
        return -1;
    }
    return static_cast<long long>(got);
}

bool fileSeek(FileHandle file, long long offset) {
    LARGE_INTEGER to;
    to.QuadPart = offset;
    if (!SetFilePointerEx(toHandle(file), to, nullptr, FILE_BEGIN)) {
        setLastError(static_cast<int>(GetLastError()), "SetFilePointerEx");
        return false;
    }
    return true;
}

long long fileSize(FileHandle file) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(toHandle(file), &size)) {
        setLastError(static_cast<int>(GetLastError()), "GetFileSizeEx");
        return -1;
    }
    return size.QuadPart;
}

void fileClose(FileHandle file) {
    if (file != kNoFile)
        CloseHandle(toHandle(file));
}

bool pathExists(const char16_t* path) {
    return GetFileAttributesW(win32::wide(path)) != INVALID_FILE_ATTRIBUTES;
}

bool isDirectory(const char16_t* path) {
    const DWORD attrs = GetFileAttributesW(win32::wide(path));
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool fileReadable(const char16_t* path) {
    const FileHandle f = fileOpen(path, FileAccess::Read);
    fileClose(f);
    return f != kNoFile;
}

bool createDirectories(const char16_t* path) {
    const int rc = SHCreateDirectoryExW(nullptr, win32::wide(path), nullptr);
    if (rc == ERROR_SUCCESS)
        return true;
    setLastError(rc, "SHCreateDirectoryExW");
    return rc == ERROR_ALREADY_EXISTS && isDirectory(path);
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
