// C streams on POSIX: the UTF-16 path is handed to the system as
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

}  // namespace platform
