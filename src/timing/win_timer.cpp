// Thread timers routed through one process-wide registry of (id, callback) pairs, and the
// single-callback holder for hosts with their own timer procedure.
#include "memory/memory.h"
#include "platform/msgloop.h"
#include "timing/timing.h"

#include <utility>
#include <vector>

namespace {

// Created at load, destroyed at unload; every search and change holds the lock, which is never
// held while a callback runs (a callback may set or kill timers).
NxCriticalSection g_registryLock;
std::vector<std::pair<unsigned int, ITimerFunc*>> g_registry;

void NXUTIL_CALLBACK registryProc(HWND, unsigned, std::uintptr_t id, unsigned long) {
    ITimerFunc* func = nullptr;
    {
        NxCSLocker guard(&g_registryLock);
        for (const auto& entry : g_registry) {
            if (entry.first == id) {
                func = entry.second;
                break;
            }
        }
    }
    if (func)
        func->OnTimer(static_cast<unsigned int>(id));
}

}  // namespace

unsigned int CWinTimer::SetTimer(unsigned int elapse, ITimerFunc* func) {
    const unsigned int id = platform::threadTimerSet(elapse, &registryProc);
    if (id == 0)
        return 0;
    NxCSLocker guard(&g_registryLock);
    for (auto& entry : g_registry) {
        if (entry.first == id) {
            entry.second = func;
            return id;
        }
    }
    g_registry.emplace_back(id, func);
    return id;
}

void CWinTimer::KillTimer(unsigned int id) {
    if (id == 0)
        return;
    platform::threadTimerKill(id);
    NxCSLocker guard(&g_registryLock);
    for (auto it = g_registry.begin(); it != g_registry.end(); ++it) {
        if (it->first == id) {
            g_registry.erase(it);
            return;
        }
    }
}

unsigned int CSingleTimer::SetTimer(unsigned int elapse, NxTimerProc proc) {
    return platform::threadTimerSet(elapse, proc);
}

void CSingleTimer::KillTimer(unsigned int id) { platform::threadTimerKill(id); }
