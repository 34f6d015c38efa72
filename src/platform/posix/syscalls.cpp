// The POSIX entries of the system-call table: one system call each, the error left in
// lastError (and errno). Paths reach the kernel as UTF-8. The clock and machine-fact entries
// are this backend's functions of clock.cpp, time.cpp, perf.cpp and sysinfo.cpp.
#include "platform/syscalls.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/perf.h"
#include "platform/time.h"
#include "platform/posix/posix_support.h"
#include "platform/utf8.h"

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace platform {

namespace {

bool fail(const char* call) {
    setLastError(errno, call);
    return false;
}

FileHandle sysOpen(const char16_t* path, FileAccess access) {
    const std::string p = toUtf8(path);
    if (p.empty()) {
        errno = ENOENT;
        fail("open");
        return kNoFile;
    }
    // Non-blocking: opening a FIFO or a terminal must not wait for the other side. It changes
    // nothing for regular files, the only kind the library reads or writes.
    // A file the library creates is the user's alone (settings, logs, saved documents):
    // 0600 whatever the umask, which can only narrow it. An existing file keeps its mode.
    int flags = O_CLOEXEC | O_NONBLOCK;
    const mode_t mode = 0600;
    switch (access) {
    case FileAccess::Read: flags |= O_RDONLY; break;
    case FileAccess::Append: flags |= O_RDWR | O_CREAT | O_APPEND; break;
    case FileAccess::CreateTruncate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case FileAccess::CreateKeepExclusive: flags |= O_WRONLY | O_CREAT; break;
    case FileAccess::CreateNew:
        flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
        break;
    case FileAccess::WriteExisting: flags |= O_WRONLY | O_NOFOLLOW; break;
    }
    const int fd = ::open(p.c_str(), flags, mode);
    if (fd < 0) {
        fail("open");
        return kNoFile;
    }
    if (access == FileAccess::CreateKeepExclusive && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Another opener holds it: the exclusive open fails, as a sharing violation would.
        fail("flock");
        ::close(fd);
        return kNoFile;
    }
    return fd;
}

long long sysRead(FileHandle file, void* data, std::size_t size) {
    const ssize_t n = ::read(static_cast<int>(file), data, size);
    if (n < 0)
        fail("read");
    return n;
}

long long sysWrite(FileHandle file, const void* data, std::size_t size) {
    const ssize_t n = ::write(static_cast<int>(file), data, size);
    if (n < 0)
        fail("write");
    return n;
}

bool sysSeek(FileHandle file, long long offset) {
    return ::lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) >= 0 ||
           fail("lseek");
}

bool sysStatus(FileHandle file, FileStatus& out) {
    struct stat st;
    if (::fstat(static_cast<int>(file), &st) != 0)
        return fail("fstat");
    out.size = static_cast<long long>(st.st_size);
    out.regular = S_ISREG(st.st_mode);
    out.directory = S_ISDIR(st.st_mode);
    out.mode = static_cast<unsigned>(st.st_mode & 07777);
    out.owner = static_cast<std::uint32_t>(st.st_uid);
    out.volume = static_cast<std::uint64_t>(st.st_dev);
    out.index = static_cast<std::uint64_t>(st.st_ino);
    out.links = static_cast<unsigned>(st.st_nlink);
    return true;
}

bool sysFlush(FileHandle file) { return ::fsync(static_cast<int>(file)) == 0 || fail("fsync"); }

bool sysResize(FileHandle file, long long size) {
    return ::ftruncate(static_cast<int>(file), static_cast<off_t>(size)) == 0 || fail("ftruncate");
}

bool sysRename(const char16_t* from, const char16_t* to) {
    return ::rename(toUtf8(from).c_str(), toUtf8(to).c_str()) == 0 || fail("rename");
}

bool sysMove(const char16_t* from, const char16_t* to) {
    const std::string f = toUtf8(from);
    // link refuses an existing target atomically, unlike rename.
    if (::link(f.c_str(), toUtf8(to).c_str()) != 0)
        return fail("link");
    ::unlink(f.c_str());
    return true;
}

bool sysClose(FileHandle file) { return ::close(static_cast<int>(file)) == 0 || fail("close"); }

// Folders the library creates (the per-user tree, log folders) are the user's alone: 0700.
bool sysMakeDirectory(const char16_t* path) {
    return ::mkdir(toUtf8(path).c_str(), 0700) == 0 || fail("mkdir");
}

const void* sysMapView(FileHandle file, std::size_t bytes) {
    void* p = ::mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE, static_cast<int>(file), 0);
    if (p == MAP_FAILED) {
        fail("mmap");
        return nullptr;
    }
    return p;
}

