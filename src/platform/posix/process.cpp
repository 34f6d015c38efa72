// Facts about the running process on POSIX.
#include "platform/process.h"
#include "platform/posix/posix_support.h"

#include <atomic>

namespace platform {

namespace {

// getpid is a system call and the logger asks for every line: the id is kept, and a fork
// clears it in the child.
std::atomic<unsigned long> s_pid{0};

void forgetPid() { s_pid.store(0, std::memory_order_relaxed); }

}  // namespace

unsigned long currentProcessId() {
    unsigned long pid = s_pid.load(std::memory_order_relaxed);
    if (pid == 0) {
        static const int registered = pthread_atfork(nullptr, nullptr, forgetPid);
        (void)registered;
        pid = static_cast<unsigned long>(::getpid());
        s_pid.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

}  // namespace platform
