// The system operations that can fail on a user's machine, in one replaceable table.
//
// Both backends route the calls that a full disk, a memory limit, a process limit or an odd
// file type can make fail through this table: file open / read / write / seek / status /
// flush / resize / rename / close, folder creation, file mapping, thread and timer creation,
// address-space reservation and commitment, the large buffers the library allocates (file
// buffers, the XML index), moves that never replace a file, named shared memory (open, lock,
// map), the file names of loaded modules and the thread-end clean-ups (registering one, setting
// a thread's value). Each entry makes exactly one
// system call (no retries, no loops; the one exception is POSIX's move, see below):
// the code above the table retries interrupted calls, finishes short transfers and turns the
// rest into results. The table starts as the backend's own functions and has the same entries
// and signatures on every backend.
//
// Tests drive the failure branches by scripting a fault for the Nth call of an operation:
//
//     platform::ScopedFault full({platform::SysOp::Write, platform::Fault::NoSpace, 2});
//     EXPECT_FALSE(doc.Save(path));      // the second write fails with "no space"
//
// or by replacing an entry of sys() with a function of their own. Either way the table is put
// back when the ScopedFault ends (clearFaults() restores every entry). Scripting and replacing
// entries is meant for tests: do it while no other thread is inside the library's file,
// mapping or thread operations, or reading its clock.
//
// The table's last entries are the clock, the tick count and the machine facts (processor
// data, version record, registry values): not failures to script, but platform answers that
// tests replace by hand to see the code above them handle every answer.
#ifndef NXUTIL_PLATFORM_SYSCALLS_H
#define NXUTIL_PLATFORM_SYSCALLS_H

#include "platform/file.h"
#include "platform/mmtimer.h"
#include "platform/sysinfo.h"
#include "platform/thread_exit.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace platform {

struct Module;

/// The entry a new thread of the platform layer runs.
typedef void (*ThreadMain)(void* arg);

/// One entry per operation. A failing entry returns its failure value (kNoFile, -1, false, 0 or
/// null) and records the native error with setLastError.
struct SysCalls {
    FileHandle (*open)(const char16_t* path, FileAccess access);
    long long (*read)(FileHandle file, void* data, std::size_t size);  ///< may be short; 0 at end
    long long (*write)(FileHandle file, const void* data, std::size_t size);  ///< may be short
    bool (*seek)(FileHandle file, long long offset);
    bool (*status)(FileHandle file, FileStatus& out);
    bool (*flush)(FileHandle file);  ///< to the disk: fsync, FlushFileBuffers
    bool (*resize)(FileHandle file, long long size);
    bool (*rename)(const char16_t* from, const char16_t* to);  ///< replaces an existing target
    bool (*close)(FileHandle file);
    /// Creates one folder (Win32: with its missing parents); false when it exists already.
    bool (*makeDirectory)(const char16_t* path);
    /// A read-only view of the first `bytes` bytes of an open file; unmapView releases it.
    const void* (*mapView)(FileHandle file, std::size_t bytes);
    bool (*createThread)(ThreadMain main, void* arg);  ///< a detached thread
    /// Starts a periodic multimedia timer (the timer service's thread, or timeSetEvent).
    unsigned (*startTimer)(unsigned delayMs, MmTimerProc proc, std::uintptr_t user);
    /// Address space, no access (POSIX) or committed read-write (Win32, and POSIX when `commit`).
    void* (*reserveMemory)(std::size_t bytes, bool commit);
    bool (*commitMemory)(void* at, std::size_t bytes);  ///< makes reserved pages read-write
    /// A large buffer, or `old` resized as realloc does (unchanged on failure); freeBuffer
    /// releases it.
    void* (*allocate)(void* old, std::size_t bytes);
    /// Moves a file without ever replacing an existing target: MoveFileExW without flags;
    /// POSIX has no portable call for that, so it is link to the new name, then unlink of the
    /// old one (moveFile falls back to rename on file systems without hard links).
    bool (*move)(const char16_t* from, const char16_t* to);

    // clocks and machine facts
    // The backend's functions of platform/clock.h, time.h, perf.h and sysinfo.h, with the same
    // signatures and contracts. The library's clock, frame-rate counters, processor-load
    // sampler and machine facts call them only through this table, so a test can feed them
    // counter values, ticks, performance data, version records and registry values. They are
    // replaced by hand (no SysOp, no scripted faults); some read more than one file (POSIX
    // builds the performance data from /proc).
    std::int64_t (*perfCounter)();
    std::int64_t (*perfFrequency)();
    void (*sleepMs)(unsigned ms);
    unsigned int (*tickCount)();
    long (*perfQueryData)(const char16_t* valueName, void* buffer, std::uint32_t* size);
    int (*perfSetCountersEnabled)(bool enable);
    long (*pdhOpenQuery)(void** query);
    long (*pdhAddCounter)(void* query, const char16_t* path, void** counter);
    long (*pdhCollectQueryData)(void* query);
    long (*pdhGetFormattedLong)(void* counter, long* value, std::uint32_t* counterStatus);
    void (*pdhCloseQuery)(void* query);
    bool (*osVersion)(OsVersion& out, bool extended);
    std::uint32_t (*processorCount)();
    std::uint64_t (*physicalMemoryBytes)();
    bool (*cpuSpeedMHz)(std::uint32_t& mhz);
    bool (*cpuName)(std::string& narrow);
    bool (*displayAdapterValue)(std::uint32_t& type, std::vector<unsigned char>& data);
    bool (*compositionIsEnabled)(long& status, int& enabled);
    bool (*compositionEnable)(unsigned action, long& status);

