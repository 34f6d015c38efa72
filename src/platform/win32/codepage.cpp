// Code-page conversion on Windows: UTF-8 (65001) through the code shared with the POSIX backend
// (codepage_utf8.h), which has the system's argument checks, results and error numbers; every
// other page through the real MultiByteToWideChar and WideCharToMultiByte, their failures
// recorded with the error number from GetLastError.
#include "platform/codepage.h"
#include "platform/codepage_utf8.h"
#include "platform/error.h"
#include "platform/win32/win32_support.h"

namespace platform {

int multiByteToWideChar(unsigned int codePage, unsigned int flags, const char* in, int inLength,
                        char16_t* out, int outCapacity) {
    if (codePage == kCodePageUtf8)
        return codepage::utf8PageToWide(flags, in, inLength, out, outCapacity);
    int n = ::MultiByteToWideChar(codePage, flags, in, inLength, win32::wide(out), outCapacity);
    if (n == 0)
        setLastError(static_cast<int>(::GetLastError()), "MultiByteToWideChar");
    return n;
}

int multiByteValidPrefix(unsigned int codePage, const char* in, int inLength) {
    if (codePage == kCodePageUtf8)
        return codepage::utf8ValidPrefix(in, inLength);
    // The API does not say where strict decoding failed. Prefixes up to the first bad
    // sequence decode when they end on a character boundary, and no longer prefix does; a
    // character has at most four bytes, so of four consecutive lengths below the failure one
    // decodes. That allows a bisection, then a short linear finish.
    int lo = 0;           // a prefix length known to decode (0 trivially)
    int hi = inLength;    // the answer is at most hi
    if (!in || hi <= 0)
        return 0;
    while (hi - lo > 8) {
        int mid = lo + (hi - lo) / 2;
        int good = -1;
        for (int k = mid; k > mid - 4 && k > lo; --k) {
            if (::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in, k, nullptr, 0) != 0) {
                good = k;
                break;
            }
        }
        if (good > 0)
            lo = good;
        else
            hi = mid;
    }
    for (int k = hi; k > lo; --k)
        if (::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in, k, nullptr, 0) != 0)
            return k;
    return lo;
}

int wideCharToMultiByte(unsigned int codePage, unsigned int flags, const char16_t* in,
                        int inLength, char* out, int outCapacity, const char* defaultChar,
                        bool* usedDefault) {
    if (codePage == kCodePageUtf8)
        return codepage::utf8PageFromWide(flags, in, inLength, out, outCapacity, defaultChar,
                                          usedDefault);
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
