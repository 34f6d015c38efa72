// The Win32 entries of the system-call table: one API call each, GetLastError left in
// lastError. Paths are passed to the wide API as they are. The clock and machine-fact entries
// are this backend's functions of clock.cpp, time.cpp, perf.cpp and sysinfo.cpp.
#include "platform/syscalls.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/perf.h"
#include "platform/time.h"
#include "platform/utf8.h"
#include "platform/win32/win32_support.h"

#include <mmsystem.h>
#include <process.h>
#include <shlobj.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace platform {

namespace {

HANDLE toHandle(FileHandle f) { return reinterpret_cast<HANDLE>(f); }

bool fail(const char* call) {
    setLastError(static_cast<int>(GetLastError()), call);
    return false;
}

FileHandle sysOpen(const char16_t* path, FileAccess access) {
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
    case FileAccess::CreateNew:
        desired = GENERIC_READ | GENERIC_WRITE;
        disposition = CREATE_NEW;
        break;
    case FileAccess::WriteExisting:
        desired = GENERIC_WRITE;
        break;
    }
    if (!path || !*path) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        fail("CreateFileW");
        return kNoFile;
    }
    HANDLE h = CreateFileW(win32::wide(path), desired, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        fail("CreateFileW");
        return kNoFile;
    }
    return reinterpret_cast<FileHandle>(h);
}

// ReadFile and WriteFile take 32-bit counts; a larger request is served in part, as a short
// transfer the caller continues.
DWORD chunkOf(std::size_t size) { return size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size); }

long long sysRead(FileHandle file, void* data, std::size_t size) {
    DWORD got = 0;
    if (!ReadFile(toHandle(file), data, chunkOf(size), &got, nullptr)) {
        // The write end of a pipe closed: the end of the data, as on POSIX.
        if (GetLastError() == ERROR_BROKEN_PIPE)
            return 0;
        fail("ReadFile");
        return -1;
    }
    return static_cast<long long>(got);
}

long long sysWrite(FileHandle file, const void* data, std::size_t size) {
    DWORD written = 0;
    if (!WriteFile(toHandle(file), data, chunkOf(size), &written, nullptr)) {
        fail("WriteFile");
        return -1;
    }
    return static_cast<long long>(written);
}

bool sysSeek(FileHandle file, long long offset) {
    LARGE_INTEGER to;
    to.QuadPart = offset;
    return SetFilePointerEx(toHandle(file), to, nullptr, FILE_BEGIN) || fail("SetFilePointerEx");
}

bool sysStatus(FileHandle file, FileStatus& out) {
    const DWORD type = GetFileType(toHandle(file));
    if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR)
        return fail("GetFileType");
    BY_HANDLE_FILE_INFORMATION info;
    if (type == FILE_TYPE_DISK) {
        if (!GetFileInformationByHandle(toHandle(file), &info))
            return fail("GetFileInformationByHandle");
        out.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        out.regular = !out.directory;
        out.size = static_cast<long long>((static_cast<unsigned long long>(info.nFileSizeHigh) << 32) |
                                          info.nFileSizeLow);
        out.volume = info.dwVolumeSerialNumber;
        out.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        out.links = info.nNumberOfLinks;
    }
    out.mode = 0;
    out.owner = 0;
    return true;
}

bool sysFlush(FileHandle file) {
    return FlushFileBuffers(toHandle(file)) || fail("FlushFileBuffers");
}

bool sysResize(FileHandle file, long long size) {
    LARGE_INTEGER to;
    to.QuadPart = size;
    return (SetFilePointerEx(toHandle(file), to, nullptr, FILE_BEGIN) &&
            SetEndOfFile(toHandle(file))) ||
           fail("SetEndOfFile");
}

bool sysRename(const char16_t* from, const char16_t* to) {
    return MoveFileExW(win32::wide(from), win32::wide(to),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
           fail("MoveFileExW");
}

bool sysMove(const char16_t* from, const char16_t* to) {
    return MoveFileExW(win32::wide(from), win32::wide(to), 0) || fail("MoveFileExW");
}

bool sysClose(FileHandle file) { return CloseHandle(toHandle(file)) || fail("CloseHandle"); }

bool sysMakeDirectory(const char16_t* path) {
    const int rc = SHCreateDirectoryExW(nullptr, win32::wide(path), nullptr);
    if (rc == ERROR_SUCCESS)
        return true;
    setLastError(rc, "SHCreateDirectoryExW");
    return false;
}

const void* sysMapView(FileHandle file, std::size_t bytes) {
    // The view keeps the mapping object alive after its handle is closed.
    win32::Handle mapping(CreateFileMappingW(toHandle(file), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping.valid()) {
        fail("CreateFileMappingW");
        return nullptr;
    }
    const void* data = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, bytes);
    if (!data)
        fail("MapViewOfFile");
    return data;
}

struct ThreadStart {
    ThreadMain main;
    void* arg;
};

unsigned __stdcall threadTrampoline(void* start) {
    const ThreadStart s = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    s.main(s.arg);
    return 0;
}

bool sysCreateThread(ThreadMain main, void* arg) {
    ThreadStart* start = new (std::nothrow) ThreadStart{main, arg};
    if (!start) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return fail("_beginthreadex");
    }
    const std::uintptr_t h = _beginthreadex(nullptr, 0, threadTrampoline, start, 0, nullptr);
    if (h == 0) {
        delete start;
        return fail("_beginthreadex");
    }
    CloseHandle(reinterpret_cast<HANDLE>(h));
    return true;
}

