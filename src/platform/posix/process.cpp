// Facts about the running process on POSIX, and the process list from /proc (Linux), read under
// the root of setSystemFilesRoot (posix::systemFile).
#include "platform/process.h"
#include "platform/error.h"
#include "platform/posix/posix_support.h"
#include "platform/utf8.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <dirent.h>
#include <linux/capability.h>
#include <sys/syscall.h>

namespace platform {

namespace {

// getpid is a system call and the logger asks for every line: the id is kept, and a fork
// clears it in the child.
std::atomic<unsigned long> s_pid{0};

void forgetPid() { s_pid.store(0, std::memory_order_relaxed); }

}  // namespace

bool processAlive(unsigned long id) {
    if (id == 0 || id > 0x7FFFFFFFul)
        return false;
    // Signal 0 only checks: EPERM means the process exists but belongs to someone else.
    return ::kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
}

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

namespace {

// A small /proc file of a process (at most 64 KiB); empty when it cannot be read (the
// process is gone or belongs to someone else).
std::string readSmall(const std::string& path) {
    std::string out;
    posix::readProcFile(path, out, 65536);
    return out;
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The executable file name of process `pid`, or empty when it vanished.
std::string processName(const std::string& proc, unsigned long pid) {
    const std::string dir = proc + "/" + std::to_string(pid) + "/";
    char target[4096];
    const ssize_t len = ::readlink((dir + "exe").c_str(), target, sizeof target - 1);
    if (len > 0) {
        std::string exe(target, static_cast<std::size_t>(len));
        // A replaced or removed executable still names the process.
        static const char kDeleted[] = " (deleted)";
        const std::size_t k = sizeof kDeleted - 1;
        if (exe.size() > k && exe.compare(exe.size() - k, k, kDeleted) == 0)
            exe.resize(exe.size() - k);
        return baseName(exe);
    }
    // No access to the link (another user's process, a kernel thread): "comm" holds the first
    // 15 bytes of the name; argv[0] is preferred when it agrees, as it is not cut.
    std::string comm = readSmall(dir + "comm");
    while (!comm.empty() && comm.back() == '\n')
        comm.pop_back();
    const std::string cmdline = readSmall(dir + "cmdline");
    const std::string arg0 = baseName(std::string(cmdline.c_str()));
    if (!comm.empty() && arg0.size() >= comm.size() && arg0.compare(0, comm.size(), comm) == 0)
        return arg0;
    return comm;
}

}  // namespace

bool processSnapshot(std::vector<ProcessEntry>& entries) {
    entries.clear();
    const std::string proc = posix::systemFile("/proc");
    DIR* dir = ::opendir(proc.c_str());
    if (!dir) {
        setLastError(errno, "opendir");
        return false;
    }
    std::vector<unsigned long> ids;
    while (const dirent* e = ::readdir(dir)) {
        char* end = nullptr;
        const unsigned long id = std::strtoul(e->d_name, &end, 10);
        if (e->d_name[0] >= '1' && e->d_name[0] <= '9' && end && *end == '\0')
            ids.push_back(id);
    }
    ::closedir(dir);
    std::sort(ids.begin(), ids.end());
    entries.reserve(ids.size());
    for (unsigned long id : ids) {
        std::string name = processName(proc, id);
        if (name.empty())
            continue;  // ended while the list was read
        ProcessEntry entry;
        entry.id = id;
        entry.exeName = fromUtf8(name);
        entries.push_back(std::move(entry));
    }
    return true;
}

bool adjustPrivilege(const char16_t* name, bool enable) {
    // The Windows debug privilege lets a process open and trace any other; CAP_SYS_PTRACE is
    // the Linux right that does the same.
    if (!name || std::u16string(name) != u"SeDebugPrivilege") {
        setLastError(1313, "LookupPrivilegeValue");  // ERROR_NO_SUCH_PRIVILEGE
        return false;
    }
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0) {
        setLastError(errno, "capget");
        return false;
    }
    const unsigned word = CAP_SYS_PTRACE / 32;
    const std::uint32_t bit = 1u << (CAP_SYS_PTRACE % 32);
    if (enable) {
        if (!(data[word].permitted & bit)) {
            setLastError(1300, "capset");  // ERROR_NOT_ALL_ASSIGNED: not held
            return false;
        }
        data[word].effective |= bit;
    } else {
        data[word].effective &= ~bit;
    }
    if (::syscall(SYS_capset, &header, data) != 0) {
        setLastError(errno, "capset");
        return false;
    }
    return true;
}

}  // namespace platform
