// Fuzz target of the UTF-16 formatter with random patterns over safe arguments. The pattern is
// tamed first: "*" becomes a digit and digit runs are cut to three, so no conversion takes a
// width from an argument, and at most 12 conversions are kept. On x86-64 the arguments after the
// first few travel in one overflow area; every one of its slots holds the same pointer to a text
// that is valid both as UTF-16 and as narrow text, so whatever type a conversion reads there is
// safe (doubles read from it are only odd values). Checks: a bounded buffer holds a prefix of the
// unbounded result; with only integer conversions the result matches the C library's.
#include "fuzz_util.h"
#include "text/format.h"

#include <cstdio>
#include <string>

using nxfuzz::check;

namespace {

alignas(16) const char16_t kSafe[] = u"S\u00e9\0";
const void* const P = kSafe;

std::u16string tame(const std::u16string& in) {
    std::u16string out;
    int digits = 0;
    int percents = 0;
    for (char16_t c : in) {
        if (c == u'*')
            c = u'7';
        if (c >= u'0' && c <= u'9') {
            if (++digits > 3)
                continue;
        } else {
            digits = 0;
        }
        if (c == u'%' && ++percents > 12)
            break;
        out += c;
    }
    return out;
}

// True when every conversion is a plain integer one that C's printf formats the same way.
bool integersOnly(const std::u16string& p) {
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (p[i] >= 0x80)
            return false;
        if (p[i] != u'%')
            continue;
        ++i;
        if (i < p.size() && p[i] == u'%')
            continue;
        while (i < p.size() && std::u16string(u"-+ #0").find(p[i]) != std::u16string::npos)
            ++i;
        while (i < p.size() && p[i] >= u'0' && p[i] <= u'9')
            ++i;
        if (i < p.size() && p[i] == u'.')
            for (++i; i < p.size() && p[i] >= u'0' && p[i] <= u'9'; ++i) {
            }
        if (i >= p.size() || std::u16string(u"diouxX").find(p[i]) == std::u16string::npos)
            return false;
    }
    return true;
}

// True when every conversion is a floating-point one (at most eight, so that all of them come
// from registers) that C's printf formats the same way.
bool floatsOnly(const std::u16string& p) {
    int conversions = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (p[i] >= 0x80)
            return false;
        if (p[i] != u'%')
            continue;
        ++i;
        if (i < p.size() && p[i] == u'%')
            continue;
        while (i < p.size() && std::u16string(u"-+ #0").find(p[i]) != std::u16string::npos)
            ++i;
        while (i < p.size() && p[i] >= u'0' && p[i] <= u'9')
            ++i;
        if (i < p.size() && p[i] == u'.')
            for (++i; i < p.size() && p[i] >= u'0' && p[i] <= u'9'; ++i) {
            }
        if (i >= p.size() || std::u16string(u"fFeEgG").find(p[i]) == std::u16string::npos)
            return false;
        if (++conversions > 8)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const unsigned capacity = data[0];
    const bool wide = data[1] & 1;
    std::u16string raw;
    if (wide)
        raw = nxfuzz::unitsOf(data + 2, size - 2);
    else
        for (std::size_t i = 2; i < size; ++i)
            raw += static_cast<char16_t>(data[i]);
    const std::u16string pattern = tame(std::u16string(raw.c_str()));
    const char16_t* pat = pattern.c_str();

#define NX_SAFE_ARGS                                                                    \
    P, P, P, P, P, 0.0, -1.5, 1e300, 123.456, -0.0, 5e-324, 1.0 / 3, 65536.0, P, P, P, P, P, \
        P, P, P, P, P, P, P, P, P, P, P, P, P, P, P, P, P, P, P, P, P, P, P
    const std::u16string full = nxFormatString(pat, NX_SAFE_ARGS);
    if (pattern.find(u'%') == std::u16string::npos)
        check(full == pattern, "a pattern without conversions is copied");

    std::u16string bounded(capacity + 1, u'\x5555');
    const std::size_t n = nxFormat(&bounded[0], capacity, pat, NX_SAFE_ARGS);
#undef NX_SAFE_ARGS
    if (capacity == 0) {
        check(n == 0 && bounded[0] == 0x5555, "capacity 0 writes nothing");
    } else {
        check(n <= capacity - 1 && bounded[n] == 0, "bounded result fits and is terminated");
        check(full.compare(0, n, bounded, 0, n) == 0, "bounded result is a prefix of the full one");
        check(n == full.size() || n == capacity - 1 || n + 1 == capacity - 1,
              "bounded result is cut only at its capacity");
    }

    if (integersOnly(pattern)) {
        const int v[12] = {0, -1, 42, 2147483647, -2147483647 - 1, 7, 255, -100, 100000, 1, 16, -9};
#define NX_INT_ARGS v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11]
        const std::u16string mine = nxFormatString(pat, NX_INT_ARGS);
        std::string narrow(pattern.begin(), pattern.end());
        char buf[8192];
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wformat-nonliteral"
#pragma clang diagnostic ignored "-Wformat-security"
        const int len = std::snprintf(buf, sizeof buf, narrow.c_str(), NX_INT_ARGS);
#pragma clang diagnostic pop
#undef NX_INT_ARGS
        check(len >= 0 && static_cast<std::size_t>(len) < sizeof buf, "reference fits");
        check(mine == std::u16string(buf, buf + len), "integer conversions match C's printf");
    }
    if (floatsOnly(pattern)) {
        const double d[8] = {0.0, -1.5, 1e300, 123.456, -0.0, 5e-324, 1.0 / 3, 0.000123456789};
#define NX_DOUBLE_ARGS d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]
        const std::u16string mine = nxFormatString(pat, NX_DOUBLE_ARGS);
        std::string narrow(pattern.begin(), pattern.end());
        static char buf[1 << 15];
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wformat-nonliteral"
#pragma clang diagnostic ignored "-Wformat-security"
        const int len = std::snprintf(buf, sizeof buf, narrow.c_str(), NX_DOUBLE_ARGS);
#pragma clang diagnostic pop
#undef NX_DOUBLE_ARGS
        check(len >= 0 && static_cast<std::size_t>(len) < sizeof buf, "reference fits");
        check(mine == std::u16string(buf, buf + len), "floating-point conversions match C's printf");
    }
    return 0;
}
