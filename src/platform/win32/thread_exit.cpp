// Thread-end clean-ups as fiber-local slots: the system calls a slot's callback on the ending
// thread with the non-null value set, in a DLL as well as in an executable. The callback has
// the system's calling convention, so each registration gets a trampoline of its own.
#include "platform/thread_exit.h"
#include "platform/win32/win32_support.h"

#include <atomic>

namespace platform {

namespace {

constexpr int kSlots = 4;
// A registration: its function (null: free) and its fiber-local slot.
std::atomic<ThreadExitFn> g_fns[kSlots];
std::atomic<DWORD> g_slots[kSlots];

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
    for (int n = 0; n < kSlots; ++n) {
        ThreadExitFn none = nullptr;
        if (!g_fns[n].compare_exchange_strong(none, fn, std::memory_order_acq_rel))
            continue;
        const DWORD slot = FlsAlloc(kTrampolines[n]);
        if (slot == FLS_OUT_OF_INDEXES) {
            g_fns[n].store(nullptr, std::memory_order_release);
            return -1;
        }
        g_slots[n].store(slot, std::memory_order_release);
        return static_cast<int>(slot);
    }
    return -1;
}

bool threadExitSet(int id, void* value) {
    return id >= 0 && FlsSetValue(static_cast<DWORD>(id), value) != FALSE;
}

void threadExitUnregister(int id) {
    if (id < 0)
        return;
    for (int n = 0; n < kSlots; ++n) {
        if (g_slots[n].load(std::memory_order_acquire) != static_cast<DWORD>(id) ||
            !g_fns[n].load(std::memory_order_acquire))
            continue;
        // The trampoline goes quiet first: freeing the slot may call it for threads that hold
        // a value.
        g_fns[n].store(nullptr, std::memory_order_release);
        FlsFree(static_cast<DWORD>(id));
        return;
    }
}

}  // namespace platform
