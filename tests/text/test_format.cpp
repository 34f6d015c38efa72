// The UTF-16 formatter against the C library's snprintf for every conversion both share, and
// the Windows-only conventions ("%s" wide, "%S" narrow, "%I64d", "%p") on their own.
#include "format/format.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

using nxtest::widen;

// The same pattern and arguments through snprintf, nxFormatString and nxFormat (into a buffer
// that just holds the result); long precisions included, which once outgrew the formatter's
// own digit buffers (integers stopped at 80 digits, floating point at 64).
template <typename... Args>
void expectSameAsSnprintf(const char* pattern, Args... args) {
    const int n = std::snprintf(nullptr, 0, pattern, args...);
    ASSERT_GE(n, 0) << pattern;
    std::string narrow(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(&narrow[0], narrow.size(), pattern, args...);
    const std::u16string want = widen(narrow.substr(0, narrow.size() - 1)), wpattern = widen(pattern);
    std::u16string wide(want.size() + 2, u'#');
    EXPECT_EQ(nxFormat(&wide[0], want.size() + 1, wpattern.c_str(), args...), want.size()) << pattern;
    EXPECT_EQ(wide, want + u'\0' + u'#') << pattern;
    EXPECT_EQ(nxFormatString(wpattern.c_str(), args...), want) << pattern;
}

TEST(Formatter, IntegerConversionsMatchTheCLibrary) {
    for (int v : {0, 7, -42, 123456, INT_MAX, INT_MIN}) {
        for (const char* p : {"%d", "%i", "%5d", "%-5d|", "%05d", "%+d", "% d", "%+05d", "%.3d", "%8.3d", "%-8.3d|",
                              "%.0d", "%5.0d", "%+.0d", "%0-6d|", "% 07d"})
            expectSameAsSnprintf(p, v);
        expectSameAsSnprintf("%*d|%*d", 7, v, -7, v);
    }
    for (unsigned v : {0u, 8u, 0xABCDu, 0x7FFFFFFFu, 0xFFFFFFFFu})
        for (const char* p : {"%u", "%x", "%X", "%o", "%#x", "%#X", "%#o", "%08x", "%#08x", "%-#10x|", "%.0x",
                              "%#.0x", "%.5o", "%#.5o", "%10.4X", "%#10.4X"})
            expectSameAsSnprintf(p, v);
    // '#' with octal forces a leading zero even where precision 0 prints no digits (the Windows
    // C runtime prints nothing there, glibc "0"; the formatter follows the C standard).
    EXPECT_EQ(nxFormatString(u"%#.0o|%#.0o|%#o", 0u, 8u, 0u), u"0|010|0");
    for (long long v : {0LL, -1LL, LLONG_MAX, LLONG_MIN, 1234567890123LL}) {
        const auto u = static_cast<unsigned long long>(v);
        const int i = static_cast<int>(v);
        expectSameAsSnprintf("%lld|%20lld|%-+22lld|", v, v, v);
        expectSameAsSnprintf("%llu %llx %llX %#llo", u, u, u, u);
        expectSameAsSnprintf("%ld %lu %lx", static_cast<long>(v), static_cast<unsigned long>(u),
                             static_cast<unsigned long>(u));
        expectSameAsSnprintf("%hd %hu %hhd %hhx", i, i, i, i);
        expectSameAsSnprintf("%zu %zx", static_cast<std::size_t>(u), static_cast<std::size_t>(u));
    }
}

TEST(Formatter, FloatingPointConversionsMatchTheCLibrary) {
    for (const char* p : {"%f", "%e", "%g", "%E", "%G", "%F", "%.0f", "%#.0f", "%.0e", "%#.0e", "%.3f", "%10.3f",
                          "%-10.3f|", "%010.3f", "%+f", "% f", "%+010.2e", "%.10g", "%#g", "%#.3g", "%.0g", "%#.0g",
                          "%12.4G", "%-12g|", "%.1g", "%.17g", "%.20f"})
        for (double v : {0.0, -0.0, -1.5, 0.1, 2.5, 3.5, 1e-5, 1.23456e-5, 123456.789, 1e15, 9.9999996, 0.000123456,
                         1e100, -2.5e-300, DBL_MAX, DBL_MIN, DBL_TRUE_MIN, 100000.0, 999999.5, 1e6, HUGE_VAL, -HUGE_VAL})
            if (std::string(p) != "%#g" || v != 999999.5)   // glibc drops the zeros '#' keeps: below
                expectSameAsSnprintf(p, v);
    EXPECT_EQ(nxFormatString(u"%#g|%g", 999999.5, 999999.5), u"1.00000e+06|1e+06");
    expectSameAsSnprintf("%*.*f|%-*.*e|", 12, 3, 3.14159, 14, 2, -2.71828);
    expectSameAsSnprintf("%.*f", -1, 1.5);
    expectSameAsSnprintf("%f %F", std::nan(""), std::nan(""));
}

TEST(Formatter, TextConversionsMatchTheCLibraryWhenBothAreWide) {
    // "%s" is the C library's narrow string and the formatter's UTF-16 string.
    const char* pattern = "%s|%10s|%-10s|%.2s|%8.3s|%-8.0s|%c|%3c|%-3c|";
    for (const char* w : {"", "a", "hello world"}) {
        const int c = w[0] ? w[0] : 'z';
        char narrow[256];
        std::snprintf(narrow, sizeof narrow, pattern, w, w, w, w, w, w, c, c, c);
        const std::u16string wide = widen(w);
        const char16_t* x = wide.c_str();
        EXPECT_EQ(nxtest::narrow(nxFormatString(widen(pattern).c_str(), x, x, x, x, x, x, c, c, c)), narrow) << w;
    }
}

TEST(Formatter, FollowsTheWindowsWideConventions) {
    EXPECT_EQ(nxFormatString(u"%s and %S|%hs|%ls|%ws", u"wide", "narrow", "n", u"w", u"w2"), u"wide and narrow|n|w|w2");
    EXPECT_EQ(nxFormatString(u"%S|%S", "gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80", "a\xFF" "b\xC3"),
              u"gr\u00FC\u00DF \u20AC \U0001F600|a\uFFFDb\uFFFD");
    EXPECT_EQ(nxFormatString(u"%s|%S|%5s|", static_cast<const char16_t*>(nullptr),
                             static_cast<const char*>(nullptr), static_cast<const char16_t*>(nullptr)),
              u"(null)|(null)|(null)|");
    EXPECT_EQ(nxFormatString(u"%c%c%C", 0x20AC, u'x', 'y'), u"\u20ACxy");
    EXPECT_EQ(nxFormatString(u"%I64d %I64u %I64x %08I64X", -1234567890123LL, 18446744073709551615ULL,
                             0xABCDEF012345ULL, 0xABCDULL),
              u"-1234567890123 18446744073709551615 abcdef012345 0000ABCD");
    EXPECT_EQ(nxFormatString(u"%I32d %Iu", -5, static_cast<std::size_t>(77)), u"-5 77");
    EXPECT_EQ(nxFormatString(u"100%% %d%%|%05s|%y and %", 5, u"ab"), u"100% 5%|000ab|%y and %");
    int untouched = 7;   // "%n" writes nothing and prints nothing
    EXPECT_EQ(nxFormatString(u"a%nb", &untouched), u"ab");
    EXPECT_EQ(untouched, 7);
    // "%p" is upper-case hexadecimal padded to the pointer's width.
    const std::size_t digits = 2 * sizeof(void*);
    const void* p = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(0xBEEF));
    EXPECT_EQ(nxFormatString(u"%p", p), std::u16string(digits - 4, u'0') + u"BEEF");
    EXPECT_EQ(nxFormatString(u"[%p]", static_cast<const void*>(nullptr)), u"[" + std::u16string(digits, u'0') + u"]");
    EXPECT_EQ(nxFormatString(static_cast<const char16_t*>(nullptr)), u"");
}

