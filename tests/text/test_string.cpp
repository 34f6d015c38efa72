// NxString: null and empty states, copy-on-write, growth, comparison, searches on the
// zero-terminated view, editing with its clamping, extracts, numbers and case mapping.
#include "text/text.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <random>
#include <stdexcept>
#include <string>

namespace {

std::u16string str(const NxString& s) {
    return std::u16string(s.constString(), static_cast<std::size_t>(s.size()));
}

const NxString::Data* recordOf(const NxString& s) {
    return reinterpret_cast<const NxString::Data*>(
        reinterpret_cast<const char*>(s.constString()) - offsetof(NxString::Data, array));
}

TEST(NxString, NullEmptyAndTheSharedRecords) {
    NxString null;
    EXPECT_TRUE(null.isNull());
    EXPECT_TRUE(null.isEmpty());
    EXPECT_EQ(null.constString()[0], 0);

    NxString empty(u"");
    EXPECT_FALSE(empty.isNull());
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_NE(empty.constString(), NxString(u"").constString());   // each has its own record

    NxString a(u"abc");
    a.resize(0);
    EXPECT_FALSE(a.isNull());
    NxString b(u"xyz");
    b.resize(-5);
    EXPECT_EQ(a.constString(), b.constString());   // the shared empty record
    a.clear();
    EXPECT_TRUE(a.isNull());
    EXPECT_EQ(a.constString(), null.constString());

    EXPECT_TRUE(NxString(static_cast<const char16_t*>(nullptr)).isNull());
    EXPECT_EQ(str(NxString(u'x')), u"x");
    EXPECT_EQ(str(NxString(u"abcdef", 3)), u"abc");
    EXPECT_EQ(str(NxString(u"abc", -1)), u"abc");
    EXPECT_EQ(str(NxString("plain text", 5)), u"plain");   // ANSI; ASCII is the same everywhere
    EXPECT_EQ(str(NxString::fromUtf8("\xE4\xB8\xAD", -1)), u"\u4E2D");
    EXPECT_FALSE(NxString::fromUtf8("", 0).isNull());
    EXPECT_TRUE(NxString::fromUtf8(nullptr).isNull());
    EXPECT_EQ(str(NxString::fromUtf8("a\xFF" "b")), u"a\uFFFDb");
    EXPECT_EQ(str(NxString::fromAscii("plain")), u"plain");
    EXPECT_EQ(str(NxString::fromWCharArray(u"w\0x", 3)), std::u16string(u"w\0x", 3));
}

TEST(NxString, CopiesShareUntilWrittenAndWritesDetach) {
    NxString a(u"hello");
    NxString b(a);
    NxString c;
    c = a;
    EXPECT_EQ(a.constString(), b.constString());
    EXPECT_EQ(static_cast<int>(recordOf(a)->ref), 3);

    b.append(u'!');
    EXPECT_EQ(str(a), u"hello");
    EXPECT_EQ(str(b), u"hello!");
    c.at(0) = u'J';
    EXPECT_EQ(str(a), u"hello");
    EXPECT_EQ(str(c), u"Jello");
    EXPECT_EQ(static_cast<int>(recordOf(a)->ref), 1);

    NxString d(a);
    d.insert(0, u'>');
    EXPECT_EQ(str(a), u"hello");
    NxString e(a);
    e.remove(0, 1);
    EXPECT_EQ(str(a), u"hello");
    EXPECT_EQ(str(e), u"ello");
    NxString f(a);
    f.resize(2);
    EXPECT_EQ(str(a), u"hello");
    EXPECT_EQ(str(f), u"he");

    // toLower of a shared string changes neither copy.
    NxString upper(u"MiXeD");
    NxString other(upper);
    NxString lower = upper.toLower();
    EXPECT_EQ(str(lower), u"mixed");
    EXPECT_EQ(str(upper), u"MiXeD");
    EXPECT_EQ(str(other), u"MiXeD");
    EXPECT_EQ(str(upper.toUpper()), u"MIXED");
}

TEST(NxString, GrowthCountsInUnits) {
    struct Case {
        int n;
        int capacity;
    };
    const Case cases[] = {{1, 9}, {6, 6}, {22, 54}};
    for (const Case& c : cases) {
        std::u16string units(static_cast<std::size_t>(c.n), u'x');
        NxString t(u"");
        t.append(NxString(units.c_str()));
        EXPECT_EQ(recordOf(t)->alloc, c.capacity) << c.n;
    }
    // Shrinking never reallocates.
    NxString s(u"abcdefghij");
    const char16_t* p = s.constString();
    s.resize(2);
    EXPECT_EQ(s.constString(), p);
    EXPECT_EQ(s.constString()[2], 0);
}

// The capacity rule as documented: t = 2n + 20 rounded past a 16/64/4096 block whose bit is
// then cleared, capacity (t - 20) / 2, never below n.
int documentedGrow(int n) {
    int t = 2 * n + 20;
    if (t < 64)
        t = (t + 16) & ~16;
    else if (t < 4096)
        t = (t + 64) & ~64;
    else
        t = (t + 4096) & ~4096;
    return (t - 20) / 2 < n ? n : (t - 20) / 2;
}

// Appends of units and of short strings keep the content and a capacity that follows the rule
// step by step (the heap block under it may be larger).
TEST(NxString, AppendsFollowTheCapacityRule) {
    NxString s(u"");
    std::u16string mirror;
    int capacity = recordOf(s)->alloc;
    const char16_t* const words[] = {u"a", u"bc", u"def ", u"", u"0123456789abcdefghijklmnopqrstuvwxyz"};
    std::mt19937 rng(9);
    for (int i = 0; i < 20000; ++i) {
        if (rng() % 2) {
            char16_t c = static_cast<char16_t>(u'A' + i % 26);
            s.append(c);
            mirror.push_back(c);
        } else {
            const char16_t* w = words[rng() % 5];
            s.append(w);
            mirror += w;
        }
        if (static_cast<int>(mirror.size()) > capacity)
            capacity = documentedGrow(static_cast<int>(mirror.size()));
        ASSERT_EQ(recordOf(s)->alloc, capacity) << "after " << i;
        ASSERT_EQ(s.size(), static_cast<int>(mirror.size()));
    }
    EXPECT_EQ(str(s), mirror);
    EXPECT_EQ(s.constString()[s.size()], 0);

    // Appending the string's own tail through a pointer.
    NxString t(u"abcdef");
    t.append(t.constString() + 3);
    EXPECT_EQ(str(t), u"abcdefdef");
    for (int i = 0; i < 12; ++i)
        t.append(t.constString());
    EXPECT_EQ(t.size(), 9 << 12);

    // A shared string detaches on append and leaves its copy alone.
    NxString u(u"shared");
    NxString v(u);
    v.append(u'!');
    v.append(u"?");
    EXPECT_EQ(str(u), u"shared");
    EXPECT_EQ(str(v), u"shared!?");
}

TEST(NxString, ComparisonTable) {
    struct Case {
        const char16_t* a;
        const char16_t* b;
        int compare;
        int noCase;
    };
    const Case cases[] = {
        {u"ab", u"abc", -1, -1},
        {u"b", u"abc", 1, 1},
        {u"ABC", u"abc", u'A' - u'a', 0},
        {u"", u"", 0, 0},
        {u"\uFFFF", u"a", 0xFFFF - u'a', 0xFFFF - u'a'},
        {u"abc", u"ab", 1, 1},
        {u"Straße", u"STRASSE", u't' - u'T', u'\u00DF' - u's'},
    };
    for (const Case& c : cases) {
        NxString a(c.a), b(c.b);
        EXPECT_EQ(a.compare(b), c.compare) << nxtest::narrow(c.a);
        EXPECT_EQ(a.compareNoCase(b), c.noCase) << nxtest::narrow(c.a);
        EXPECT_EQ(a < b, c.compare < 0);
        EXPECT_EQ(a >= b, c.compare >= 0);
        EXPECT_EQ(b > a, c.compare < 0);
        EXPECT_EQ(b <= a, c.compare >= 0);
    }
    NxString s(u"text");
    EXPECT_TRUE(s == NxString(u"text"));
    EXPECT_TRUE(s == u"text");
    EXPECT_TRUE(s == "text");
    EXPECT_TRUE(s != u"tex");
    EXPECT_TRUE(s != "texts");
    EXPECT_TRUE(NxString() == static_cast<const char16_t*>(nullptr));
    EXPECT_FALSE(s == static_cast<const char*>(nullptr));
    EXPECT_TRUE(NxString(u"ascii") == "ascii");
}

TEST(NxString, SearchesStopAtAnEmbeddedZero) {
    NxString s(u"abcabc");
    EXPECT_EQ(s.indexOf(u'c'), 2);
    EXPECT_EQ(s.indexOf(u'c', 3), 5);
    EXPECT_EQ(s.indexOf(u'c', 6), -1);
    EXPECT_EQ(s.indexOf(u'\0'), 6);
    EXPECT_EQ(s.indexOf(NxString(u"ca")), 2);
    EXPECT_EQ(s.indexOf(NxString(u"bc"), 2), 4);
    EXPECT_EQ(s.indexOf(NxString(u""), 3), 3);
    EXPECT_EQ(NxString(u"").indexOf(NxString(u"")), -1);
    EXPECT_EQ(s.lastIndexOf(u'a'), 3);
    EXPECT_EQ(s.lastIndexOf(u'a', -4), 0);
    EXPECT_EQ(s.lastIndexOf(u'a', -7), -1);
    EXPECT_EQ(s.lastIndexOf(NxString(u"bc")), 4);
    EXPECT_EQ(s.lastIndexOf(NxString(u"bc"), 3), 1);
    EXPECT_EQ(s.lastIndexOf(NxString(u"c")), 5);
    EXPECT_EQ(s.lastIndexOf(NxString(u""), 6), 6);
    EXPECT_EQ(s.lastIndexOf(NxString(u""), 2), 2);
    EXPECT_EQ(s.lastIndexOf(NxString(u"ab"), 6), -1);
    EXPECT_EQ(s.lastIndexOf(NxString(u"abcabcx")), -1);
    EXPECT_TRUE(s.contains(u'b'));
    EXPECT_TRUE(s.contains(NxString(u"cab")));
    EXPECT_FALSE(s.contains(NxString(u"cc")));

    NxString z(u"ab\0cd", 5);
    EXPECT_EQ(z.indexOf(u'c'), -1);
    EXPECT_EQ(z.indexOf(NxString(u"cd")), -1);
    EXPECT_EQ(z.indexOf(u'\0'), 2);
    EXPECT_EQ(z.lastIndexOf(u'c'), 3);   // the backwards searches use the size

    EXPECT_TRUE(NxString(u"").startsWith(u'\0'));
    EXPECT_FALSE(NxString(u"").startsWith(u'a'));
    EXPECT_TRUE(s.startsWith(u'a'));
    EXPECT_TRUE(s.endsWith(u'c'));
    EXPECT_TRUE(s.startsWith(NxString(u"abca")));
    EXPECT_TRUE(s.endsWith(NxString(u"cabc")));
    EXPECT_FALSE(s.endsWith(NxString(u"abcabcabc")));
    EXPECT_TRUE(NxString().startsWith(NxString()));
    EXPECT_FALSE(NxString().startsWith(NxString(u"")));
    EXPECT_TRUE(NxString(u"").endsWith(NxString(u"")));
    EXPECT_TRUE(NxString(u"").endsWith(NxString()));   // a null s is empty too
}

// The vectorised search against std::u16string::find on the text up to its first zero, for
// random haystacks with embedded zeros, every start and needles of one to twenty units.
TEST(NxString, IndexOfAgreesWithTheStandardSearch) {
    std::mt19937 rng(11);
    for (int round = 0; round < 400; ++round) {
        std::u16string hay;
        std::size_t len = rng() % 90;
        for (std::size_t i = 0; i < len; ++i)
            hay.push_back(static_cast<char16_t>(u"ab\uFFFFc"[rng() % 4]));
        if (len > 0 && rng() % 3 == 0)
            hay[rng() % len] = 0;
        std::u16string needle;
        if (len > 0 && rng() % 2) {
            needle = hay.substr(rng() % len, 1 + rng() % 20);
        } else {
            for (std::size_t i = 0, n = 1 + rng() % 6; i < n; ++i)
                needle.push_back(static_cast<char16_t>(u"ab\uFFFFc"[rng() % 4]));
        }
        std::u16string needleView = needle.substr(0, needle.find(u'\0'));
        NxString s(hay.data(), static_cast<int>(hay.size()));
        NxString n(needle.data(), static_cast<int>(needle.size()));
        for (int from = 0; from < static_cast<int>(len); ++from) {
            // The search sees the text from `from` up to the next zero unit.
            std::u16string rest = hay.substr(static_cast<std::size_t>(from));
            std::size_t zero = rest.find(u'\0');
            std::u16string visible = rest.substr(0, zero);
            std::size_t r = visible.find(needleView);
            int expected = r == std::u16string::npos ? -1 : from + static_cast<int>(r);
            ASSERT_EQ(s.indexOf(n, from), expected) << "round " << round << " from " << from;
            int expectedUnit;
            if (needle[0] == 0) {
                expectedUnit = from + static_cast<int>(zero == std::u16string::npos ? rest.size() : zero);
            } else {
                std::size_t c = visible.find(needle[0]);
                expectedUnit = c == std::u16string::npos ? -1 : from + static_cast<int>(c);
            }
            ASSERT_EQ(s.indexOf(needle[0], from), expectedUnit) << "round " << round;
        }
    }
}

TEST(NxString, EditingTable) {
    NxString a(u"ab");
    a.insert(5, u'x');
    EXPECT_EQ(str(a), u"ab   x");
    EXPECT_EQ(a.constString()[6], 0);
    NxString b(u"ab");
    b.insert(-1, u'x');
    EXPECT_EQ(str(b), u"axb");
    b.insert(-10, u'y');
    EXPECT_EQ(str(b), u"axb");
    b.insert(1, u"12", 2).insert(-1, u"zz", 2).insert(1, u"", 0).insert(7, NxString(u"!"));
    EXPECT_EQ(str(b), u"a12xb  !");
    b.insert(0, b.constString() + 1, 2);   // from its own storage
    EXPECT_EQ(str(b), u"12a12xb  !");

    NxString c(u"abc");
    c.remove(-1, 1);
    EXPECT_EQ(str(c), u"ab");
    c.remove(1, 0);
    c.remove(5, 1);
    c.remove(-5, 1);
    EXPECT_EQ(str(c), u"ab");
    c.remove(0, 1);
    EXPECT_EQ(str(c), u"b");
    c.remove(0, 10);
    EXPECT_FALSE(c.isNull());
    EXPECT_TRUE(c.isEmpty());

    NxString d;
    d.append(NxString());
    EXPECT_TRUE(d.isNull());
    d.append(NxString(u""));
    EXPECT_FALSE(d.isNull());
    d.append(u'h').append(u"el").append("lo").append(static_cast<const char*>(nullptr));
    d += NxString(u" ");
    d += u'w';
    d += u"or";
    d += "ld";
    EXPECT_EQ(str(d), u"hello world");
    d.append(d);
    EXPECT_EQ(str(d), u"hello worldhello world");

    NxString e(u"banana");
    e.replace(NxString(u"a"), NxString(u"xy"));
    EXPECT_EQ(str(e), u"bxynxynxy");
    NxString f(u"aaaa");
    f.replace(NxString(u"aa"), NxString(u"b"));
    EXPECT_EQ(str(f), u"bb");
    NxString g;
    g.replace(NxString(u"x"), NxString(u"y"));
    EXPECT_FALSE(g.isNull());
    NxString h(u"abc");
    const char16_t* before = h.constString();
    h.replace(NxString(u"zz"), NxString(u"y"));
    EXPECT_EQ(str(h), u"abc");
    EXPECT_NE(h.constString(), before);   // a new record even without a match
    h.replace(NxString(), NxString(u"y"));
    EXPECT_EQ(str(h), u"abc");
    h.replace(h, NxString(u"<>"));
    EXPECT_EQ(str(h), u"<>");
    NxString k(u"One one ONE");
    k.replaceNoCase(NxString(u"one"), NxString(u"1"));
    EXPECT_EQ(str(k), u"1 1 1");
}

TEST(NxString, ExtractsTable) {
    NxString abc(u"abc");
    EXPECT_EQ(abc.left(-1).constString(), abc.constString());
    EXPECT_TRUE(abc.left(0).isEmpty());
    EXPECT_FALSE(abc.left(0).isNull());
    EXPECT_EQ(str(abc.left(2)), u"ab");
    EXPECT_EQ(str(abc.right(2)), u"bc");
    EXPECT_EQ(abc.right(9).constString(), abc.constString());
    EXPECT_TRUE(abc.mid(3, -1).isNull());
    EXPECT_TRUE(NxString().mid(0).isNull());
    EXPECT_EQ(str(abc.mid(1, 10)), u"bc");
    EXPECT_EQ(str(abc.mid(-1, 2)), u"a");
    EXPECT_TRUE(abc.mid(-5, 2).isEmpty());
    EXPECT_EQ(abc.mid(0, 3).constString(), abc.constString());
    EXPECT_EQ(str(abc.mid(INT_MIN, INT_MAX)), u"");
    EXPECT_EQ(str(abc.mid(1, INT_MAX)), u"bc");
}

TEST(NxString, NumbersAndIntegerParsing) {
    EXPECT_EQ(str(NxString::number(255, 16)), u"ff");
    EXPECT_EQ(str(NxString::number(-5, 10)), u"-5");
    EXPECT_EQ(str(NxString::number(-5)), u"-5");
    EXPECT_EQ(str(NxString::number(-1, 16)), u"ffffffff");
    EXPECT_EQ(str(NxString::number(INT_MIN, 10)), u"-2147483648");
    EXPECT_EQ(str(NxString::number(35, 36)), u"z");
    EXPECT_EQ(str(NxString::number(-1, 2)), std::u16string(32, u'1'));
    EXPECT_TRUE(NxString::number(5, 1).isEmpty());

    struct Case {
        const char16_t* text;
        int value;
        bool ok;
    };
    const Case cases[] = {
        {u"123", 123, true}, {u"-1", 0, false}, {u" 1", 0, false}, {u"", 0, true},
        {u"007", 7, true},   {u"1a", 0, false}, {u"2147483647", INT_MAX, true},
        {u"99999999999", INT_MAX, true},
    };
    for (const Case& c : cases) {
        bool ok = !c.ok;
        EXPECT_EQ(NxString(c.text).toInt32(&ok), c.value) << nxtest::narrow(c.text);
        EXPECT_EQ(ok, c.ok) << nxtest::narrow(c.text);
    }
    EXPECT_EQ(NxString(u"42").toUInt32(), 42u);
    EXPECT_EQ(NxString().toInt32(), 0);
}

TEST(NxString, ConvertsToBytes) {
    NxString s(u"caf\u00E9 \u4E2D");
    NxByteArray u8 = s.toUtf8();
    EXPECT_EQ(std::string(u8.constData(), static_cast<std::size_t>(u8.size())),
              "caf\xC3\xA9 \xE4\xB8\xAD");
    EXPECT_TRUE(NxString(u"").toUtf8().isNull());
    EXPECT_TRUE(NxString().toCap().isNull());
    // The ANSI page (UTF-8 outside Windows) holds ASCII and é; a round trip keeps them.
    NxString latin(u"caf\u00E9");
    NxByteArray cap = latin.toCap();
    EXPECT_TRUE(NxString::fromAscii(cap.constData(), cap.size()) == latin);
}

TEST(NxString, LengthsBeyondTheRangeAreRefused) {
    NxString s(u"abc");
    EXPECT_THROW(s.insert(INT_MAX, u"x", 1), std::length_error);
    EXPECT_THROW(s.insert(INT_MAX - 1, u'x'), std::length_error);
    EXPECT_THROW(s.insert(INT_MAX, u'x'), std::length_error);
    EXPECT_THROW(s.resize(INT_MAX), std::length_error);
    EXPECT_EQ(str(s), u"abc");
    s.remove(1, INT_MAX);
    EXPECT_EQ(str(s), u"a");
}

}  // namespace
