// Child processes running this program again: fork and exec of /proc/self/exe.
#include "platform/child.h"
#include "platform/error.h"
#include "platform/posix/posix_support.h"

#include <csignal>
#include <sys/wait.h>

namespace platform {

struct Child {
    pid_t pid;
};

Child* childStart(const std::vector<std::string>& args) {
    // Everything exec needs is prepared before fork: the child only calls exec and _exit.
    std::vector<std::string> all;
    all.push_back("/proc/self/exe");
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        setLastError(errno, "fork");
        return nullptr;
    }
    if (pid == 0) {
        ::execv("/proc/self/exe", argv.data());
        ::_exit(127);
    }
    return new Child{pid};
}

unsigned long childId(const Child* child) {
    return child ? static_cast<unsigned long>(child->pid) : 0;
}

void childStop(Child* child) {
    if (!child)
        return;
    ::kill(child->pid, SIGKILL);
    int status = 0;
    while (::waitpid(child->pid, &status, 0) < 0 && errno == EINTR) {
    }
    delete child;
}

}  // namespace platform