    // shared memory, loading, process facts and thread-end clean-ups
    /// Opens the shared-memory block `name` (what shmSystemName gives) for reading and writing;
    /// `createSize` non-zero creates it with that size: shm_open with O_CREAT | O_EXCL (EEXIST
    /// when the name exists) or CreateFileMappingW on the paging file (which opens an existing
    /// block and leaves ERROR_ALREADY_EXISTS in GetLastError); 0 opens an existing block only
    /// (shm_open, OpenFileMappingW).
    FileHandle (*openSharedMemory)(const char* name, std::uint32_t createSize);
    /// One attempt to lock byte 0 of the open file description, shared or exclusive, waiting
    /// for it or not: fcntl F_OFD_SETLK(W), LockFileEx. A shared lock the same description
    /// holds turns into an exclusive one on POSIX.
    bool (*lockFirstByte)(FileHandle file, bool exclusive, bool wait);
    /// A read-write view of the first `bytes` bytes that other holders share: mmap MAP_SHARED,
    /// MapViewOfFile with all access. shmUnmap releases it.
    void* (*mapShared)(FileHandle file, std::size_t bytes);
    /// The file name `module` was loaded from, or the executable's for null, as UTF-8 into
    /// `buffer`: readlink of /proc/self/exe or dlinfo's link map, GetModuleFileNameW. The byte
    /// count (0: the executable's own entry of the link map, which has no name), `size` when the
    /// name may not have fit (call again with a larger buffer), -1 on failure.
    long long (*moduleFileName)(Module* module, char* buffer, std::size_t size);
    /// Registers a thread-end clean-up (platform/thread_exit.h): a thread-specific key with a
    /// destructor, a fiber-local slot with a callback; -1 when the system refuses.
    int (*threadExitRegister)(ThreadExitFn fn);
    /// Sets the calling thread's value for a registered clean-up; false when the system refuses.
    bool (*threadExitSet)(int id, void* value);
};

/// The table in use.
SysCalls& sys();
/// The backend's own functions, for restoring an entry by hand.
const SysCalls& systemCalls();

/// Releases a view made by the mapView entry (no fault can be scripted for it).
void unmapView(const void* view, std::size_t bytes);

/// The operations of the table, for scripting faults.
enum class SysOp : unsigned {
    Open, Read, Write, Seek, Status, Flush, Resize, Rename, Close, MakeDirectory, MapView,
    CreateThread, StartTimer, ReserveMemory, CommitMemory, Allocate, Move,
    OpenSharedMemory, LockFirstByte, MapShared, ModuleFileName, ThreadExitRegister, ThreadExitSet,
    Count
};
/// "open", "write", ...: the operation's name as lastError() reports it for a scripted fault.
const char* sysOpName(SysOp op);

/// The faults a script can make an operation meet, named portably; the backend supplies the
/// native error number (ENOSPC, ERROR_DISK_FULL, ...).
enum class Fault {
    NoSpace,      ///< the disk is full
    IoError,      ///< a device error
    Interrupted,  ///< a signal interrupted the call (callers retry)
    NoMemory,     ///< no memory or address space
    TryAgain,     ///< a resource limit, e.g. the user's process limit for threads
    AccessDenied, ///< permissions, a read-only folder
    Short,        ///< read or write: transfers at most `shortBytes` bytes, then succeeds
    NotRegular,   ///< status: reports the file as neither regular nor a folder (a FIFO, a device)
};
/// The native error number a fault records: errno on POSIX, a Win32 error code on Windows.
int nativeError(Fault fault);
/// True when `code` means "interrupted, try again" on this backend.
bool isInterrupted(int code);

/// A fault for the calls `nth`, `nth + 1`, ... `nth + times - 1` of `op`, counted from the
/// moment it is scripted (times 0: every call from the nth on).
struct FaultScript {
    SysOp op;
    Fault fault;
    unsigned nth = 1;
    unsigned times = 1;
    std::size_t shortBytes = 0;
};
/// Adds a fault (one per operation: scripting an operation again replaces its fault).
void scriptFault(const FaultScript& script);
/// How many calls scripted faults have failed or shortened since the last clearFaults.
unsigned faultsFired();
/// Removes every scripted fault and puts every entry of the table back to the backend's own.
void clearFaults();

/// Scripts faults for its lifetime.
class ScopedFault {
public:
    explicit ScopedFault(const FaultScript& script) { scriptFault(script); }
    ScopedFault(std::initializer_list<FaultScript> scripts)
        : ScopedFault(scripts.begin(), scripts.end()) {}
    ScopedFault(const FaultScript* first, const FaultScript* last) {
        for (; first != last; ++first)
            scriptFault(*first);
    }
    ~ScopedFault() { clearFaults(); }
    ScopedFault(const ScopedFault&) = delete;
    ScopedFault& operator=(const ScopedFault&) = delete;
};

}  // namespace platform

#endif
