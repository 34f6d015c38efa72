// NxByteArray (with NxByteRef), NxString and NxTextCodec through the shared library, as a host
// uses them. The fast paths (searches, inline appends) are checked against plain models.
#include "text/text.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>

namespace {

std::string str(const NxByteArray& a) { return std::string(a.constData(), static_cast<std::size_t>(a.size())); }
std::u16string str(const NxString& s) { return std::u16string(s.constString(), static_cast<std::size_t>(s.size())); }
// The content, or "<null>" for a null value: both states in one comparable text.
std::string show(const NxByteArray& a) { return a.isNull() ? "<null>" : str(a); }
std::u16string show(const NxString& s) { return s.isNull() ? u"<null>" : str(s); }

// The record header precedes the data; its layout is part of the exported interface.
template <typename D> const D* header(const void* data) {
    return reinterpret_cast<const D*>(static_cast<const char*>(data) - offsetof(D, array));
}
const NxByteArray::Data* recordOf(const NxByteArray& a) { return header<NxByteArray::Data>(a.constData()); }
const NxString::Data* recordOf(const NxString& s) { return header<NxString::Data>(s.constString()); }
template <typename T> int refs(const T& v) { return static_cast<int>(recordOf(v)->ref); }

int found(std::size_t r, int base = 0) { return r == std::string::npos ? -1 : base + static_cast<int>(r); }
template <typename S> S randomOf(std::mt19937& rng, const S& alphabet, std::size_t n) {
    S out(n, alphabet[0]);
    for (auto& c : out)
        c = alphabet[rng() % alphabet.size()];
    return out;
}

// A table row: an expression's text, its value and the value expected. Rows are evaluated in
// order, so a row may edit what the previous one left.
template <typename T> struct Row { const char* expr; T got, want; };
#define ROW(expr, want) {#expr, expr, want}
#define SHOW(expr, want) {#expr, show(expr), want}
template <typename T> void expectRows(std::initializer_list<Row<T>> rows) {
    for (const Row<T>& r : rows)
        EXPECT_EQ(r.got, r.want) << r.expr;
}

TEST(NxByteArray, ConstructionGivesNullEmptyOrBytesAndCapacityFollowsTheRule) {
    expectRows<std::string>({
        SHOW(NxByteArray(), "<null>"), SHOW(NxByteArray(""), ""), SHOW(NxByteArray(nullptr, 5), "<null>"),
        SHOW(NxByteArray(static_cast<const char*>(nullptr)), "<null>"), SHOW(NxByteArray("abc", -1), "abc"),
        SHOW(NxByteArray("\0ab", 3), std::string("\0ab", 3)), SHOW(NxByteArray('x', 3), "xxx"),
        SHOW(NxByteArray('x', 0), ""), SHOW(NxByteArray("xyz") = "", "<null>"),   // "" assigned leaves null
        SHOW(NxByteArray("xyz") = static_cast<const char*>(nullptr), "<null>"),
    });
    NxByteArray e("abc"), n("xyz");
    e.resize(0);
    n.clear();
    EXPECT_TRUE(e.constData() == NxByteArray::shared_empty.array && n.constData() == NxByteArray::shared_null.array);
    // Capacity: a 16-, 64- and 4096-byte block each with and without headroom left.
    const int growth[][2] = {{1, 17}, {12, 12}, {44, 108}, {108, 108}, {4076, 8172}};
    for (const auto& g : growth)
        EXPECT_EQ(recordOf(NxByteArray().append(std::string(4076, 'x').c_str(), g[0]))->alloc, g[1]) << g[0];
    // A detached copy and a squeezed array have their size as capacity; a clone has headroom.
    NxByteArray b("abc"), c(b), null;
    c.data();
    EXPECT_EQ(std::make_pair(recordOf(c)->alloc, recordOf(b.clone())->alloc), std::make_pair(3, 19));
    b.resize(2);
    b.resize(5);
    b.squeeze();
    EXPECT_EQ(recordOf(b)->alloc, 5);
    EXPECT_EQ(std::string(b.constData(), 2) + b.constData()[5], std::string("ab\0", 3));
    null.resize(4);
    EXPECT_TRUE(null.size() == 4 && null.constData()[4] == 0);
}

TEST(NxByteArray, CopiesShareARecordUntilOneIsWritten) {
    NxByteArray a("hello"), b(a), c;
    c = a;
    EXPECT_TRUE(b.constData() == a.constData() && refs(a) == 3);
    b.append('!');
    char* w = c.data();   // detaches: the record is shared with a
    w[0] = 'J';
    c.data()[1] = 'E';   // a sole owner writes in place
    EXPECT_TRUE(w != a.constData() && c.constData() == w);
    c = *&c;   // self-assignment
    EXPECT_EQ(str(a) + "|" + str(b) + "|" + str(c) + "|" + std::to_string(refs(a)), "hello|hello!|JEllo|1");
    // clone() detaches its own array first, then returns a record of its own.
    NxByteArray s("shared"), t(s), u = t.clone(), null, null2;
    EXPECT_TRUE(t.constData() != s.constData() && u.constData() != t.constData() && str(u) == "shared");
    EXPECT_EQ(show(NxByteArray("").clone()) + show(null.clone()), "<null><null>");
    null2.data();
    EXPECT_EQ(show(null) + "|" + show(null2), "|");   // both detached into allocated empty arrays

    // The index proxy detaches, grows the array when written (not read) beyond the end, and
    // compares bytes as signed.
    NxByteArray x("ab"), shared(x);
    x[5] = 'z';
    EXPECT_TRUE(static_cast<char>(x[10]) == 0 && x.size() == 6);
    EXPECT_EQ(std::string(x.constData() + 5, 2) + str(shared), std::string("z\0ab", 4));
    NxByteArray y(x);
    y[0u] = x[1];
    EXPECT_EQ(std::string(y.constData(), 2) + x.constData()[0], "bba");
    NxByteArray sb("\x80\x7F", 2);
    EXPECT_TRUE(sb[0] < '\x7F' && sb[0] <= '\x80' && sb[0] == '\x80' && sb[0] != '\x7F');
    EXPECT_TRUE(sb[1] > '\x80' && sb[1] >= '\x7F');
}

TEST(NxByteArray, EditingClampsPadsAndSharesWhereItCan) {
    NxByteArray c("abc"), d("world"), self("abcdefgh"), twice("xy");
    expectRows<std::string>({
        SHOW(NxByteArray("ab").insert(5, 'x'), "ab   x"), SHOW(NxByteArray("abc").remove(1, 10), "a"),
        SHOW(c.remove(-1, 1).remove(1, 0).remove(3, 1), "abc"), SHOW(c.remove(1, 1), "ac"), SHOW(c.remove(0, 2), ""),
        SHOW(NxByteArray("x").append(NxByteArray()), "x"),
        SHOW(d.prepend("hello ").append("!").append(static_cast<const char*>(nullptr)).append("xyz", 0),
             "hello world!"),
        SHOW(d.insert(0, "<").insert(13, ">", 1).insert(-1, "never").insert(2, "", 0).prepend('['), "[<hello world!>"),
        // Sources inside the array itself survive the reallocation.
        SHOW(self.append(self), "abcdefghabcdefgh"), SHOW(self.insert(2, self.constData(), 4), "ababcdcdefghabcdefgh"),
        SHOW(self.prepend(self.constData() + 18, 2), "ghababcdcdefghabcdefgh"), SHOW(twice.insert(1, twice), "xxyy"),
    });
    EXPECT_EQ(NxByteArray("ab").insert(5, 'x').constData()[6], 0);
    // Appending or prepending to a null or shared-empty array shares the other record.
    NxByteArray src("shared"), n, e("x");
    e.resize(0);
    EXPECT_EQ(n.append(src).constData(), src.constData());
    EXPECT_EQ(e.prepend(src).constData(), src.constData());
}

TEST(NxByteArray, ExtractsAndSearchesClampTheirRange) {
    const NxByteArray abc("abc"), s("abcb"), aba("aba"), abab("abab");
    NxByteArray empty("x");
    empty.resize(0);
    expectRows<std::string>({
        SHOW(NxByteArray().left(5), "<null>"), SHOW(abc.left(0), ""), SHOW(abc.left(-3), ""), SHOW(abc.left(2), "ab"),
        SHOW(abc.right(2), "bc"), SHOW(abc.right(-1), ""), SHOW(abc.mid(3, -1), "<null>"), SHOW(abc.mid(-1, 2), "a"),
        SHOW(abc.mid(-5, 2), ""), SHOW(abc.mid(1), "bc"), SHOW(abc.mid(1, 10), "bc"),
        SHOW(abc.mid(INT_MIN, INT_MAX), ""), SHOW(empty.mid(0, 1), "<null>"),
    });
    for (const NxByteArray& whole : {abc.left(10), abc.mid(0, 3), abc.mid(0, INT_MAX)})
        EXPECT_EQ(whole.constData(), abc.constData());   // the whole range shares the record
    expectRows<int>({
        ROW(s.indexOf('b', -1), 3), ROW(s.indexOf('b', -100), 1), ROW(s.indexOf('b', 4), -1),
        ROW(s.indexOf("cb", 1), 2), ROW(s.indexOf("cb", 3), -1), ROW(s.indexOf("", 4), 4), ROW(s.indexOf("", 5), -1),
        ROW(s.indexOf(static_cast<const char*>(nullptr)), -1), ROW(aba.lastIndexOf('a', 10), 2),
        ROW(aba.lastIndexOf('a', -2), 0), ROW(aba.lastIndexOf('a', -4), -1), ROW(aba.lastIndexOf('\0', 3), 3),
        ROW(abab.lastIndexOf("ab", 1), 0), ROW(abab.lastIndexOf("b", -1), 3), ROW(abab.lastIndexOf("", -1), 4),
        ROW(abab.lastIndexOf("", 1), 1),
    });
    expectRows<bool>({
        ROW(s.endsWith(NxByteArray("cb")), true), ROW(s.endsWith(s), true), ROW(s.endsWith(NxByteArray()), true),
        ROW(s.endsWith("abcbb"), false), ROW(NxByteArray("b").endsWith(NxByteArray("cb")), false),
        ROW(s.endsWith("b"), true), ROW(s.endsWith(static_cast<const char*>(nullptr)), true),
        ROW(s.endsWith('b'), true), ROW(NxByteArray().endsWith('\0'), false),
    });
}

// The rolling hash against a plain backwards scan: signed bytes, needles over 32 bytes (whose
// leaving term wraps to 0), every start.
TEST(NxByteArray, RollingHashSearchAgreesWithAPlainScan) {
    std::mt19937 rng(3);
    const std::string bytes = "ab\x80\xFF";
    for (int round = 0; round < 300; ++round) {
        const std::string hay = randomOf(rng, bytes, rng() % 120);
        const std::size_t nlen = 2 + rng() % 40;
        const std::string needle =
            !hay.empty() && rng() % 2 ? hay.substr(rng() % hay.size(), nlen) : randomOf(rng, bytes, nlen);
        if (needle.size() < 2)
            continue;
        const int len = static_cast<int>(hay.size()), delta = len - static_cast<int>(needle.size());
        const NxByteArray a(hay.data(), len), n(needle.data(), static_cast<int>(needle.size()));
        for (int from = -3; from <= len + 2; ++from) {
            const std::size_t r = delta < 0 || from > len ? std::string::npos
                                  : hay.rfind(needle, static_cast<std::size_t>(from < 0 || from > delta ? delta : from));
            ASSERT_EQ(a.lastIndexOf(n, from), found(r)) << "round " << round << " from " << from;
        }
    }
}

TEST(NxByteArray, HexConversion) {
    // fromHex reads right to left and skips non-digits; an odd count leaves a one-digit first byte.
    expectRows<std::string>({
        SHOW(NxByteArray("\x00\xFF", 2).toHex(), "00ff"), SHOW(NxByteArray().toHex(), ""),
        SHOW(NxByteArray::fromHex("abc"), "\x0A\xBC"), SHOW(NxByteArray::fromHex("0G1"), "\x01"),
        SHOW(NxByteArray::fromHex("FFfe"), "\xFF\xFE"), SHOW(NxByteArray::fromHex("0"), std::string("\0", 1)),
    });
    EXPECT_EQ(str(NxByteArray::fromHex("")) + str(NxByteArray::fromHex("xyz")), "");
    std::string all(256, '\0');
    std::iota(all.begin(), all.end(), '\0');
    EXPECT_EQ(str(NxByteArray::fromHex(NxByteArray(all.data(), 256).toHex())), all);
}

// Sums and indexes past INT_MAX once overflowed a signed int; they must throw and leave the
// value unchanged.
TEST(NxText, LengthsBeyondTheSignedRangeAreRefused) {
    NxByteArray a("abc");
    char dummy = 'x';
    EXPECT_THROW(a.append(&dummy, INT_MAX), std::length_error);
    EXPECT_THROW(a.insert(INT_MAX, &dummy, 1), std::length_error);
    EXPECT_THROW(a.insert(1, &dummy, INT_MAX - 1), std::length_error);
    EXPECT_THROW(a.prepend(&dummy, INT_MAX - 1), std::length_error);
    EXPECT_THROW(a[INT_MAX] = 'x', std::length_error);
    EXPECT_EQ(str(a), "abc");
    EXPECT_EQ(str(a.remove(1, INT_MAX)), "a");
    NxString s(u"abc");
    EXPECT_THROW(s.insert(INT_MAX, u"x", 1), std::length_error);
    EXPECT_THROW(s.insert(INT_MAX - 1, u'x'), std::length_error);
    EXPECT_THROW(s.insert(INT_MAX, u'x'), std::length_error);
    EXPECT_THROW(s.resize(INT_MAX), std::length_error);
    EXPECT_EQ(str(s), u"abc");
    EXPECT_EQ(str(s.remove(1, INT_MAX)), u"a");
}

TEST(NxString, ConstructionGivesNullEmptyOrUnits) {
    expectRows<std::u16string>({
        SHOW(NxString(), u"<null>"), SHOW(NxString(u""), u""), SHOW(NxString(u'x'), u"x"),
        SHOW(NxString(static_cast<const char16_t*>(nullptr)), u"<null>"), SHOW(NxString(u"abcdef", 3), u"abc"),
        SHOW(NxString(u"abc", -1), u"abc"), SHOW(NxString("plain text", 5), u"plain"),   // ASCII in any ANSI page
        SHOW(NxString::fromAscii("plain"), u"plain"), SHOW(NxString::fromUtf8("\xE4\xB8\xAD", -1), u"\u4E2D"),
        SHOW(NxString::fromUtf8("a\xFF" "b"), u"a\uFFFDb"), SHOW(NxString::fromUtf8("", 0), u""),
        SHOW(NxString::fromUtf8(nullptr), u"<null>"),
        SHOW(NxString::fromWCharArray(u"w\0x", 3), std::u16string(u"w\0x", 3)),
    });
    EXPECT_EQ(NxString(u"abcdef", 3).constString()[3], 0);
    NxString a(u"abc"), b(u"xyz");
    a.resize(0);
    b.resize(-5);
    EXPECT_TRUE(show(a) == u"" && a.constString() == b.constString());   // the shared empty record
    a.clear();
    EXPECT_TRUE(a.isNull());
}

TEST(NxString, EveryWriteDetachesASharedCopy) {
    const NxString original(u"hello");
    const std::pair<std::function<void(NxString&)>, std::u16string> writes[] = {
        {[](NxString& s) { s.append(u'!'); }, u"hello!"}, {[](NxString& s) { s.append(u"?"); }, u"hello?"},
        {[](NxString& s) { s.at(0) = u'J'; }, u"Jello"}, {[](NxString& s) { s.insert(0, u'>'); }, u">hello"},
        {[](NxString& s) { s.remove(0, 1); }, u"ello"}, {[](NxString& s) { s.resize(2); }, u"he"},
    };
    for (const auto& w : writes) {
        NxString copy(original);
        EXPECT_EQ(refs(original), 2);
        w.first(copy);
        EXPECT_EQ(str(copy), w.second);
        EXPECT_TRUE(str(original) == u"hello" && refs(original) == 1) << nxtest::narrow(w.second);
    }
    // Case mapping returns a copy and changes neither sharer.
    NxString upper(u"MiXeD"), other(upper);
    EXPECT_EQ(str(upper.toLower()) + str(upper.toUpper()) + str(upper) + str(other), u"mixedMIXEDMiXeDMiXeD");
}

// Appends, inline (units, short strings) or not, keep the content and a capacity that follows
// the growth rule step by step, whatever heap block lies under it.
TEST(NxString, AppendsFollowTheCapacityRule) {
    auto rule = [](int n) {
        const int t = 2 * n + 20, block = t < 64 ? 16 : t < 4096 ? 64 : 4096;
        return std::max(n, (((t + block) & ~block) - 20) / 2);
    };
    NxString s(u"");
    std::u16string mirror;
    int capacity = recordOf(s)->alloc;
    const char16_t* const words[] = {u"a", u"bc", u"def ", u"", u"0123456789abcdefghijklmnopqrstuvwxyz"};
    std::mt19937 rng(9);
    for (int i = 0; i < 20000; ++i) {
        const char16_t unit[] = {static_cast<char16_t>(u'A' + i % 26), 0};
        const char16_t* w = rng() % 2 ? unit : words[rng() % 5];
        w == unit ? s.append(unit[0]) : s.append(w);
        mirror += w;
        if (static_cast<int>(mirror.size()) > capacity)
            capacity = rule(static_cast<int>(mirror.size()));
        ASSERT_EQ(recordOf(s)->alloc, capacity) << "after " << i;
    }
    EXPECT_EQ(std::u16string(s.constString(), mirror.size() + 1), mirror + u'\0');
    const char16_t* p = s.constString();
    s.resize(2);   // shrinking never reallocates
    EXPECT_TRUE(s.constString() == p && p[2] == 0);
    // The string's own tail appended through a pointer, then the string doubled by itself.
    NxString t(u"abcdef");
    EXPECT_EQ(str(t.append(t.constString() + 3)), u"abcdefdef");
    for (int i = 0; i < 12; ++i)
        t.append(t.constString());
    EXPECT_TRUE(t.size() == 9 << 12 && t.right(9) == u"abcdefdef");
}

TEST(NxString, ComparesUnitByUnitThenBySize) {
    struct Case { const char16_t *a, *b; int compare, noCase; };
    const Case cases[] = {
        {u"ab", u"abc", -1, -1}, {u"b", u"abc", 1, 1}, {u"ABC", u"abc", u'A' - u'a', 0}, {u"", u"", 0, 0},
        {u"\uFFFF", u"a", 0xFFFF - u'a', 0xFFFF - u'a'}, {u"abc", u"ab", 1, 1},
        {u"Straße", u"STRASSE", u't' - u'T', u'\u00DF' - u's'},
    };
    for (const Case& c : cases)
        EXPECT_EQ(std::make_pair(NxString(c.a).compare(c.b), NxString(c.a).compareNoCase(c.b)),
                  std::make_pair(c.compare, c.noCase)) << nxtest::narrow(c.a) << " vs " << nxtest::narrow(c.b);
    const NxString s(u"text");
    EXPECT_TRUE(s == NxString(u"text") && s == u"text" && s == "text");
    EXPECT_TRUE(s != u"tex" && s != "texts" && s != static_cast<const char*>(nullptr));
    EXPECT_TRUE(NxString() == static_cast<const char16_t*>(nullptr));
}

TEST(NxString, ExtractsClampAndSearchesSeeTheTextUpToItsFirstZero) {
    const NxString abc(u"abc"), s(u"abcabc"), e(u""), z(u"ab\0cd", 5);
    expectRows<std::u16string>({
        SHOW(abc.left(2), u"ab"), SHOW(abc.right(2), u"bc"), SHOW(abc.left(0), u""), SHOW(abc.mid(3, -1), u"<null>"),
        SHOW(NxString().mid(0), u"<null>"), SHOW(abc.mid(-5, 2), u""), SHOW(abc.mid(1, 10), u"bc"),
        SHOW(abc.mid(-1, 2), u"a"), SHOW(abc.mid(INT_MIN, INT_MAX), u""), SHOW(abc.mid(1, INT_MAX), u"bc"),
    });
    for (const NxString& whole : {abc.left(-1), abc.right(9), abc.mid(0, 3)})
        EXPECT_EQ(whole.constString(), abc.constString());   // the whole range shares the record
    expectRows<int>({
        ROW(s.indexOf(u'c', 6), -1), ROW(s.indexOf(u'\0'), 6), ROW(s.indexOf(NxString(u""), 3), 3),
        ROW(e.indexOf(NxString(u"")), -1), ROW(s.lastIndexOf(u'a'), 3), ROW(s.lastIndexOf(u'a', -4), 0),
        ROW(s.lastIndexOf(u'a', -7), -1), ROW(s.lastIndexOf(NxString(u"bc")), 4),
        ROW(s.lastIndexOf(NxString(u"bc"), 3), 1), ROW(s.lastIndexOf(NxString(u"c")), 5),
        ROW(s.lastIndexOf(NxString(u""), 6), 6), ROW(s.lastIndexOf(NxString(u"ab"), 6), -1),
        ROW(s.lastIndexOf(NxString(u"abcabcx")), -1), ROW(z.lastIndexOf(u'c'), 3),   // backwards: up to the size
    });
    expectRows<bool>({
        ROW(e.startsWith(u'\0'), true), ROW(e.startsWith(u'a'), false), ROW(s.startsWith(u'a'), true),
        ROW(s.endsWith(u'c'), true), ROW(s.startsWith(NxString(u"abca")), true),
        ROW(s.endsWith(NxString(u"cabc")), true), ROW(s.endsWith(NxString(u"abcabcabc")), false),
        ROW(NxString().startsWith(NxString()), true), ROW(NxString().startsWith(e), false),
        ROW(e.endsWith(e), true), ROW(e.endsWith(NxString()), true),   // a null s is empty too
    });
}

// The vectorised search against std::u16string::find on the text up to its first zero: random
// haystacks with embedded zeros, every start, needles of one to twenty units.
TEST(NxString, IndexOfAgreesWithTheStandardSearch) {
    std::mt19937 rng(11);
    const std::u16string units = u"ab\uFFFFc";
    for (int round = 0; round < 400; ++round) {
        std::u16string hay = randomOf(rng, units, rng() % 90);
        const std::size_t len = hay.size();
        if (len > 0 && rng() % 3 == 0)
            hay[rng() % len] = 0;
        const std::u16string needle =
            len > 0 && rng() % 2 ? hay.substr(rng() % len, 1 + rng() % 20) : randomOf(rng, units, 1 + rng() % 6);
        const NxString s(hay.data(), static_cast<int>(len)), n(needle.data(), static_cast<int>(needle.size()));
        for (int from = 0; from < static_cast<int>(len); ++from) {
            const std::u16string rest = hay.substr(static_cast<std::size_t>(from));
            const std::u16string visible = rest.substr(0, rest.find(u'\0'));
            ASSERT_EQ(s.indexOf(n, from), found(visible.find(needle.substr(0, needle.find(u'\0'))), from))
                << "round " << round << " from " << from;
            // A zero unit is found at the end of the visible text.
            ASSERT_EQ(s.indexOf(needle[0], from), found(needle[0] ? visible.find(needle[0]) : visible.size(), from))
                << "round " << round << " from " << from;
        }
    }
}

// The text after replace(), marked when left in the old record: replace always makes a new one.
std::u16string replaced(const char16_t* text, const NxString& before, const char16_t* after) {
    NxString t(text);
    const char16_t* old = t.constString();
    t.replace(before, NxString(after));
    return show(t) + (t.constString() == old ? u" (same record)" : u"");
}

TEST(NxString, EditingClampsPadsAndReplaces) {
    NxString b(u"ab"), c(u"abc"), d, h(u"abc");
    expectRows<std::u16string>({
        SHOW(NxString(u"ab").insert(5, u'x'), u"ab   x"), SHOW(b.insert(-1, u'x').insert(-10, u'y'), u"axb"),
        SHOW(b.insert(1, u"12", 2).insert(-1, u"zz", 2).insert(1, u"", 0).insert(7, NxString(u"!")), u"a12xb  !"),
        SHOW(b.insert(0, b.constString() + 1, 2), u"12a12xb  !"),   // from its own storage
        SHOW(c.remove(-1, 1).remove(1, 0).remove(5, 1).remove(-5, 1), u"ab"), SHOW(c.remove(0, 1), u"b"),
        SHOW(c.remove(0, 10), u""), SHOW(d.append(NxString()), u"<null>"), SHOW(d.append(NxString(u"")), u""),
        SHOW(d.append(u'h').append(u"el").append("lo").append(static_cast<const char*>(nullptr)), u"hello"),
        SHOW(d.append(d), u"hellohello"),
        {"banana: a -> xy", replaced(u"banana", NxString(u"a"), u"xy"), u"bxynxynxy"},
        {"aaaa: aa -> b", replaced(u"aaaa", NxString(u"aa"), u"b"), u"bb"},
        {"no match", replaced(u"abc", NxString(u"zz"), u"y"), u"abc"},
        {"null before", replaced(u"abc", NxString(), u"y"), u"abc"},
        SHOW(h.replace(h, NxString(u"<>")), u"<>"),   // before is the string itself
        SHOW(NxString().replace(NxString(u"x"), NxString(u"y")), u""),
        SHOW(NxString(u"One one ONE").replaceNoCase(NxString(u"one"), NxString(u"1")), u"1 1 1"),
    });
    EXPECT_EQ(NxString(u"ab").insert(5, u'x').constString()[6], 0);
}

TEST(NxString, NumbersAndIntegerParsing) {
    expectRows<std::u16string>({
        SHOW(NxString::number(255, 16), u"ff"), SHOW(NxString::number(-5), u"-5"),
        SHOW(NxString::number(-1, 16), u"ffffffff"), SHOW(NxString::number(INT_MIN, 10), u"-2147483648"),
        SHOW(NxString::number(35, 36), u"z"), SHOW(NxString::number(-1, 2), std::u16string(32, u'1')),
        SHOW(NxString::number(5, 1), u""), SHOW(NxString::number(5, 37), u""),
    });
    struct Parse { const char16_t* text; int value; bool ok; };
    const Parse parses[] = {
        {u"123", 123, true}, {u"-1", 0, false}, {u" 1", 0, false}, {u"", 0, true}, {u"1a", 0, false},
        {u"2147483647", INT_MAX, true}, {u"99999999999", INT_MAX, true},
    };
    for (const Parse& p : parses) {
        bool ok = !p.ok;   // written whatever it held
        const int value = NxString(p.text).toInt32(&ok);
        EXPECT_EQ(std::make_pair(value, ok), std::make_pair(p.value, p.ok)) << nxtest::narrow(p.text);
    }
    EXPECT_EQ(NxString(u"42").toUInt32(), 42u);
    EXPECT_EQ(NxString().toInt32(), 0);
}

TEST(NxTextCodec, NullEmptyTerminatedAndInvalidInput) {
    for (int e : {0, 2, 4, -1}) {   // unsupported encodings
        const NxTextCodec other(static_cast<NxTextCodec::Encoding>(e));
        EXPECT_TRUE(other.toUnicode("abc", 3).isNull() && other.fromUnicode(u"abc", 3).isNull()) << e;
    }
    const NxTextCodec codec(NxTextCodec::Utf8);
    int state = 12345;   // ignored
    const NxByteArray cap = NxString(u"caf\u00E9").toCap();
    expectRows<std::u16string>({
        SHOW(codec.toUnicode("abc", 0), u"<null>"), SHOW(codec.toUnicode(nullptr, 3), u""),   // failed: not null
        SHOW(codec.toUnicode("ab\xC3\xA9", -1, &state), std::u16string(u"ab\u00E9\0", 4)),
        SHOW(codec.toUnicode("ab\xFF", -1), u""),   // with -1 nothing is decoded
        SHOW(NxString::fromAscii(cap.constData(), cap.size()), u"caf\u00E9"),   // the ANSI page holds é
    });
    EXPECT_EQ(state, 12345);
    expectRows<std::string>({
        SHOW(codec.fromUnicode(u"abc", 0), "<null>"), SHOW(codec.fromUnicode(nullptr, 3), ""),
        SHOW(codec.fromUnicode(u"ab", -1), std::string("ab\0", 3)),
        SHOW(codec.fromUnicode(u"\0x", 2), std::string("\0x", 2)),
        SHOW(codec.fromUnicode(u"x\xD800y", 3), "x\xEF\xBF\xBDy"),   // a lone surrogate
    });

    // A bad byte anywhere in a text too long for the local buffer: the text before its character.
    std::string text;
    while (text.size() < 13000)
        text += "abc \xE4\xB8\xAD\xE6\x96\x87 \xC3\xA9 \xF0\x9F\x98\x80 ";
    for (std::size_t pos = 0; pos < text.size(); pos += pos < 200 || pos > 12200 ? 1 : 97) {
        std::string bad = text;
        bad[pos] = '\xFF';
        std::size_t start = pos;
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
            --start;
        const std::u16string expected = start == 0 ? u"" : str(codec.toUnicode(text.data(), static_cast<int>(start)));
        ASSERT_EQ(str(codec.toUnicode(bad.data(), static_cast<int>(bad.size()))), expected) << "at " << pos;
    }
}

TEST(NxTextCodec, LongTextGoesThroughTheHeapBuffer) {
    NxTextCodec codec(NxTextCodec::Utf8);
    for (std::size_t units : {4095u, 4096u, 4097u, 10000u}) {
        std::u16string text;
        while (text.size() < units)
            text.push_back(u"a\u00E9\u4E2D"[text.size() % 3]);
        const NxByteArray utf8 = codec.fromUnicode(text.data(), static_cast<int>(text.size()));
        EXPECT_EQ(static_cast<std::size_t>(utf8.size()), units / 3 * 6 + (units % 3 >= 1) + (units % 3 == 2) * 2);
        EXPECT_EQ(str(codec.toUnicode(utf8.constData(), utf8.size())), text) << units;
        EXPECT_EQ(str(NxString::fromUtf8(utf8.constData(), utf8.size())), text) << units;
    }
}

}  // namespace
