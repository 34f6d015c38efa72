// C streams and read-only file mappings on POSIX: the UTF-16 path is handed to the system as
// UTF-8.
#include "platform/error.h"
#include "platform/file.h"
#include "platform/posix/posix_support.h"
#include "platform/utf8.h"

#include <fcntl.h>
#include <string>
#include <sys/stat.h>

namespace platform {

std::FILE* openFile(const char16_t* path, const char* mode) {
    const std::string p = toUtf8(path);
    if (p.empty()) {
        errno = ENOENT;
        setLastError(ENOENT, "fopen");
        return nullptr;
    }
    std::FILE* f = std::fopen(p.c_str(), mode);
    if (!f)
        setLastError(errno, "fopen");
    return f;
}

bool mapFileRead(const char16_t* path, FileView& view) {
    view = FileView();
    const std::string p = toUtf8(path);
    const int fd = p.empty() ? -1 : ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        setLastError(p.empty() ? ENOENT : errno, "open");
        return false;
    }
    struct stat st;
    void* data = MAP_FAILED;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        data = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    const int err = errno;
    ::close(fd);  // the mapping keeps the file
    if (data == MAP_FAILED) {
        setLastError(err, "mmap");
        return false;
    }
    view.data = static_cast<const char*>(data);
    view.size = static_cast<long long>(st.st_size);
    return true;
}

void unmapFile(FileView& view) {
    if (view.data)
        ::munmap(const_cast<char*>(view.data), static_cast<std::size_t>(view.size));
    view = FileView();
}

}  // namespace platform
