// Whole reads of the small files under /proc, and the root the system's data files are read
// under.
#include "platform/posix/posix_support.h"
#include "platform/sysinfo.h"

#include <fcntl.h>

#include <mutex>

namespace platform {
namespace posix {

namespace {

std::mutex g_rootMutex;
std::string g_root;  // empty: the real files

}  // namespace

std::string systemFile(const std::string& path) {
    std::lock_guard<std::mutex> guard(g_rootMutex);
    return g_root + path;
}

bool readProcFile(const std::string& path, std::string& out, std::size_t limit) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[4096];
    while (out.size() < limit) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
        // /proc files are produced whole by reads of this size; a short read is the end, which
        // saves the read that would return 0 (a quarter of the system calls per file).
        if (static_cast<std::size_t>(n) < sizeof buf)
            break;
    }
    ::close(fd);
    return true;
}

}  // namespace posix

bool setSystemFilesRoot(const char* root) {
    std::string r = root ? root : "";
    while (!r.empty() && r.back() == '/')
        r.pop_back();  // "/" and null both mean the real files
    std::lock_guard<std::mutex> guard(posix::g_rootMutex);
    posix::g_root = r;
    return true;
}

}  // namespace platform
