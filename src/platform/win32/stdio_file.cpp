// C streams on Win32: _wfopen takes the UTF-16 path as it is.
#include "platform/error.h"
#include "platform/file.h"
#include "platform/win32/win32_support.h"

#include <cerrno>
#include <cstdio>
#include <string>

namespace platform {

std::FILE* openFile(const char16_t* path, const char* mode) {
    if (!path || !*path) {
        errno = ENOENT;
        setLastError(ENOENT, "_wfopen");
        return nullptr;
    }
    std::wstring wmode;
    for (const char* m = mode; *m; ++m)
        wmode += static_cast<wchar_t>(*m);
    std::FILE* f = _wfopen(win32::wide(path), wmode.c_str());
    if (!f)
        setLastError(errno, "_wfopen");
    return f;
}

}  // namespace platform
