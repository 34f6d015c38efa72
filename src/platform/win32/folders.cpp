// The user's special folders on Win32: the shell's folder query.
#include "platform/folders.h"
#include "platform/error.h"
#include "platform/win32/win32_support.h"

#include <shlobj.h>

namespace platform {

bool specialFolderPath(SpecialFolder which, bool create, std::u16string* out) {
    wchar_t buf[MAX_PATH + 1] = {};
    if (!SHGetSpecialFolderPathW(nullptr, buf, static_cast<int>(which), create ? TRUE : FALSE)) {
        setLastError(static_cast<int>(GetLastError()), "SHGetSpecialFolderPathW");
        return false;
    }
    if (out)
        *out = reinterpret_cast<const char16_t*>(buf);
    return true;
}

void setAccountHomeLookup(AccountHomeLookup) {}

}  // namespace platform
