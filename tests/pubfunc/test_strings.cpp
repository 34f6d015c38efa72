// Code-page conversion, URL encoding, hexadecimal text, random bounds, splitting, case, the
// key table and the hotkey texts.
#include "pubfunc/pubfunc.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

TEST(Strings, ConversionsCountTheTerminatorOnlyWhenAsked) {
    EXPECT_EQ(std::u16string(u"abc\0", 4), pubfunc::toWideString("abc", 4, 65001));
    EXPECT_EQ(u"a\uFFFDb", pubfunc::toWideString("a\xFF" "b", -1, 65001));
    for (int length : {-2, 0})
        EXPECT_EQ(u"", pubfunc::toWideString("abc", length, 65001)) << length;
    EXPECT_EQ(u"", pubfunc::toWideString(nullptr, -1, 65001));
    EXPECT_EQ(std::string("ab\0", 3), pubfunc::toNarrowString(u"ab", 3, 65001));
    EXPECT_EQ("", pubfunc::toNarrowString(nullptr, -1, 65001));
    EXPECT_EQ("", pubfunc::toNarrowString(u"abc", -5, 65001));
    const std::u16string text = u"gr\u00FC\u00DFe \u4E2D\U0001F3AE";
    const std::string narrow = pubfunc::toNarrowString(text.c_str(), -1, 65001);
    EXPECT_EQ("gr\xC3\xBC\xC3\x9F" "e \xE4\xB8\xAD\xF0\x9F\x8E\xAE", narrow);
    EXPECT_EQ(text, pubfunc::toWideString(narrow.c_str(), -1, 65001));
}

TEST(Strings, UrlEncodingKeepsLettersDigitsDotsAndHashTextIsLowerCaseHex) {
    EXPECT_EQ("AZaz09.%20%2D%5F%7E%2F%3F%3D%26%FF%80",
              pubfunc::URLEncode2(std::string("AZaz09. -_~/?=&\xFF\x80")));
    EXPECT_EQ("ab", pubfunc::URLEncode2(std::string("ab\0cd", 5)));  // stops at the zero
    EXPECT_EQ("", pubfunc::URLEncode2(std::string()));
    EXPECT_EQ("x%20%E4%B8%AD%C3%BC", pubfunc::URLEncode2(std::u16string(u"x \u4E2D\u00FC")));
    // Hash strings: lower-case hexadecimal of every byte.
    EXPECT_EQ("", pubfunc::getHashString("abc", -3));
    EXPECT_EQ("", pubfunc::getHashString(nullptr, 4));
    std::string in, hex;  // from no byte to more than a digest: every byte is encoded
    for (int n = 0; n <= 20; ++n, in += "\x0F\xA0", hex += "0fa0")
        EXPECT_EQ(hex, pubfunc::getHashString(in.data(), static_cast<int>(in.size()))) << n;
}

TEST(Strings, RandomNumbersStayWithinTheirBounds) {
    EXPECT_EQ(5u, pubfunc::GetRandomNum(5, 5));
    EXPECT_EQ(3u, pubfunc::GetRandomNum(9, 3));
    const unsigned bounds[][2] = {{1, 100}, {1000, 5000000}, {0xFFFFFF00u, 0xFFFFFFFFu}, {0, 0xFFFFFFFFu}};
    for (int i = 0; i < 200; ++i)
        for (const auto& b : bounds) {
            const unsigned v = pubfunc::GetRandomNum(b[0], b[1]);
            EXPECT_TRUE(v >= b[0] && v <= b[1]) << v << " outside [" << b[0] << ", " << b[1] << "]";
        }
    // Reseeded with the current second: two calls within one second agree.
    bool same = false, sameSecond = false;
    for (int attempt = 0; attempt < 5 && !sameSecond; ++attempt) {
        const std::time_t before = std::time(nullptr);
        same = pubfunc::GetRandomNum(1, 100) == pubfunc::GetRandomNum(1, 100);
        sameSecond = std::time(nullptr) == before;
    }
    EXPECT_TRUE(same || !sameSecond);
}

TEST(Strings, SplitKeepsEmptyPiecesAndAppendsAndCaseMappingIsUnitByUnit) {
    using Pieces = std::vector<std::u16string>;
    const struct { std::u16string text, sep; Pieces pieces; } cases[] = {
        {u",a,,b,", u",", {u"", u"a", u"", u"b", u""}}, {u"", u",", {u""}}, {u"abc", u",", {u"abc"}},
        {u"a::b::::c", u"::", {u"a", u"b", u"", u"c"}}, {u"a:b", u"", {u"a:b"}},
    };
    for (const auto& c : cases) {
        Pieces out = {u"old"}, want = out;  // pieces are appended
        want.insert(want.end(), c.pieces.begin(), c.pieces.end());
        pubfunc::splitString(c.text, c.sep, out);
        EXPECT_EQ(want, out) << nxtest::narrow(c.text);
    }
    // No single-unit capital for the sharp s; surrogate halves are left alone.
    std::u16string s = u"MiXeD 123 _-\u00DF\U0001F600";
    pubfunc::ToLower(s);
    EXPECT_EQ(u"mixed 123 _-\u00DF\U0001F600", s);
    pubfunc::ToUpper(s);
    EXPECT_EQ(u"MIXED 123 _-\u00DF\U0001F600", s);
}

