// Code page 65001 and the argument checks shared by both backends' code-page functions.
#include "platform/codepage_utf8.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/utf8.h"

#include <climits>
#include <cstring>

namespace platform::codepage {

namespace {

constexpr const char* kDecodeCall = "MultiByteToWideChar";
constexpr const char* kEncodeCall = "WideCharToMultiByte";

int fail(int code, const char* call) {
    setLastError(code, call);
    return 0;
}

int lengthResult(std::size_t produced, const char* call) {
    if (produced > static_cast<std::size_t>(INT_MAX))
        return fail(kErrorArithmeticOverflow, call);
    return static_cast<int>(produced);
}

}  // namespace

bool argumentsValid(const void* in, int inLength, const void* out, int outCapacity,
                    const char* call) {
    if (in && inLength != 0 && inLength >= -1 && outCapacity >= 0 && (out || outCapacity == 0))
        return true;
    setLastError(kErrorInvalidParameter, call);
    return false;
}

std::size_t inputLength(const char* in, int inLength) {
    return inLength == -1 ? std::strlen(in) + 1 : static_cast<std::size_t>(inLength);
}

std::size_t inputLength(const char16_t* in, int inLength) {
    return inLength == -1 ? utf::length16(in) + 1 : static_cast<std::size_t>(inLength);
}

int utf8PageToWide(unsigned int flags, const char* in, int inLength, char16_t* out,
                   int outCapacity) {
    if (!argumentsValid(in, inLength, out, outCapacity, kDecodeCall))
        return 0;
    if (flags & ~kMbErrInvalidChars)
        return fail(kErrorInvalidFlags, kDecodeCall);
    return utf8ToWide((flags & kMbErrInvalidChars) != 0, in, inputLength(in, inLength), out,
                      outCapacity);
}

int utf8PageFromWide(unsigned int flags, const char16_t* in, int inLength, char* out,
                     int outCapacity, const char* defaultChar, bool* usedDefault) {
    if (!argumentsValid(in, inLength, out, outCapacity, kEncodeCall))
        return 0;
    if (flags & ~kWcErrInvalidChars)
        return fail(kErrorInvalidFlags, kEncodeCall);
    if (defaultChar || usedDefault)
        return fail(kErrorInvalidParameter, kEncodeCall);
    bool lone = false;
    return wideToUtf8((flags & kWcErrInvalidChars) != 0, in, inputLength(in, inLength), out,
                      outCapacity, "\xEF\xBF\xBD", 3, &lone);
}

int utf8ToWide(bool strict, const char* in, std::size_t n, char16_t* out, int outCapacity) {
    const utf::Policy policy = strict ? utf::Policy::Strict : utf::Policy::Replace;
    utf::Result r = utf::utf8To16(in, n, outCapacity ? out : nullptr,
                                  static_cast<std::size_t>(outCapacity), policy);
    if (r.full) {
        // A fault further on takes precedence over the missing room.
        utf::Result rest = utf::utf8To16(in + r.read, n - r.read, nullptr, 0, policy);
        return fail(rest.ok ? kErrorInsufficientBuffer : kErrorNoUnicodeTranslation, kDecodeCall);
    }
    if (!r.ok)
        return fail(kErrorNoUnicodeTranslation, kDecodeCall);
    return lengthResult(r.written, kDecodeCall);
}

int wideToUtf8(bool strict, const char16_t* in, std::size_t n, char* out, int outCapacity,
               const char* lone, std::size_t loneLength, bool* usedLone) {
    const utf::Policy policy = strict ? utf::Policy::Strict : utf::Policy::Replace;
    utf::Result r = utf::utf16To8(in, n, outCapacity ? out : nullptr,
                                  static_cast<std::size_t>(outCapacity), policy, lone, loneLength);
    if (r.full) {
        utf::Result rest = utf::utf16To8(in + r.read, n - r.read, nullptr, 0, policy, lone,
                                         loneLength);
        return fail(rest.ok ? kErrorInsufficientBuffer : kErrorNoUnicodeTranslation, kEncodeCall);
    }
    if (!r.ok)
        return fail(kErrorNoUnicodeTranslation, kEncodeCall);
    *usedLone = r.replaced;
    return lengthResult(r.written, kEncodeCall);
}

int utf8ValidPrefix(const char* in, int inLength) {
    if (!in || inLength <= 0)
        return 0;
    return static_cast<int>(
        utf::utf8To16(in, static_cast<std::size_t>(inLength), nullptr, 0, utf::Policy::Strict)
            .read);
}

}  // namespace platform::codepage
