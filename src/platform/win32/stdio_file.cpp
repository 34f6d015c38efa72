// C streams and read-only file mappings on Win32: _wfopen and CreateFileW take the UTF-16 path
// as it is.
#include "platform/error.h"
#include "platform/file.h"
#include "platform/win32/win32_support.h"

#include <cerrno>
#include <cstdio>
#include <string>

namespace platform {

std::FILE* openFile(const char16_t* path, const char* mode) {
    if (!path || !*path) {
        errno = ENOENT;
        setLastError(ENOENT, "_wfopen");
        return nullptr;
    }
    std::wstring wmode;
    for (const char* m = mode; *m; ++m)
        wmode += static_cast<wchar_t>(*m);
    std::FILE* f = _wfopen(win32::wide(path), wmode.c_str());
    if (!f)
        setLastError(errno, "_wfopen");
    return f;
}

bool mapFileRead(const char16_t* path, FileView& view) {
    view = FileView();
    if (!path || !*path) {
        setLastError(ERROR_FILE_NOT_FOUND, "CreateFileW");
        return false;
    }
    win32::Handle file(CreateFileW(win32::wide(path), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        setLastError(static_cast<int>(GetLastError()), "CreateFileW");
        return false;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
        static_cast<unsigned long long>(size.QuadPart) > static_cast<SIZE_T>(-1)) {
        setLastError(static_cast<int>(GetLastError()), "GetFileSizeEx");
        return false;
    }
    // The view keeps the mapping object and the file alive after both handles are closed.
    win32::Handle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping.valid()) {
        setLastError(static_cast<int>(GetLastError()), "CreateFileMappingW");
        return false;
    }
    const void* data = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
    if (!data) {
        setLastError(static_cast<int>(GetLastError()), "MapViewOfFile");
        return false;
    }
    view.data = static_cast<const char*>(data);
    view.size = static_cast<long long>(size.QuadPart);
    return true;
}

void unmapFile(FileView& view) {
    if (view.data)
        UnmapViewOfFile(view.data);
    view = FileView();
}

}  // namespace platform
