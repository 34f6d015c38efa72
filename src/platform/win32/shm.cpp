// Named shared memory on Windows: file mappings backed by the paging file. The system keeps the
// block while any handle or view of it exists, so nothing here counts holders.
#include "platform/shm.h"
#include "platform/utf8.h"
#include "platform/error.h"
#include "platform/syscalls.h"
#include "platform/win32/win32_support.h"

namespace platform {

namespace {

HANDLE toHandle(ShmObject* o) { return reinterpret_cast<HANDLE>(o); }

}  // namespace

ShmObject* shmCreate(const std::u16string& name, std::uint32_t size, bool* existed) {
    const FileHandle h = sys().openSharedMemory(toUtf8(name).c_str(), size);
    const DWORD err = GetLastError();
    if (h == kNoFile)
        return nullptr;
    if (existed)
        *existed = err == ERROR_ALREADY_EXISTS;
    return reinterpret_cast<ShmObject*>(h);
}

ShmObject* shmOpen(const std::u16string& name) {
    const FileHandle h = sys().openSharedMemory(toUtf8(name).c_str(), 0);
    return h == kNoFile ? nullptr : reinterpret_cast<ShmObject*>(h);
}

void* shmMap(ShmObject* object, std::uint32_t size) {
    return sys().mapShared(reinterpret_cast<FileHandle>(object), size);
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
