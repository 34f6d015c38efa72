// Formatter cases found by fuzzing: precisions longer than the formatter's own digit buffers
// (integers stopped at 80 digits, floating point at 64).
#include "text/format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

template <typename T>
void expectLikeSnprintf(const char* pattern, T value) {
    std::vector<char> narrow(300000);
    const int n = std::snprintf(narrow.data(), narrow.size(), pattern, value);
    ASSERT_GT(n, 0);
    const std::string p(pattern), want(narrow.data(), static_cast<std::size_t>(n));
    EXPECT_EQ(nxFormatString(std::u16string(p.begin(), p.end()).c_str(), value),
              std::u16string(want.begin(), want.end())) << pattern;
}

TEST(FormatLongPrecision, EveryDigitAskedForIsPrinted) {
    for (const char* p : {"%.705u|", "%-120.90x|", "%#.200o", "%#.99X"})
        for (unsigned v : {0u, 8u, 255u, 0xBEEFu})
            expectLikeSnprintf(p, v);
    for (const char* p : {"%.100d", "%+120.90d", "%.99999d"})
        for (int v : {-42, 0, 1, 7})
            expectLikeSnprintf(p, v);
    for (const char* p : {"%.100f", "%.300f", "%.65e", "%#.120g", "%.400g", "%.1000f", "%.99999f"})
        for (double v : {1.0 / 3, 0.5, -2.5, 0.1, 5e-324, 1e300, 1.7976931348623157e308})
            expectLikeSnprintf(p, v);
    // A bounded buffer keeps the prefix of the long result.
    char16_t out[50];
    EXPECT_EQ(nxFormat(out, 50, u"%.300d", 5), 49u);
    EXPECT_EQ(std::u16string(out), std::u16string(49, u'0'));
}

}  // namespace
