// Escaping, unescaping and the UTF-8 / UTF-16 conversions.
#include "support/test_support.h"
#include "xml/xml.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using nxtest::narrow;

TEST(XmlEscape, EscapesMarkupCharactersAndOptionallyQuotes) {
    struct Case {
        const char16_t* in;
        int flags;
        const char16_t* out;
    } cases[] = {
        {u"a<b&c", 0, u"a&lt;b&amp;c"},
        {u"x>y", 0, u"x&gt;y"},
        {u"'\"", 0, u"'\""},
        {u"'\"", CMarkup::OPT_ESCAPE_QUOTES, u"&apos;&quot;"},
        {u"&amp; &#x41; & b", CMarkup::OPT_KEEP_REFS, u"&amp; &#x41; &amp; b"},
        {u"&amp; &#x41;", 0, u"&amp;amp; &amp;#x41;"},
        {u"&a-b.c:d; &\u00e9t\u00e9; &1; &a", CMarkup::OPT_KEEP_REFS,
         u"&a-b.c:d; &\u00e9t\u00e9; &amp;1; &amp;a"},
        {u"", 0, u""},
        {u"\u4e2d<", 0, u"\u4e2d&lt;"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CMarkup::EscapeText(c.in, c.flags), c.out) << narrow(c.in);
    EXPECT_EQ(CMarkup::EscapeText(MCD_CSTR(static_cast<const char16_t*>(nullptr))), u"");
}

TEST(XmlEscape, UnescapesEntitiesAndCharacterReferences) {
    struct Case {
        const char16_t* in;
        int length;
        const char16_t* out;
    } cases[] = {
        {u"&#65;&#x41;&lt;", -1, u"AA<"},
        {u"&#X41; &#0; &#12345678; &Lt; &bogus;", -1, u"&#X41; &#0; &#12345678; &Lt; &bogus;"},
        {u"&amp;&gt;&apos;&quot;", -1, u"&>'\""},
        {u"a&lt;b", 4, u"a&lt"},
        {u"a&lt;b", 5, u"a<"},
        {u"&#1234567;", -1, u"\xD687"},
        {u"&# 65;&#-1;", -1, u"A\xFFFF"},
        {u"&#x0x41;", -1, u"A"},
        {u"&", -1, u"&"},
        {u"&#", -1, u"&#"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CMarkup::UnescapeText(c.in, c.length), c.out) << narrow(c.in);
}

TEST(XmlUtf, DecodesAndEncodesSingleCodePoints) {
    const char* p = "\xE4\xB8\xAD";
    EXPECT_EQ(CMarkup::DecodeCharUTF8(p), 0x4E2D);
    const char* cut = "\xE4\xB8";
    EXPECT_EQ(CMarkup::DecodeCharUTF8(cut), -1);
    EXPECT_EQ(*cut, 0);  // the zero is not consumed
    const char* stray = "\x80\x80";
    EXPECT_EQ(CMarkup::DecodeCharUTF8(stray), 0);  // a continuation acts as a 2-byte lead
    const char* bad = "\xF8x";
    EXPECT_EQ(CMarkup::DecodeCharUTF8(bad), -1);
    EXPECT_EQ(*bad, 'x');

    char buf[8];
    int len = 0;
    CMarkup::EncodeCharUTF8(0x1F600, buf, len);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(std::memcmp(buf, "\xF0\x9F\x98\x80", 4), 0);
    int count = 0;
    CMarkup::EncodeCharUTF8(0x7FF, nullptr, count);
    CMarkup::EncodeCharUTF8(0x800, nullptr, count);
    EXPECT_EQ(count, 5);

    char16_t units[4];
    int n = 0;
    CMarkup::EncodeCharUTF16(0x1F600, units, n);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(units[0], 0xD83D);
    EXPECT_EQ(units[1], 0xDE00);
    const char16_t* q = units;
    units[2] = 0;
    EXPECT_EQ(CMarkup::DecodeCharUTF16(q), 0x1F600);
    const char16_t lone[] = {0xD800, 0};
    const char16_t* l = lone;
    EXPECT_EQ(CMarkup::DecodeCharUTF16(l), -1);
    EXPECT_EQ(l, lone + 1);
}

TEST(XmlUtf, ConvertsWholeTexts) {
    char16_t out[64];
    EXPECT_EQ(CMarkup::UTF8To16(nullptr, "\xE4\xB8\xAD", 3), 1);
    EXPECT_EQ(CMarkup::UTF8To16(out, "\xE4\xB8\xAD", 3), 3);
    EXPECT_EQ(out[0], 0x4E2D);
    EXPECT_EQ(CMarkup::UTF8To16(nullptr, "\xE4\xB8", 2), 1);
    CMarkup::UTF8To16(out, "\xE4\xB8", 2);
    EXPECT_EQ(out[0], u'?');
    // A four-byte character becomes a pair and back.
    EXPECT_EQ(CMarkup::UTF8To16(out, "ab\xF0\x9F\x98\x80" "cdefghij", 14), 14);
    EXPECT_EQ(std::u16string(out, 12), u"ab\U0001F600cdefghij");
    char bytes[32];
    const std::u16string pair = u"x\U0001F600";
    EXPECT_EQ(CMarkup::UTF16To8(bytes, pair.c_str(), 32), 5);
    EXPECT_STREQ(bytes, "x\xF0\x9F\x98\x80");
    // A zero ends the conversion.
    EXPECT_EQ(CMarkup::UTF8To16(nullptr, "abcdefghij\0klmnop", 17), 10);
    // A lone high surrogate at the end becomes "?".
    const char16_t lone[] = {u'a', 0xD800, 0};
    EXPECT_EQ(CMarkup::UTF16To8(bytes, lone, 32), 2);
    EXPECT_STREQ(bytes, "a?");
    // Output bounds: a character that would not fit entirely is left out.
    const std::u16string wide = u"ab\u4e2d";
    std::memset(bytes, 'Z', sizeof bytes);
    EXPECT_EQ(CMarkup::UTF16To8(bytes, wide.c_str(), 4), 2);
    EXPECT_EQ(bytes[2], 0);
    EXPECT_EQ(CMarkup::UTF16To8(nullptr, wide.c_str(), 0), 5);
    bytes[0] = 'Z';
    EXPECT_EQ(CMarkup::UTF16To8(bytes, u"", 1), 0);
    EXPECT_EQ(bytes[0], 0);
}

TEST(XmlUtf, RoundTripsRandomValidText) {
    std::mt19937 rng(99);
    for (int round = 0; round < 2000; ++round) {
        std::u16string text;
        const int len = static_cast<int>(rng() % 50);
        for (int i = 0; i < len; ++i) {
            const int kind = static_cast<int>(rng() % 4);
            if (kind == 0) {  // runs of ASCII take the eight-at-a-time path
                for (int run = static_cast<int>(rng() % 20); run >= 0; --run)
                    text += static_cast<char16_t>(1 + rng() % 0x7F);
                continue;
            }
            int cp = kind == 0 ? 1 + static_cast<int>(rng() % 0x7F)
                   : kind == 1 ? 0x80 + static_cast<int>(rng() % 0x780)
                   : kind == 2 ? 0xE000 + static_cast<int>(rng() % 0x1FFE)
                               : 0x10000 + static_cast<int>(rng() % 0xFFFFF);
            int n = static_cast<int>(text.size());
            text.resize(text.size() + 2);
            CMarkup::EncodeCharUTF16(cp, &text[0], n);
            text.resize(static_cast<std::size_t>(n));
        }
        const int bytes = CMarkup::UTF16To8(nullptr, text.c_str(), 0);
        std::string utf8(static_cast<std::size_t>(bytes) + 1, '\0');
        ASSERT_EQ(CMarkup::UTF16To8(&utf8[0], text.c_str(), bytes + 1), bytes);
        // A smaller buffer gets the longest run of whole characters that fits, then a zero.
        const int room = static_cast<int>(rng() % static_cast<unsigned>(bytes + 1));
        int fits = room;
        while (fits > 0 && fits < bytes && (static_cast<unsigned char>(utf8[fits]) & 0xC0) == 0x80)
            --fits;
        std::string part(static_cast<std::size_t>(bytes) + 1, 'Z');
        ASSERT_EQ(CMarkup::UTF16To8(&part[0], text.c_str(), room), fits);
        ASSERT_EQ(part.substr(0, static_cast<std::size_t>(fits)), utf8.substr(0, static_cast<std::size_t>(fits)));
        if (fits < room) {
            ASSERT_EQ(part[static_cast<std::size_t>(fits)], '\0');
        }
        const int units = CMarkup::UTF8To16(nullptr, utf8.data(), bytes);
        ASSERT_EQ(units, static_cast<int>(text.size()));
        std::u16string back(static_cast<std::size_t>(units), u'\0');
        ASSERT_EQ(CMarkup::UTF8To16(&back[0], utf8.data(), bytes), bytes);
        ASSERT_EQ(back, text);
    }
}
