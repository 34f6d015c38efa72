// NxTextCodec: unsupported encodings, explicit and terminated lengths, invalid input at every
// position, the local-buffer boundary and the heap path.
#include "text/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string str(const NxString& s) {
    return std::u16string(s.constString(), static_cast<std::size_t>(s.size()));
}
std::string bytes(const NxByteArray& a) {
    return std::string(a.constData(), static_cast<std::size_t>(a.size()));
}

TEST(NxTextCodec, UnsupportedEncodingsAndEmptyInputGiveNull) {
    for (int e : {0, 2, 4, -1}) {
        NxTextCodec codec(static_cast<NxTextCodec::Encoding>(e));
        EXPECT_TRUE(codec.toUnicode("abc", 3).isNull()) << e;
        EXPECT_TRUE(codec.fromUnicode(u"abc", 3).isNull()) << e;
    }
    NxTextCodec utf8(NxTextCodec::Utf8);
    EXPECT_TRUE(utf8.toUnicode("abc", 0).isNull());
    EXPECT_TRUE(utf8.fromUnicode(u"abc", 0).isNull());
    // Null input is a failed conversion: empty, not null.
    EXPECT_FALSE(utf8.toUnicode(nullptr, 3).isNull());
    EXPECT_TRUE(utf8.toUnicode(nullptr, 3).isEmpty());
    EXPECT_TRUE(utf8.fromUnicode(nullptr, 3).isEmpty());

    NxTextCodec copy(NxTextCodec::Ansi);
    copy = utf8;
    EXPECT_EQ(str(copy.toUnicode("\xC3\xA9", 2)), u"\u00E9");
}

TEST(NxTextCodec, TerminatedLengthsIncludeTheZero) {
    NxTextCodec codec(NxTextCodec::Utf8);
    int state = 12345;
    NxString s = codec.toUnicode("abc", -1, &state);
    EXPECT_EQ(state, 12345);
    EXPECT_EQ(s.size(), 4);
    EXPECT_EQ(s.constString()[3], 0);
    EXPECT_EQ(str(codec.toUnicode("abc", 3)), u"abc");
    NxByteArray b = codec.fromUnicode(u"ab", -1);
    EXPECT_EQ(b.size(), 3);
    EXPECT_EQ(bytes(b), std::string("ab\0", 3));
    // Bytes beginning with a zero are kept.
    EXPECT_EQ(bytes(codec.fromUnicode(u"\0x", 2)), std::string("\0x", 2));
}

TEST(NxTextCodec, InvalidInputKeepsTheTextBeforeIt) {
    NxTextCodec codec(NxTextCodec::Utf8);
    EXPECT_EQ(str(codec.toUnicode("ab\xFF" "c", 4)), u"ab");
    EXPECT_EQ(str(codec.toUnicode("ab\xE2\x82", 4)), u"ab");
    EXPECT_EQ(str(codec.toUnicode("\xE2\x82\xAC\xED\xA0\x80", 6)), u"\u20AC");
    NxString none = codec.toUnicode("\xFF", 1);
    EXPECT_FALSE(none.isNull());
    EXPECT_TRUE(none.isEmpty());
    // With -1 the shortened length is meaningless: nothing is decoded.
    NxString terminated = codec.toUnicode("ab\xFF", -1);
    EXPECT_FALSE(terminated.isNull());
    EXPECT_TRUE(terminated.isEmpty());

    // A bad byte at every position of a long mixed text, across the local buffer's end.
    std::string text;
    while (text.size() < 13000)
        text += "abc \xE4\xB8\xAD\xE6\x96\x87 \xC3\xA9 \xF0\x9F\x98\x80 ";
    NxString whole = codec.toUnicode(text.data(), static_cast<int>(text.size()));
    ASSERT_GT(whole.size(), 0);
    for (std::size_t pos = 0; pos < text.size(); pos += pos < 200 || pos > 12200 ? 1 : 97) {
        std::string bad = text;
        bad[pos] = '\xFF';
        // The text up to the character holding pos.
        std::size_t start = pos;
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
            --start;
        NxString expected = codec.toUnicode(text.data(), static_cast<int>(start));
        NxString got = codec.toUnicode(bad.data(), static_cast<int>(bad.size()));
        ASSERT_EQ(str(got), start == 0 ? u"" : str(expected)) << "at " << pos;
    }
}

TEST(NxTextCodec, LongTextGoesThroughTheHeapBuffer) {
    NxTextCodec codec(NxTextCodec::Utf8);
    for (std::size_t units : {4095u, 4096u, 4097u, 10000u}) {
        std::u16string text;
        for (std::size_t i = 0; i < units; ++i)
            text.push_back(static_cast<char16_t>(i % 3 == 0 ? u'a' : i % 3 == 1 ? 0x00E9 : 0x4E2D));
        NxByteArray utf8 = codec.fromUnicode(text.data(), static_cast<int>(text.size()));
        EXPECT_EQ(static_cast<std::size_t>(utf8.size()), units / 3 * 6 + (units % 3 >= 1) +
                                                             (units % 3 == 2) * 2);
        NxString back = codec.toUnicode(utf8.constData(), utf8.size());
        EXPECT_EQ(str(back), text) << units;
        EXPECT_EQ(str(NxString::fromUtf8(utf8.constData(), utf8.size())), text);
        EXPECT_EQ(bytes(NxString(text.c_str()).toUtf8()), bytes(utf8));
    }
    // A lone surrogate is written as U+FFFD.
    const char16_t lone[] = {u'x', 0xD800, u'y'};
    EXPECT_EQ(bytes(codec.fromUnicode(lone, 3)), "x\xEF\xBF\xBDy");
}

}  // namespace