// Every capacity cuts the unlimited result at capacity - 1 units and terminates it.
template <typename... Args>
void expectCutAtEveryCapacity(const char16_t* pattern, Args... args) {
    const std::u16string full = nxFormatString(pattern, args...);
    for (std::size_t cap = 1; cap <= full.size() + 2; ++cap) {
        std::u16string out(full.size() + 3, u'#');
        const std::size_t want = std::min(cap - 1, full.size());
        const std::string what = nxtest::narrow(pattern) + " cap " + std::to_string(cap);
        ASSERT_EQ(nxFormat(&out[0], cap, pattern, args...), want) << what;
        ASSERT_EQ(out.substr(0, want + 2), full.substr(0, want) + u'\0' + u'#') << what;
    }
}

TEST(Formatter, CutsTheOutputAtTheCapacityWhateverTheWidth) {
    expectCutAtEveryCapacity(u"%s=%08.3f (%#x) %S", u"key", 3.25, 255u, "tail");
    expectCutAtEveryCapacity(u"%s-%d|%10d|%-10d|", u"abcdef", 12345, 5, 5);
    expectCutAtEveryCapacity(u"%f", 1e300);
    char16_t buf[16] = {u'#'};
    EXPECT_EQ(nxFormat(buf, 0, u"abc"), 0u);   // capacity 0 writes nothing, not even the zero
    EXPECT_EQ(buf[0], u'#');
    // Huge widths stay bounded by the capacity; a negative "*" width, even INT_MIN, left-aligns.
    EXPECT_EQ(nxFormat(buf, 16, u"%2147483647d", 1), 15u);
    EXPECT_EQ(nxFormat(buf, 16, u"%*d", INT_MIN, 1), 15u);
    EXPECT_EQ(buf[0], u'1');
    EXPECT_EQ(nxFormatString(u"[%*d|%.*f|%*.*s]", -4, 7, -3, 1.5, 3, 1, u"xy"),
              u"[7   |1.500000|  x]");  // a negative "*" precision counts as none
    EXPECT_EQ(nxFormatString(u"%*d", -200000, 1).size(), 100000u);  // "*" widths are capped
    EXPECT_EQ(nxFormatString(u"%.300d", 1), std::u16string(299, u'0') + u"1");
}

TEST(Formatter, PrintsEveryDigitOfALongPrecision) {
    for (const char* p : {"%.705u|", "%-120.90x|", "%#.200o", "%#.99X"})
        for (unsigned v : {0u, 8u, 255u, 0xBEEFu})
            expectSameAsSnprintf(p, v);
    for (const char* p : {"%.100d", "%+120.90d", "%.99999d"})
        for (int v : {-42, 0, 1, 7})
            expectSameAsSnprintf(p, v);
    for (const char* p : {"%.100f", "%.300f", "%.65e", "%#.120g", "%.400g", "%.1000f", "%.99999f"})
        for (double v : {1.0 / 3, 0.5, -2.5, 0.1, 5e-324, 1e300, 1.7976931348623157e308})
            expectSameAsSnprintf(p, v);
    // A bounded buffer keeps the prefix of the long result.
    char16_t out[50];
    EXPECT_EQ(nxFormat(out, 50, u"%.300d", 5), 49u);
    EXPECT_EQ(std::u16string(out), std::u16string(49, u'0'));
}

}  // namespace