TEST(KeyTable, MapsVirtualKeysToDirectInputCodesAndNames) {
    // First and last rows, both sides of the modifiers, codes out of table order, and a key
    // without a row (keypad divide), which leaves both outputs unchanged.
    const struct { int vk, dik; const char16_t* name; } cases[] = {
        {0x1B, 0x01, u"Esc"}, {0x5F, 0xDF, u"Sleep"}, {0x10, 0x2A, u"Shift"}, {0xA1, 0x36, u"Shift"},
        {0x11, 0x1D, u"Ctrl"}, {0xA3, 0x9D, u"Ctrl"}, {0xA5, 0xB8, u"Alt"}, {0x7A, 0x57, u"F11"},
        {0x21, 0xC9, u"Prior"}, {0xDE, 0x28, u"Apostrophe"}, {0x6F, 77, u"?"}};
    for (const auto& c : cases) {
        int dik = 77;
        std::u16string name = u"?";
        EXPECT_EQ(c.dik != 77, CKeyExchange::VK2DIK(c.vk, dik)) << std::hex << c.vk;
        CKeyExchange::VKKeyToString_S(c.vk, name);
        EXPECT_EQ(c.dik, dik) << std::hex << c.vk;
        EXPECT_EQ(c.name, name) << std::hex << c.vk;
    }
    int rows = 0, code = 0;  // exactly 107 virtual keys have a row
    for (int vk = -1; vk < 0x10000; ++vk)
        rows += CKeyExchange::VK2DIK(vk, code);
    EXPECT_EQ(107, rows);
    auto combine = [](int a, int b, int c) {
        std::u16string t = u"stale";
        CKeyExchange::GetKeysCombineDesc(a, b, c, t);
        return t;
    };
    EXPECT_EQ(u"Win + Space + F15", combine(0x5B, 0x20, 0x7E));
    EXPECT_EQ(u" + A", combine(0, 0x41, 0));
    EXPECT_EQ(u"Ctrl + ", combine(0x11, 0x6F, 0));
    EXPECT_EQ(u"", combine(0, 0, 0));
}

TEST(Hotkeys, TextJoinsModifiersAndKeyWithPlusSigns) {
    const unsigned shift = 1u << 16, ctrl = 2u << 16, alt = 4u << 16;
    const char16_t* none = u"\u65E0";
    const struct { unsigned value; const char16_t* text; } cases[] = {
        {ctrl | shift | 0x74, u"Ctrl+Shift+F5"}, {alt | shift | ctrl | 0x41, u"Ctrl+Alt+Shift+A"},
        {alt | 0x20, u"Alt"}, {0x20, none}, {0, none},      // Space is no key
        {ctrl | alt | 0x2E, none}, {shift | 0x08, none},    // Delete or Backspace clear everything
        {ctrl | 13, u"Ctrl+"}, {0x7C, none}, {0x6C, none},  // no names: Enter, F13, separator
        {0x21, u"PageUp"}, {0x90, u"Num Lock"}, {0x60, u"Num0"}, {0x61, u"Num1"}, {0x69, u"Num9"},
        {alt | 0x6F, u"Alt+Num/"}, {0x70, u"F1"}, {0x7B, u"F12"}, {0xDC, u"\\"},
        {shift | 0x39, u"Shift+9"}, {(0xFFF8u << 16) | 0x5A, u"Z"},  // unused high bits are ignored
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::u16string(c.text), pubfunc::changeHotkeyValueToString(c.value))
            << std::hex << c.value;
    // The named keys of the navigation block, the keypad and the punctuation row.
    const unsigned named[] = {0x14, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x2D, 0x6A, 0x6B, 0x6D,
                              0x6E, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF, 0xC0, 0xDB, 0xDD, 0xDE};
    const char16_t* names[] = {u"Caps Lock", u"PageDown", u"End", u"Home", u"Left", u"Up", u"Right",
                               u"Down", u"Insert", u"Num*", u"Num+", u"Num-", u"Num.", u";", u"=",
                               u",", u"-", u".", u"/", u"`", u"[", u"]", u"'"};
    static_assert(sizeof named / sizeof named[0] == sizeof names / sizeof names[0], "one name a key");
    for (std::size_t i = 0; i < sizeof named / sizeof named[0]; ++i)
        EXPECT_EQ(u"Ctrl+" + std::u16string(names[i]), pubfunc::changeHotkeyValueToString(ctrl | named[i]))
            << std::hex << named[i];
}

}  // namespace
