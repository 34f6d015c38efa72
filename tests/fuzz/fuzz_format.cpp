// Fuzz target of the UTF-16 formatter with random patterns over safe arguments: a bounded buffer
// holds a prefix of the unbounded result; with only integer conversions, or up to eight
// floating-point ones, the result matches the C library's. The pattern is tamed first ("*"
// becomes a digit, digit runs are cut to three, at most 12 conversions). On x86-64 the later
// arguments travel in one overflow area whose slots all hold one pointer to a text valid as
// UTF-16 and as narrow text, so whatever type a conversion reads there is safe.
#include "fuzz_util.h"
#include "format/format.h"

#include <cstdio>
#include <string>

using nxfuzz::check;

namespace {

alignas(16) const char16_t kSafe[] = u"S\u00e9\0";
const void* const P = kSafe;

std::u16string tame(const std::u16string& in) {
    std::u16string out;
    int digits = 0, percents = 0;
    for (char16_t c : in) {
        c = c == u'*' ? u'7' : c;
        digits = c >= u'0' && c <= u'9' ? digits + 1 : 0;
        if (digits > 3)
            continue;
        if (c == u'%' && ++percents > 12)
            break;
        out += c;
    }
    return out;
}

// True when the pattern is ASCII and has at most `most` conversions, each with flags, width and
// precision only and one of `letters`, so that C's printf formats it the same way.
bool onlyConversions(const std::u16string& p, const char16_t* letters, int most) {
    const auto digitsAt = [&p](std::size_t& i) {
        while (i < p.size() && p[i] >= u'0' && p[i] <= u'9')
            ++i;
    };
    int conversions = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (p[i] >= 0x80)
            return false;
        if (p[i] != u'%' || (++i < p.size() && p[i] == u'%'))
            continue;
        while (i < p.size() && std::u16string(u"-+ #0").find(p[i]) != std::u16string::npos)
            ++i;
        digitsAt(i);
        if (i < p.size() && p[i] == u'.')
            digitsAt(++i);
        if (i >= p.size() || std::u16string(letters).find(p[i]) == std::u16string::npos ||
            ++conversions > most)
            return false;
    }
    return true;
}

template <typename... Args>
void checkAgainstPrintf(const std::u16string& pattern, const char* what, Args... args) {
    const std::u16string mine = nxFormatString(pattern.c_str(), args...);
    const std::string narrow(pattern.begin(), pattern.end());
    static char buf[1 << 15];
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wformat-nonliteral"
#pragma clang diagnostic ignored "-Wformat-security"
    const int len = std::snprintf(buf, sizeof buf, narrow.c_str(), args...);
#pragma clang diagnostic pop
    check(len >= 0 && static_cast<std::size_t>(len) < sizeof buf, "reference fits");
    check(mine == std::u16string(buf, buf + len), what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const unsigned capacity = data[0];
    const std::u16string pattern = tame(nxfuzz::textOf(data + 2, size - 2, data[1] & 1).c_str());
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

    if (onlyConversions(pattern, u"diouxX", 12))
        checkAgainstPrintf(pattern, "integer conversions match C's printf", 0, -1, 42, 2147483647,
                           -2147483647 - 1, 7, 255, -100, 100000, 1, 16, -9);
    if (onlyConversions(pattern, u"fFeEgG", 8))
        checkAgainstPrintf(pattern, "floating-point conversions match C's printf", 0.0, -1.5,
                           1e300, 123.456, -0.0, 5e-324, 1.0 / 3, 0.000123456789);
    return 0;
}
