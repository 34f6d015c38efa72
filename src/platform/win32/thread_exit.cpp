// Thread-end clean-ups as fiber-local slots: the system calls a slot's callback on the ending
// thread with the non-null value set, in a DLL as well as in an executable. The callback has
// the system's calling convention, so each registration gets a trampoline of its own.
#include "platform/thread_exit.h"
#include "platform/win32/win32_support.h"

#include <atomic>

namespace platform {

namespace {

constexpr int kSlots = 4;
std::atomic<ThreadExitFn> g_fns[kSlots];
std::atomic<int> g_used{0};

template <int N>
VOID WINAPI trampoline(PVOID value) {
    if (value)
        if (ThreadExitFn fn = g_fns[N].load(std::memory_order_acquire))
            fn(value);
}

constexpr PFLS_CALLBACK_FUNCTION kTrampolines[kSlots] = {trampoline<0>, trampoline<1>,
                                                        trampoline<2>, trampoline<3>};

}  // namespace

int threadExitRegister(ThreadExitFn fn) {
    const int n = g_used.fetch_add(1, std::memory_order_acq_rel);
    if (n >= kSlots)
        return -1;
    g_fns[n].store(fn, std::memory_order_release);
    const DWORD slot = FlsAlloc(kTrampolines[n]);
    if (slot == FLS_OUT_OF_INDEXES)
        return -1;
    return static_cast<int>(slot);
}

bool threadExitSet(int id, void* value) {
    return id >= 0 && FlsSetValue(static_cast<DWORD>(id), value) != FALSE;
}

}  // namespace platform
