// Scripted faults over the system-call table, shared by both backends.
//
// Scripting a fault swaps the operation's entry for a wrapper that counts the calls and fails
// (or shortens) the scripted ones with the backend's native error; the others go on to the
// entry that was there before. clearFaults puts the backend's functions back.
#include "platform/syscalls.h"
#include "platform/error.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <type_traits>

namespace platform {

namespace {

struct Rule {
    std::atomic<unsigned> calls{0};
    unsigned nth = 0;    // 0: no fault scripted
    unsigned times = 0;  // 0: forever
    Fault fault = Fault::IoError;
    std::size_t shortBytes = 0;

    // Counts a call; true when this call is one the script fails.
    bool hit() {
        const unsigned n = calls.fetch_add(1, std::memory_order_relaxed) + 1;
        return nth != 0 && n >= nth && (times == 0 || n - nth < times);
    }
};

constexpr std::size_t kOps = static_cast<std::size_t>(SysOp::Count);
Rule g_rules[kOps];
SysCalls g_before;  // the entries the wrappers forward to
std::atomic<unsigned> g_fired{0};

const char* const kNames[kOps] = {
    "open", "read", "write", "seek", "status", "flush", "resize", "rename", "close",
    "mkdir", "mmap", "thread", "timer", "reserve", "commit", "malloc", "move",
    "shm_open", "lock", "shm_map", "module_name", "thread_key", "thread_value",
};

Rule& rule(SysOp op) { return g_rules[static_cast<std::size_t>(op)]; }

// Records the scripted error as the failing call's own, errno included, so callers that
// look at either see what a real failure would show them.
void recordFault(SysOp op, Fault fault) {
    g_fired.fetch_add(1, std::memory_order_relaxed);
    const int code = nativeError(fault);
    errno = code;
    setLastError(code, sysOpName(op));
}

template <typename R>
R failureValue() {
    if constexpr (std::is_pointer_v<R>)
        return nullptr;
    else if constexpr (std::is_same_v<R, bool>)
        return false;
    else if constexpr (std::is_unsigned_v<R>)
        return 0;
    else
        return R(-1);  // kNoFile, or -1 bytes
}

template <typename Entry>
struct Wrapper;

// Fails the scripted calls of an entry outright; the others go through.
template <typename R, typename... A>
struct Wrapper<R (*)(A...)> {
    template <SysOp Op, R (*SysCalls::*Member)(A...)>
    static R call(A... args) {
        Rule& r = rule(Op);
        if (!r.hit())
            return (g_before.*Member)(args...);
        recordFault(Op, r.fault);
        return failureValue<R>();
    }
};

// Read and write also know short transfers.
template <SysOp Op, typename Data, long long (*SysCalls::*Member)(FileHandle, Data, std::size_t)>
long long transfer(FileHandle file, Data data, std::size_t size) {
    Rule& r = rule(Op);
    if (!r.hit())
        return (g_before.*Member)(file, data, size);
    if (r.fault == Fault::Short) {
        g_fired.fetch_add(1, std::memory_order_relaxed);
        return (g_before.*Member)(file, data, std::min(size, r.shortBytes));
    }
    recordFault(Op, r.fault);
    return -1;
}

// Status also knows "not a regular file": the file is reported as a FIFO or device would be.
bool statusWrapper(FileHandle file, FileStatus& out) {
    Rule& r = rule(SysOp::Status);
    if (!r.hit())
        return g_before.status(file, out);
    if (r.fault == Fault::NotRegular) {
        g_fired.fetch_add(1, std::memory_order_relaxed);
        if (!g_before.status(file, out))
            return false;
        out.regular = out.directory = false;
        return true;
    }
    recordFault(SysOp::Status, r.fault);
    return false;
}

// A failed close still releases the handle, as the systems do (POSIX closes the descriptor
// even when it reports a deferred write error); only the result says it failed.
bool closeWrapper(FileHandle file) {
    Rule& r = rule(SysOp::Close);
    const bool closed = g_before.close(file);
    if (!r.hit())
        return closed;
    recordFault(SysOp::Close, r.fault);
    return false;
}

#define NX_WRAP(op, member) Wrapper<decltype(SysCalls::member)>::call<op, &SysCalls::member>

void installWrapper(SysOp op) {
    SysCalls& t = sys();
    switch (op) {
    case SysOp::Open: t.open = NX_WRAP(SysOp::Open, open); break;
    case SysOp::Read: t.read = transfer<SysOp::Read, void*, &SysCalls::read>; break;
    case SysOp::Write: t.write = transfer<SysOp::Write, const void*, &SysCalls::write>; break;
    case SysOp::Seek: t.seek = NX_WRAP(SysOp::Seek, seek); break;
    case SysOp::Status: t.status = statusWrapper; break;
    case SysOp::Flush: t.flush = NX_WRAP(SysOp::Flush, flush); break;
    case SysOp::Resize: t.resize = NX_WRAP(SysOp::Resize, resize); break;
    case SysOp::Rename: t.rename = NX_WRAP(SysOp::Rename, rename); break;
    case SysOp::Close: t.close = closeWrapper; break;
    case SysOp::MakeDirectory: t.makeDirectory = NX_WRAP(SysOp::MakeDirectory, makeDirectory); break;
    case SysOp::MapView: t.mapView = NX_WRAP(SysOp::MapView, mapView); break;
    case SysOp::CreateThread: t.createThread = NX_WRAP(SysOp::CreateThread, createThread); break;
    case SysOp::StartTimer: t.startTimer = NX_WRAP(SysOp::StartTimer, startTimer); break;
    case SysOp::ReserveMemory: t.reserveMemory = NX_WRAP(SysOp::ReserveMemory, reserveMemory); break;
    case SysOp::CommitMemory: t.commitMemory = NX_WRAP(SysOp::CommitMemory, commitMemory); break;
    case SysOp::Allocate: t.allocate = NX_WRAP(SysOp::Allocate, allocate); break;
    case SysOp::Move: t.move = NX_WRAP(SysOp::Move, move); break;
    case SysOp::OpenSharedMemory:
        t.openSharedMemory = NX_WRAP(SysOp::OpenSharedMemory, openSharedMemory);
        break;
    case SysOp::LockFirstByte: t.lockFirstByte = NX_WRAP(SysOp::LockFirstByte, lockFirstByte); break;
    case SysOp::MapShared: t.mapShared = NX_WRAP(SysOp::MapShared, mapShared); break;
    case SysOp::ModuleFileName:
        t.moduleFileName = NX_WRAP(SysOp::ModuleFileName, moduleFileName);
        break;
    case SysOp::ThreadExitRegister:
        t.threadExitRegister = NX_WRAP(SysOp::ThreadExitRegister, threadExitRegister);
        break;
    case SysOp::ThreadExitSet:
        t.threadExitSet = NX_WRAP(SysOp::ThreadExitSet, threadExitSet);
        break;
    case SysOp::Count: break;
    }
}

#undef NX_WRAP

}  // namespace

SysCalls& sys() {
    // Made on first use: other files' static constructors may already open files.
    static SysCalls table = systemCalls();
    return table;
}

const char* sysOpName(SysOp op) {
    const std::size_t i = static_cast<std::size_t>(op);
    return i < kOps ? kNames[i] : "";
}

void scriptFault(const FaultScript& script) {
    if (script.op >= SysOp::Count)
        return;
    // The first script since the last clear remembers the entries in use (a test may have
    // replaced some by hand), which the wrappers then forward to.
    bool anyScripted = false;
    for (const Rule& r : g_rules)
        anyScripted = anyScripted || r.nth != 0;
    if (!anyScripted)
        g_before = sys();
    Rule& r = rule(script.op);
    r.calls.store(0, std::memory_order_relaxed);
    r.fault = script.fault;
    r.times = script.times;
    r.shortBytes = script.shortBytes;
    r.nth = script.nth ? script.nth : 1;
    installWrapper(script.op);
}

unsigned faultsFired() { return g_fired.load(std::memory_order_relaxed); }

void clearFaults() {
    for (Rule& r : g_rules) {
        r.nth = 0;
        r.calls.store(0, std::memory_order_relaxed);
    }
    g_fired.store(0, std::memory_order_relaxed);
    sys() = systemCalls();
}

}  // namespace platform
