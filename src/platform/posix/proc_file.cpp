// Whole reads of the small files under /proc.
#include "platform/posix/posix_support.h"

#include <fcntl.h>

namespace platform {
namespace posix {

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
}  // namespace platform
