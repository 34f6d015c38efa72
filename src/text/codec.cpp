// NxTextCodec: conversion between bytes in the codec's code page and UTF-16 through the
// platform's code-page functions, in one call into the result sized from the input's bound (a
// byte never decodes to more than one unit; a unit never encodes to more than three UTF-8
// bytes), then shrunk to the result; short encodings go through a local buffer.
#include "text/text.h"

#include "platform/codepage.h"
#include "platform/error.h"

#include <climits>
#include <cstddef>

namespace {

constexpr int kLocalUnits = 4096;
constexpr int kLocalBytes = 4096;

// Frees a block from nxMalloc when the conversion is done.
struct HeapBlock {
    void* p = nullptr;
    ~HeapBlock() { nxFree(p); }
};

}  // namespace

unsigned int NxTextCodec::codepage() const {
    switch (m_encoding) {
    case Utf8: return platform::kCodePageUtf8;
    case Ansi: return platform::kCodePageAnsi;
    default: return 0xFFFFFFFFu;
    }
}

NxString NxTextCodec::toUnicode(const char* in, int length, int*) const {
    unsigned int cp = codepage();
    if (cp == 0xFFFFFFFFu || length == 0)
        return NxString();
    if (length > 0)
        return NxString(NxString::decodeStrict_helper(cp, in, length));
    // A zero-terminated input (its terminator counts): a local buffer, else one sized by a
    // measuring call.
    char16_t local[kLocalUnits];
    char16_t* buf = local;
    int capacity = kLocalUnits;
    HeapBlock heap;
    int units = platform::multiByteToWideChar(cp, platform::kMbErrInvalidChars, in, length, buf,
                                              capacity);
    while (units == 0) {
        int error = platform::lastError().code;
        if (error == platform::kErrorInsufficientBuffer && !heap.p) {
            int needed = platform::multiByteToWideChar(cp, 0, in, length, nullptr, 0);
            if (needed <= 0)
                break;
            std::size_t bytes = static_cast<std::size_t>(needed) * 2;
            if (bytes > UINT_MAX)
                break;
            heap.p = nxMalloc(static_cast<unsigned int>(bytes));
            if (!heap.p)
                break;
            buf = static_cast<char16_t*>(heap.p);
            capacity = needed;
        } else if (error == platform::kErrorNoUnicodeTranslation && length > 0) {
            // Keep the longest prefix that decodes: the same result as dropping one byte at a
            // time and retrying, found in one pass.
            int prefix = platform::multiByteValidPrefix(cp, in, length);
            length = prefix < length ? prefix : length - 1;
            if (length <= 0)
                break;
        } else {
            // Any other failure, including -1 input with an invalid sequence.
            break;
        }
        units = platform::multiByteToWideChar(cp, platform::kMbErrInvalidChars, in, length, buf,
                                              capacity);
    }
    return NxString::fromWCharArray(buf, units);
}

NxByteArray NxTextCodec::fromUnicode(const char16_t* in, int length) const {
    unsigned int cp = codepage();
    if (cp == 0xFFFFFFFFu || length == 0)
        return NxByteArray();
    // Every unit gives at least one byte: a longer input cannot fit the local buffer, so the
    // attempt that would fail with "buffer too small" is skipped.
    const bool utf8 = cp == platform::kCodePageUtf8;
    if (length < 0 || (utf8 ? length <= kLocalBytes / 3 : length <= kLocalBytes)) {
        char local[kLocalBytes];
        int bytes = platform::wideCharToMultiByte(cp, 0, in, length, local, kLocalBytes, nullptr,
                                                  nullptr);
        if (bytes != 0 || platform::lastError().code != platform::kErrorInsufficientBuffer)
            return NxByteArray(local, bytes);
    }
    int bound = length;
    if (length > 0 && utf8 && length <= INT_MAX / 3)
        bound = 3 * length;   // UTF-8: at most three bytes per unit, so one call suffices
    else
        bound = platform::wideCharToMultiByte(cp, 0, in, length, nullptr, 0, nullptr, nullptr);
    if (bound <= 0)
        return NxByteArray("");   // a failed conversion: empty, not null
    // Encoded straight into the result's record, then shrunk to capacity and size of the
    // result, as a copy from a separate buffer would have.
    NxByteArray result;
    result.resize(bound);
    int bytes = platform::wideCharToMultiByte(cp, 0, in, length, result.data(), bound, nullptr,
                                              nullptr);
    if (bytes <= 0)
        return NxByteArray("");
    if (bytes < bound) {
        result.resize(bytes);
        result.squeeze();
    }
    return result;
}