unsigned sysStartTimer(unsigned delayMs, MmTimerProc proc, std::uintptr_t user) {
    // MmTimerProc and LPTIMECALLBACK differ only in how the words are spelled.
    const MMRESULT id = timeSetEvent(delayMs, 0, reinterpret_cast<LPTIMECALLBACK>(proc),
                                     static_cast<DWORD_PTR>(user),
                                     TIME_PERIODIC | TIME_CALLBACK_FUNCTION);
    if (id == 0)
        setLastError(0, "timeSetEvent");
    return id;
}

void* sysReserveMemory(std::size_t bytes, bool /*commit*/) {
    // Committed pages from VirtualAlloc are zero-filled.
    void* p = VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!p)
        fail("VirtualAlloc");
    return p;
}

bool sysCommitMemory(void* at, std::size_t bytes) {
    return VirtualAlloc(at, bytes, MEM_COMMIT, PAGE_READWRITE) != nullptr || fail("VirtualAlloc");
}

void* sysAllocate(void* old, std::size_t bytes) {
    void* p = std::realloc(old, bytes ? bytes : 1);
    if (!p)
        setLastError(ERROR_NOT_ENOUGH_MEMORY, "malloc");
    return p;
}

FileHandle sysOpenSharedMemory(const char* name, std::uint32_t createSize) {
    const std::u16string wideName = fromUtf8(std::string(name ? name : ""));
    // The conversion may touch the error code; CreateFileMappingW's must be the one left.
    HANDLE h = createSize != 0
                   ? CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, createSize,
                                        win32::wide(wideName.c_str()))
                   : OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, win32::wide(wideName.c_str()));
    if (!h) {
        fail(createSize != 0 ? "CreateFileMappingW" : "OpenFileMappingW");
        return kNoFile;
    }
    return reinterpret_cast<FileHandle>(h);
}

bool sysLockFirstByte(FileHandle file, bool exclusive, bool wait) {
    OVERLAPPED at = {};
    const DWORD flags = (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    return LockFileEx(toHandle(file), flags, 0, 1, 0, &at) || fail("LockFileEx");
}

void* sysMapShared(FileHandle file, std::size_t bytes) {
    void* view = MapViewOfFile(toHandle(file), FILE_MAP_ALL_ACCESS, 0, 0, bytes);
    if (!view)
        fail("MapViewOfFile");
    return view;
}

long long sysModuleFileName(Module* module, char* buffer, std::size_t size) {
    std::u16string name(size, u'\0');
    const DWORD n = GetModuleFileNameW(reinterpret_cast<HMODULE>(module), win32::wide(&name[0]),
                                       static_cast<DWORD>(size));
    if (n == 0) {
        fail("GetModuleFileNameW");
        return -1;
    }
    if (n >= size)
        return static_cast<long long>(size);
    name.resize(n);
    const std::string utf8 = toUtf8(name);
    if (utf8.size() >= size)
        return static_cast<long long>(size);
    std::memcpy(buffer, utf8.data(), utf8.size());
    return static_cast<long long>(utf8.size());
}

const SysCalls kSystemCalls = {
    sysOpen, sysRead, sysWrite, sysSeek, sysStatus, sysFlush, sysResize, sysRename, sysClose,
    sysMakeDirectory, sysMapView, sysCreateThread, sysStartTimer, sysReserveMemory,
    sysCommitMemory, sysAllocate, sysMove,
    // clocks and machine facts
    perfCounter, perfFrequency, sleepMs, tickCount, perfQueryData, perfSetCountersEnabled,
    pdhOpenQuery, pdhAddCounter, pdhCollectQueryData, pdhGetFormattedLong, pdhCloseQuery, osVersion,
    processorCount, physicalMemoryBytes, cpuSpeedMHz, cpuName, displayAdapterValue,
    compositionIsEnabled, compositionEnable,
    // shared memory, loading, process facts and thread-end clean-ups
    sysOpenSharedMemory, sysLockFirstByte, sysMapShared, sysModuleFileName, threadExitRegister,
    threadExitSet,
};

}  // namespace

const SysCalls& systemCalls() { return kSystemCalls; }

void unmapView(const void* view, std::size_t /*bytes*/) {
    if (view)
        UnmapViewOfFile(view);
}

int nativeError(Fault fault) {
    switch (fault) {
    case Fault::NoSpace: return ERROR_DISK_FULL;
    case Fault::IoError: return ERROR_WRITE_FAULT;
    case Fault::Interrupted: return ERROR_OPERATION_ABORTED;
    case Fault::NoMemory: return ERROR_NOT_ENOUGH_MEMORY;
    case Fault::TryAgain: return ERROR_NO_SYSTEM_RESOURCES;
    case Fault::AccessDenied: return ERROR_ACCESS_DENIED;
    case Fault::Short: return 0;
    case Fault::NotRegular: return ERROR_BAD_FILE_TYPE;
    }
    return ERROR_WRITE_FAULT;
}

bool isInterrupted(int code) { return code == ERROR_OPERATION_ABORTED; }

int errnoOf(int nativeCode) {
    switch (nativeCode) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_NO_SYSTEM_RESOURCES: return EAGAIN;
    case ERROR_OPERATION_ABORTED: return EINTR;
    case ERROR_BAD_FILE_TYPE: return ENODEV;
    case ERROR_DIRECTORY: return ENOTDIR;
    default: return EIO;
    }
}

}  // namespace platform
