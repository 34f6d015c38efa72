// Named shared memory on Windows: file mappings backed by the paging file. The system keeps the
// block while any handle or view of it exists, so nothing here counts holders.
#include "platform/shm.h"
#include "platform/utf8.h"
#include "platform/error.h"
#include "platform/win32/win32_support.h"

namespace platform {

namespace {

ShmObject* toObject(HANDLE h) { return reinterpret_cast<ShmObject*>(h); }
HANDLE toHandle(ShmObject* o) { return reinterpret_cast<HANDLE>(o); }

}  // namespace

std::string shmSystemName(const std::u16string& name) { return toUtf8(name); }

ShmObject* shmCreate(const std::u16string& name, std::uint32_t size, bool* existed) {
    HANDLE h = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size,
                                  win32::wide(name.c_str()));
    const DWORD err = GetLastError();
    if (!h) {
        setLastError(static_cast<int>(err), "CreateFileMappingW");
        return nullptr;
    }
    if (existed)
        *existed = err == ERROR_ALREADY_EXISTS;
    return toObject(h);
}

ShmObject* shmOpen(const std::u16string& name) {
    HANDLE h = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, win32::wide(name.c_str()));
    if (!h) {
        setLastError(static_cast<int>(GetLastError()), "OpenFileMappingW");
        return nullptr;
    }
    return toObject(h);
}

void* shmMap(ShmObject* object, std::uint32_t size) {
    void* view = MapViewOfFile(toHandle(object), FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (!view)
        setLastError(static_cast<int>(GetLastError()), "MapViewOfFile");
    return view;
}

void shmUnmap(void* view) {
    if (view && !UnmapViewOfFile(view))
        setLastError(static_cast<int>(GetLastError()), "UnmapViewOfFile");
}

void shmClose(ShmObject* object) {
    if (object && !CloseHandle(toHandle(object)))
        setLastError(static_cast<int>(GetLastError()), "CloseHandle");
}

}  // namespace platform
