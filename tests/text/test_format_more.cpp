// Formatter cases found by fuzzing: precisions longer than the formatter's own digit buffers.
#include "text/format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

template <typename T>
void expectLikeSnprintf(const char* pattern, T value) {
    std::vector<char> narrow(300000);
    const int n = std::snprintf(narrow.data(), narrow.size(), pattern, value);
    ASSERT_GT(n, 0);
    EXPECT_EQ(nxFormatString(widen(pattern).c_str(), value),
              widen(std::string(narrow.data(), static_cast<std::size_t>(n))))
        << pattern;
}

TEST(FormatLongPrecision, IntegersGetEveryLeadingZeroTheyAskFor) {
    expectLikeSnprintf("%.705u|", 0u);
    expectLikeSnprintf("%.100d", -42);
    expectLikeSnprintf("%+120.90d", 7);
    expectLikeSnprintf("%-120.90x|", 0xBEEFu);
    expectLikeSnprintf("%#.200o", 8u);
    expectLikeSnprintf("%#.99X", 255u);
    expectLikeSnprintf("%.99999d", 1);
}

TEST(FormatLongPrecision, FloatsGetEveryDigitTheyAskFor) {
    expectLikeSnprintf("%.100f", 1.0 / 3);
    expectLikeSnprintf("%.300f", 1e300);
    expectLikeSnprintf("%.65e", -2.5);
    expectLikeSnprintf("%#.120g", 0.1);
    expectLikeSnprintf("%.400g", 5e-324);
    expectLikeSnprintf("%.1000f", 1.7976931348623157e308);
    expectLikeSnprintf("%.99999f", 0.5);
}

TEST(FormatLongPrecision, BoundedBufferKeepsThePrefix) {
    char16_t out[50];
    const std::size_t n = nxFormat(out, 50, u"%.300d", 5);
    EXPECT_EQ(n, 49u);
    EXPECT_EQ(std::u16string(out), std::u16string(49, u'0'));
}

}  // namespace
