// Code-page conversion on Windows: the real MultiByteToWideChar and WideCharToMultiByte; their
// failures are recorded with the error number from GetLastError.
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/win32/win32_support.h"

namespace platform {

int multiByteToWideChar(unsigned int codePage, unsigned int flags, const char* in, int inLength,
                        char16_t* out, int outCapacity) {
    int n = ::MultiByteToWideChar(codePage, flags, in, inLength, win32::wide(out), outCapacity);
    if (n == 0)
        setLastError(static_cast<int>(::GetLastError()), "MultiByteToWideChar");
    return n;
}

int wideCharToMultiByte(unsigned int codePage, unsigned int flags, const char16_t* in,
                        int inLength, char* out, int outCapacity, const char* defaultChar,
                        bool* usedDefault) {
    BOOL used = FALSE;
    int n = ::WideCharToMultiByte(codePage, flags, win32::wide(in), inLength, out, outCapacity,
                                  defaultChar, usedDefault ? &used : nullptr);
    if (n == 0)
        setLastError(static_cast<int>(::GetLastError()), "WideCharToMultiByte");
    else if (usedDefault)
        *usedDefault = used != FALSE;
    return n;
}

}  // namespace platform
