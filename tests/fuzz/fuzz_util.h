// Small helpers shared by the fuzz targets: a failed invariant prints what broke and aborts, so
// libFuzzer keeps the input as a crash.
#ifndef NXUTIL_TESTS_FUZZ_UTIL_H
#define NXUTIL_TESTS_FUZZ_UTIL_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace nxfuzz {

[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

inline void check(bool ok, const char* what) {
    if (!ok)
        fail(what);
}

// The bytes as little-endian UTF-16 units (an odd last byte is dropped).
inline std::u16string unitsOf(const std::uint8_t* data, std::size_t size) {
    std::u16string s(size / 2, u'\0');
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    return s;
}

// The UTF-16 units with every unpaired surrogate replaced by `replacement`.
inline std::u16string repairSurrogates(const std::u16string& s, char16_t replacement = 0xFFFD) {
    std::u16string out(s);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const char16_t c = out[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < out.size() && out[i + 1] >= 0xDC00 &&
            out[i + 1] <= 0xDFFF) {
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out[i] = replacement;
        }
    }
    return out;
}

}  // namespace nxfuzz

#endif