struct ThreadStart {
    ThreadMain main;
    void* arg;
};

void* threadTrampoline(void* start) {
    const ThreadStart s = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    s.main(s.arg);
    return nullptr;
}

bool sysCreateThread(ThreadMain main, void* arg) {
    ThreadStart* start = new (std::nothrow) ThreadStart{main, arg};
    if (!start) {
        errno = ENOMEM;
        return fail("pthread_create");
    }
    pthread_t thread;
    const int rc = ::pthread_create(&thread, nullptr, threadTrampoline, start);
    if (rc != 0) {
        delete start;
        errno = rc;
        return fail("pthread_create");
    }
    ::pthread_detach(thread);
    return true;
}

void* sysReserveMemory(std::size_t bytes, bool commit) {
    const int prot = commit ? PROT_READ | PROT_WRITE : PROT_NONE;
    const int flags = MAP_PRIVATE | MAP_ANONYMOUS | (commit ? 0 : MAP_NORESERVE);
    void* p = ::mmap(nullptr, bytes, prot, flags, -1, 0);
    if (p == MAP_FAILED) {
        fail("mmap");
        return nullptr;
    }
    return p;
}

bool sysCommitMemory(void* at, std::size_t bytes) {
    return ::mprotect(at, bytes, PROT_READ | PROT_WRITE) == 0 || fail("mprotect");
}

void* sysAllocate(void* old, std::size_t bytes) {
    void* p = std::realloc(old, bytes ? bytes : 1);
    if (!p) {
        errno = ENOMEM;
        fail("malloc");
    }
    return p;
}

FileHandle sysOpenSharedMemory(const char* name, std::uint32_t createSize) {
    const int fd = createSize != 0 ? ::shm_open(name, O_RDWR | O_CREAT | O_EXCL, 0600)
                                   : ::shm_open(name, O_RDWR, 0);
    if (fd < 0) {
        fail("shm_open");
        return kNoFile;
    }
    return fd;
}

bool sysLockFirstByte(FileHandle file, bool exclusive, bool wait) {
    struct flock fl = {};
    fl.l_type = exclusive ? F_WRLCK : F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    return ::fcntl(static_cast<int>(file), wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0 ||
           fail("fcntl");
}

void* sysMapShared(FileHandle file, std::size_t bytes) {
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, static_cast<int>(file), 0);
    if (p == MAP_FAILED) {
        fail("mmap");
        return nullptr;
    }
    return p;
}

long long sysModuleFileName(Module* module, char* buffer, std::size_t size) {
    if (!module) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer, size);
        if (n < 0)
            fail("readlink");
        return n;
    }
    struct link_map* map = nullptr;
    if (::dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map) {
        // The loader reports this failure as text only.
        errno = ENOENT;
        fail("dlinfo");
        return -1;
    }
    const std::size_t n = map->l_name ? std::strlen(map->l_name) : 0;
    if (n >= size)
        return static_cast<long long>(size);
    std::memcpy(buffer, map->l_name, n);
    return static_cast<long long>(n);
}

const SysCalls kSystemCalls = {
    sysOpen, sysRead, sysWrite, sysSeek, sysStatus, sysFlush, sysResize, sysRename, sysClose,
    sysMakeDirectory, sysMapView, sysCreateThread, posix::startServiceTimer, sysReserveMemory,
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

void unmapView(const void* view, std::size_t bytes) {
    if (view)
        ::munmap(const_cast<void*>(view), bytes);
}

int nativeError(Fault fault) {
    switch (fault) {
    case Fault::NoSpace: return ENOSPC;
    case Fault::IoError: return EIO;
    case Fault::Interrupted: return EINTR;
    case Fault::NoMemory: return ENOMEM;
    case Fault::TryAgain: return EAGAIN;
    case Fault::AccessDenied: return EACCES;
    case Fault::Short: return 0;
    case Fault::NotRegular: return ENODEV;
    }
    return EIO;
}

bool isInterrupted(int code) { return code == EINTR; }

int errnoOf(int nativeCode) { return nativeCode; }

}  // namespace platform
