// Code-page conversion, URL encoding, hexadecimal text, random bounds, splitting and case.
#include "pubfunc/pubfunc.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

TEST(Strings, ToWideStringCountsTheTerminatorOnlyWhenAsked) {
    EXPECT_EQ(u"abc", pubfunc::toWideString("abc", -1, 65001));
    EXPECT_EQ(std::u16string(u"abc\0", 4), pubfunc::toWideString("abc", 4, 65001));
    EXPECT_EQ(u"ab", pubfunc::toWideString("abc", 2, 65001));
    EXPECT_EQ(u"\u00FC\U0001F600", pubfunc::toWideString("\xC3\xBC\xF0\x9F\x98\x80", -1, 65001));
    EXPECT_EQ(u"a\uFFFDb", pubfunc::toWideString("a\xFF" "b", -1, 65001));
    EXPECT_EQ(u"", pubfunc::toWideString(nullptr, -1, 65001));
    EXPECT_EQ(u"", pubfunc::toWideString("abc", -2, 65001));
    EXPECT_EQ(u"", pubfunc::toWideString("abc", 0, 65001));
    EXPECT_EQ(u"", pubfunc::toWideString("", -1, 65001));
}

TEST(Strings, ToNarrowStringMirrorsToWideString) {
    EXPECT_EQ("abc", pubfunc::toNarrowString(u"abc", -1, 65001));
    EXPECT_EQ(std::string("ab\0", 3), pubfunc::toNarrowString(u"ab", 3, 65001));
    EXPECT_EQ("\xE4\xB8\xAD", pubfunc::toNarrowString(u"\u4E2D", -1, 65001));
    EXPECT_EQ("", pubfunc::toNarrowString(nullptr, -1, 65001));
    EXPECT_EQ("", pubfunc::toNarrowString(u"abc", -5, 65001));
    const std::u16string round = pubfunc::toWideString(
        pubfunc::toNarrowString(u"gr\u00FC\u00DFe \U0001F3AE", -1, 65001).c_str(), -1, 65001);
    EXPECT_EQ(u"gr\u00FC\u00DFe \U0001F3AE", round);
}

TEST(Strings, UrlEncodingKeepsOnlyLettersDigitsAndDots) {
    EXPECT_EQ("a%20b.c", pubfunc::URLEncode2(std::string("a b.c")));
    EXPECT_EQ("%2D%5F%7E%2F%3F%3D%26", pubfunc::URLEncode2(std::string("-_~/?=&")));
    EXPECT_EQ("AZaz09", pubfunc::URLEncode2(std::string("AZaz09")));
    EXPECT_EQ("%FF%80", pubfunc::URLEncode2(std::string("\xFF\x80")));
    EXPECT_EQ("ab", pubfunc::URLEncode2(std::string("ab\0cd", 5)));  // stops at the zero
    EXPECT_EQ("", pubfunc::URLEncode2(std::string()));
    EXPECT_EQ("%C3%BC", pubfunc::URLEncode2(std::u16string(u"\u00FC")));
    EXPECT_EQ("x%20%E4%B8%AD", pubfunc::URLEncode2(std::u16string(u"x \u4E2D")));
}

TEST(Strings, HashStringIsLowerCaseHexOfEveryByte) {
    EXPECT_EQ("0fa0", pubfunc::getHashString("\x0F\xA0", 2));
    EXPECT_EQ("", pubfunc::getHashString("abc", 0));
    EXPECT_EQ("", pubfunc::getHashString("abc", -3));
    EXPECT_EQ("", pubfunc::getHashString(nullptr, 4));
    // Longer inputs than a digest are encoded whole.
    std::string bytes(40, '\0');
    for (int i = 0; i < 40; ++i)
        bytes[i] = static_cast<char>(i * 13);
    const std::string hex = pubfunc::getHashString(bytes.data(), 40);
    ASSERT_EQ(80u, hex.size());
    EXPECT_EQ("000d1a27", hex.substr(0, 8));
    EXPECT_EQ("fb", hex.substr(78));  // 39 * 13 = 507, low byte 0xFB
}

TEST(Strings, RandomNumbersStayWithinTheirBounds) {
    EXPECT_EQ(5u, pubfunc::GetRandomNum(5, 5));
    EXPECT_EQ(3u, pubfunc::GetRandomNum(9, 3));
    for (int i = 0; i < 200; ++i) {
        const unsigned small = pubfunc::GetRandomNum(1, 100);
        EXPECT_GE(small, 1u);
        EXPECT_LE(small, 100u);
        const unsigned wide = pubfunc::GetRandomNum(1000, 5000000);
        EXPECT_GE(wide, 1000u);
        EXPECT_LE(wide, 5000000u);
        const unsigned full = pubfunc::GetRandomNum(0xFFFFFF00u, 0xFFFFFFFFu);
        EXPECT_GE(full, 0xFFFFFF00u);
        const unsigned all = pubfunc::GetRandomNum(0, 0xFFFFFFFFu);
        (void)all;  // every value is in range; the call must simply not trap
    }
    // Reseeded with the current second: two calls within one second agree.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const unsigned a = pubfunc::GetRandomNum(1, 100);
        const unsigned b = pubfunc::GetRandomNum(1, 100);
        if (std::time(nullptr) == before) {
            EXPECT_EQ(a, b);
            break;
        }
    }
}

TEST(Strings, SplitKeepsEmptyPiecesAndAppends) {
    struct Case {
        std::u16string text, sep;
        std::vector<std::u16string> pieces;
    } cases[] = {
        {u"a,,b,", u",", {u"a", u"", u"b", u""}},
        {u",a", u",", {u"", u"a"}},
        {u"", u",", {u""}},
        {u"abc", u",", {u"abc"}},
        {u"a::b::::c", u"::", {u"a", u"b", u"", u"c"}},
        {u"a:b", u"", {u"a:b"}},
    };
    for (const Case& c : cases) {
        std::vector<std::u16string> out;
        pubfunc::splitString(c.text, c.sep, out);
        EXPECT_EQ(c.pieces, out);
    }
    std::vector<std::u16string> kept = {u"old"};
    pubfunc::splitString(u"x;y", u";", kept);
    EXPECT_EQ((std::vector<std::u16string>{u"old", u"x", u"y"}), kept);
}

TEST(Strings, CaseMappingIsUnitByUnit) {
    std::u16string s = u"MiXeD 123 _-";
    pubfunc::ToLower(s);
    EXPECT_EQ(u"mixed 123 _-", s);
    pubfunc::ToUpper(s);
    EXPECT_EQ(u"MIXED 123 _-", s);
    std::u16string sharp = u"stra\u00DFe";
    pubfunc::ToUpper(sharp);
    EXPECT_EQ(u"STRA\u00DFE", sharp);  // no single-unit capital for the sharp s
    std::u16string pair = u"\U0001F600";
    pubfunc::ToLower(pair);
    EXPECT_EQ(u"\U0001F600", pair);
}

}  // namespace
