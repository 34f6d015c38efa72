// The key table and the hotkey texts.
#include "pubfunc/pubfunc.h"

#include <gtest/gtest.h>

namespace {

int dik(int vk) {
    int code = -1;
    return CKeyExchange::VK2DIK(vk, code) ? code : -1;
}

std::u16string name(int vk) {
    std::u16string n = u"?";
    CKeyExchange::VKKeyToString_S(vk, n);
    return n;
}

std::u16string combine(int a, int b, int c) {
    std::u16string t = u"stale";
    CKeyExchange::GetKeysCombineDesc(a, b, c, t);
    return t;
}

TEST(KeyTable, MapsVirtualKeysToDirectInputCodes) {
    const int cases[][2] = {{0x10, 0x2A}, {0xA1, 0x36}, {0x11, 0x1D}, {0xA3, 0x9D}, {0x12, 0x38},
                            {0xA5, 0xB8}, {0x5B, 0xDB}, {0x5C, 0xDC}, {0x6A, 0x37}, {0x0D, 0x1C},
                            {0x1B, 0x01}, {0x30, 0x0B}, {0xBB, 0x0D}, {0xBD, 0x0C}, {0x7A, 0x57},
                            {0x7E, 0x66}, {0x6E, 0x53}, {0xE2, 0x56}, {0x5F, 0xDF}, {0x2C, 0xB7}};
    for (const auto& c : cases)
        EXPECT_EQ(c[1], dik(c[0])) << std::hex << c[0];
    int untouched = 77;
    EXPECT_FALSE(CKeyExchange::VK2DIK(0x6F, untouched));  // keypad divide has no row
    EXPECT_EQ(77, untouched);

    // Exactly 107 virtual keys have a row.
    int rows = 0;
    for (int vk = -1; vk < 0x10000; ++vk)
        rows += dik(vk) >= 0;
    EXPECT_EQ(107, rows);
}

TEST(KeyTable, NamesKeysAndCombinations) {
    EXPECT_EQ(u"Prior", name(0x21));
    EXPECT_EQ(u"Next", name(0x22));
    EXPECT_EQ(u"\\", name(0xDC));
    EXPECT_EQ(u"Apostrophe", name(0xDE));
    EXPECT_EQ(u"Shift", name(0xA1));
    EXPECT_EQ(u"-", name(0x6D));
    EXPECT_EQ(u"?", name(0x6F));  // no row: unchanged
    EXPECT_EQ(u"Ctrl + Alt + A", combine(0x11, 0x12, 0x41));
    EXPECT_EQ(u" + A", combine(0, 0x41, 0));
    EXPECT_EQ(u"Ctrl + ", combine(0x11, 0x6F, 0));
    EXPECT_EQ(u"", combine(0, 0, 0));
    EXPECT_EQ(u"Win + Space + F15", combine(0x5B, 0x20, 0x7E));
}

TEST(Hotkeys, TextJoinsModifiersAndKeyWithPlusSigns) {
    const unsigned shift = 1u << 16, ctrl = 2u << 16, alt = 4u << 16;
    struct Case {
        unsigned value;
        const char16_t* text;
    } cases[] = {
        {ctrl | shift | 0x74, u"Ctrl+Shift+F5"},
        {alt | shift | ctrl | 0x41, u"Ctrl+Alt+Shift+A"},
        {alt | 0x20, u"Alt"},                  // Space is dropped
        {ctrl | alt | 0x2E, u"\u65E0"},        // Delete clears everything
        {shift | 0x08, u"\u65E0"},             // so does Backspace
        {0, u"\u65E0"},
        {0x20, u"\u65E0"},
        {ctrl | 13, u"Ctrl+"},                 // Enter has no hotkey name
        {0x21, u"PageUp"},
        {0x22, u"PageDown"},
        {0x14, u"Caps Lock"},
        {0x60, u"Num0"},
        {0x69, u"Num9"},
        {0x6A, u"Num*"},
        {0x6C, u"\u65E0"},                     // the separator key has an empty name
        {alt | 0x6F, u"Alt+Num/"},
        {0x70, u"F1"},
        {0x7B, u"F12"},
        {0x7C, u"\u65E0"},                     // F13 has no hotkey name
        {0x90, u"Num Lock"},
        {0xC0, u"`"},
        {0xDC, u"\\"},
        {0xDE, u"'"},
        {shift | 0x39, u"Shift+9"},
        {(0xFFF8u << 16) | 0x5A, u"Z"},        // unused high bits are ignored
    };
    for (const Case& c : cases)
        EXPECT_EQ(std::u16string(c.text), pubfunc::changeHotkeyValueToString(c.value))
            << std::hex << c.value;
}

}  // namespace
