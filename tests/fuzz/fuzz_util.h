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

[[noreturn]] inline void fail(const char* what, const std::string& detail = std::string()) {
    std::fprintf(stderr, "invariant broken: %s%s%s\n", what, detail.empty() ? "" : ": ",
                 detail.c_str());
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

// The bytes as UTF-16 units when `wide`, else as one unit per byte.
inline std::u16string textOf(const std::uint8_t* data, std::size_t size, bool wide) {
    return wide ? unitsOf(data, size) : std::u16string(data, data + size);
}

// The contents of an NxByteArray / NxString (templates, so that this header needs no text.h).
template <typename A>
std::string bytesOf(const A& a) {
    return std::string(a.constData(), static_cast<std::size_t>(a.size()));
}
template <typename S>
std::u16string unitsOf(const S& s) {
    return std::u16string(s.constString(), static_cast<std::size_t>(s.size()));
}

// A count-then-fill conversion: fill(nullptr, 0) gives the size, fill(buffer, size) the text.
template <typename Out, typename Fill>
Out converted(Fill fill) {
    const int n = fill(static_cast<typename Out::value_type*>(nullptr), 0);
    Out out(static_cast<std::size_t>(n > 0 ? n : 0), typename Out::value_type());
    if (n > 0)
        fill(&out[0], n);
    return out;
}

inline bool isAscii(const std::u16string& s) {
    for (char16_t c : s)
        if (c >= 0x80)
            return false;
    return true;
}

// The UTF-16 units with every unpaired surrogate replaced by `replacement`.
inline std::u16string repairSurrogates(const std::u16string& s, char16_t replacement = 0xFFFD) {
    std::u16string out(s);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const char16_t c = out[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < out.size() && out[i + 1] >= 0xDC00 &&
            out[i + 1] <= 0xDFFF)
            ++i;
        else if (c >= 0xD800 && c <= 0xDFFF)
            out[i] = replacement;
    }
    return out;
}

}  // namespace nxfuzz

#endif
