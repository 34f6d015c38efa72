// Private-profile files on Win32: the system's profile functions.
#include "platform/profile.h"
#include "platform/error.h"
#include "platform/win32/win32_support.h"

namespace platform {

std::size_t profileGetString(const char16_t* file, const char16_t* section, const char16_t* key,
                             const char16_t* defaultValue, char16_t* out, std::size_t capacity) {
    if (!out || capacity == 0)
        return 0;
    const DWORD cap = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(capacity);
    return GetPrivateProfileStringW(win32::wide(section), win32::wide(key),
                                    win32::wide(defaultValue), win32::wide(out), cap,
                                    win32::wide(file));
}

bool profileWriteString(const char16_t* file, const char16_t* section, const char16_t* key,
                        const char16_t* value) {
    if (!WritePrivateProfileStringW(win32::wide(section), win32::wide(key), win32::wide(value),
                                    win32::wide(file))) {
        setLastError(static_cast<int>(GetLastError()), "WritePrivateProfileStringW");
        return false;
    }
    return true;
}

}  // namespace platform
