// Code-page conversion on Windows: UTF-8 (65001) through the library's UTF-8 converter, shared
// with the POSIX backend and with the same arguments checks, results and error numbers as the
// system's functions; every other page through the real MultiByteToWideChar and
// WideCharToMultiByte, their failures recorded with the error number from GetLastError.
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/utf8.h"
#include "platform/win32/win32_support.h"

#include <cstring>

namespace platform {

namespace {

int fail(int code, const char* call) {
    setLastError(code, call);
    return 0;
}

}  // namespace

}  // namespace platform

namespace platform {

int multiByteToWideChar(unsigned int codePage, unsigned int flags, const char* in, int inLength,
                        char16_t* out, int outCapacity) {
    if (codePage == kCodePageUtf8) {
        const char* call = "MultiByteToWideChar";
        if (!in || inLength == 0 || inLength < -1 || outCapacity < 0 || (!out && outCapacity > 0))
            return fail(kErrorInvalidParameter, call);
        if (flags & ~kMbErrInvalidChars)
            return fail(kErrorInvalidFlags, call);
        const std::size_t n = inLength == -1 ? std::strlen(in) + 1 : static_cast<std::size_t>(inLength);
        return utf::utf8ToWide((flags & kMbErrInvalidChars) != 0, in, n, out, outCapacity);
    }
    int n = ::MultiByteToWideChar(codePage, flags, in, inLength, win32::wide(out), outCapacity);
    if (n == 0)
        setLastError(static_cast<int>(::GetLastError()), "MultiByteToWideChar");
    return n;
}

int multiByteValidPrefix(unsigned int codePage, const char* in, int inLength) {
    if (codePage == kCodePageUtf8) {
        if (!in || inLength <= 0)
            return 0;
        return static_cast<int>(utf::utf8To16(in, static_cast<std::size_t>(inLength), nullptr, 0,
                                              utf::Policy::Strict).read);
    }
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
    if (codePage == kCodePageUtf8) {
        const char* call = "WideCharToMultiByte";
        if (!in || inLength == 0 || inLength < -1 || outCapacity < 0 || (!out && outCapacity > 0))
            return fail(kErrorInvalidParameter, call);
        if (flags & ~kWcErrInvalidChars)
            return fail(kErrorInvalidFlags, call);
        if (defaultChar || usedDefault)
            return fail(kErrorInvalidParameter, call);
        std::size_t n = 0;
        if (inLength == -1) {
            while (in[n])
                ++n;
            ++n;
        } else {
            n = static_cast<std::size_t>(inLength);
        }
        bool lone = false;
        return utf::wideToUtf8((flags & kWcErrInvalidChars) != 0, in, n, out, outCapacity,
                               "\xEF\xBF\xBD", 3, &lone);
    }
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
