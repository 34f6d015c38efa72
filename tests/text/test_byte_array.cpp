// NxByteArray and NxByteRef: null and empty states, copy-on-write, growth, editing, extracts,
// searches (including the rolling-hash lastIndexOf against a plain scan) and hexadecimal.
#include "text/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <random>
#include <stdexcept>
#include <string>

namespace {

std::string str(const NxByteArray& a) { return std::string(a.constData(), static_cast<std::size_t>(a.size())); }

TEST(NxByteArray, NullAndEmptyAreDistinctStates) {
    NxByteArray null;
    EXPECT_TRUE(null.isNull());
    EXPECT_TRUE(null.isEmpty());
    EXPECT_EQ(null.constData()[0], 0);

    NxByteArray fromEmpty("");
    EXPECT_FALSE(fromEmpty.isNull());
    EXPECT_TRUE(fromEmpty.isEmpty());
    EXPECT_TRUE(NxByteArray(static_cast<const char*>(nullptr)).isNull());
    EXPECT_TRUE(NxByteArray(nullptr, 5).isNull());

    NxByteArray a("abc");
    a.resize(0);
    EXPECT_FALSE(a.isNull());
    EXPECT_TRUE(a.isEmpty());
    EXPECT_EQ(a.constData(), NxByteArray::shared_empty.array);
    a = "xyz";
    a.clear();
    EXPECT_TRUE(a.isNull());
    EXPECT_EQ(a.constData(), NxByteArray::shared_null.array);
    a = "";
    EXPECT_TRUE(a.isNull());
    a = static_cast<const char*>(nullptr);
    EXPECT_TRUE(a.isNull());

    EXPECT_EQ(str(NxByteArray('x', 3)), "xxx");
    EXPECT_FALSE(NxByteArray('x', 0).isNull());
    EXPECT_TRUE(NxByteArray('x', -4).isEmpty());

    // Bytes that begin with a zero are kept whole.
    NxByteArray zeros("\0ab", 3);
    EXPECT_EQ(zeros.size(), 3);
    EXPECT_EQ(str(zeros), std::string("\0ab", 3));
    EXPECT_EQ(str(NxByteArray("abc", -1)), "abc");

    // The static records keep their permanent reference however often they are shared.
    {
        NxByteArray many[16];
        EXPECT_GE(static_cast<int>(NxByteArray::shared_null.ref), 17);
    }
    EXPECT_GE(static_cast<int>(NxByteArray::shared_null.ref), 1);
    EXPECT_EQ(NxByteArray::shared_null.size, 0);
    EXPECT_EQ(NxByteArray::shared_empty.alloc, 0);
}

TEST(NxByteArray, CopiesShareARecordUntilOneIsWritten) {
    NxByteArray a("hello");
    NxByteArray b(a);
    NxByteArray c;
    c = a;
    EXPECT_EQ(a.constData(), b.constData());
    EXPECT_EQ(a.constData(), c.constData());

    b.append('!');
    EXPECT_NE(a.constData(), b.constData());
    EXPECT_EQ(str(a), "hello");
    EXPECT_EQ(str(b), "hello!");

    const char* before = c.constData();
    char* w = c.data();   // detaches: the record is shared with a
    EXPECT_NE(w, before);
    w[0] = 'J';
    EXPECT_EQ(str(a), "hello");
    EXPECT_EQ(str(c), "Jello");

    // A sole owner writes in place.
    const char* own = c.constData();
    c.data()[1] = 'E';
    EXPECT_EQ(c.constData(), own);

    NxByteArray& alias = c;
    c = alias;   // self-assignment
    EXPECT_EQ(str(c), "JEllo");

    NxByteArray n;
    n.data();
    EXPECT_FALSE(n.isNull());
    EXPECT_TRUE(n.isEmpty());
}

TEST(NxByteArray, CloneOwnsItsRecord) {
    NxByteArray a("shared");
    NxByteArray b(a);
    NxByteArray c = b.clone();
    EXPECT_NE(a.constData(), b.constData());   // clone() detached b first
    EXPECT_NE(b.constData(), c.constData());
    c.data()[0] = 'S';
    EXPECT_EQ(str(a), "shared");
    EXPECT_EQ(str(b), "shared");
    EXPECT_EQ(str(c), "Shared");

    NxByteArray empty("");
    EXPECT_TRUE(empty.clone().isNull());
    NxByteArray null;
    EXPECT_TRUE(null.clone().isNull());
    EXPECT_FALSE(null.isNull());   // detached into an allocated empty array
}

// The record header precedes the bytes; its layout is part of the exported interface.
const NxByteArray::Data* recordOf(const NxByteArray& a) {
    return reinterpret_cast<const NxByteArray::Data*>(a.constData() -
                                                      offsetof(NxByteArray::Data, array));
}

TEST(NxByteArray, GrowthRoundsPastABlockBoundary) {
    struct Case {
        int n;
        int capacity;
    };
    const Case cases[] = {{1, 17}, {12, 12}, {44, 108}, {45, 109}, {108, 108}, {4076, 8172}};
    for (const Case& c : cases) {
        std::string bytes(static_cast<std::size_t>(c.n), 'x');
        NxByteArray a;
        a.append(bytes.data(), c.n);
        EXPECT_EQ(recordOf(a)->alloc, c.capacity) << c.n;
        EXPECT_EQ(recordOf(a)->size, c.n);
        EXPECT_EQ(recordOf(a)->data, a.constData());
        EXPECT_EQ(static_cast<int>(recordOf(a)->ref), 1);
    }
    // A detached copy has exactly its size as capacity; so has a squeezed array.
    NxByteArray a;
    a.append("abc", 3);
    NxByteArray b(a);
    EXPECT_EQ(static_cast<int>(recordOf(a)->ref), 2);
    b.data();
    EXPECT_EQ(recordOf(b)->alloc, 3);
    EXPECT_EQ(static_cast<int>(recordOf(a)->ref), 1);
    a.squeeze();
    EXPECT_EQ(recordOf(a)->alloc, 3);
    // clone() gives a record with growth headroom.
    EXPECT_EQ(recordOf(a.clone())->alloc, 19);
}

TEST(NxByteArray, ResizeAndSqueeze) {
    NxByteArray a("abcdef");
    a.resize(3);
    EXPECT_EQ(str(a), "abc");
    EXPECT_EQ(a.constData()[3], 0);
    a.resize(5);
    EXPECT_EQ(a.size(), 5);
    EXPECT_EQ(a.constData()[5], 0);
    a.squeeze();
    EXPECT_EQ(a.size(), 5);
    EXPECT_EQ(std::string(a.constData(), 3), "abc");

    NxByteArray null;
    null.resize(4);
    EXPECT_EQ(null.size(), 4);
    EXPECT_EQ(null.constData()[4], 0);
}

TEST(NxByteArray, EditingFollowsTheDocumentedClamping) {
    NxByteArray a("ab");
    a.insert(5, 'x');
    EXPECT_EQ(str(a), "ab   x");
    EXPECT_EQ(a.constData()[6], 0);

    NxByteArray b("abc");
    b.remove(1, 10);
    EXPECT_EQ(str(b), "a");
    NxByteArray c("abc");
    c.remove(-1, 1);
    EXPECT_EQ(str(c), "abc");
    c.remove(1, 0);
    c.remove(3, 1);
    EXPECT_EQ(str(c), "abc");
    c.remove(1, 1);
    EXPECT_EQ(str(c), "ac");
    c.remove(0, 2);
    EXPECT_FALSE(c.isNull());
    EXPECT_TRUE(c.isEmpty());

    NxByteArray d("world");
    d.prepend("hello ").append("!").append(static_cast<const char*>(nullptr)).append("xyz", 0);
    EXPECT_EQ(str(d), "hello world!");
    d.insert(0, "<").insert(d.size(), ">", 1).insert(-1, "never").insert(2, "", 0);
    EXPECT_EQ(str(d), "<hello world!>");
    d.prepend('[');
    d += ']';
    d += NxByteArray("..");
    d += "..";
    EXPECT_EQ(str(d), "[<hello world!>]....");

    // Appending or prepending to a null or shared-empty array shares the other record.
    NxByteArray src("shared");
    NxByteArray n;
    n.append(src);
    EXPECT_EQ(n.constData(), src.constData());
    NxByteArray e("x");
    e.resize(0);
    e.prepend(src);
    EXPECT_EQ(e.constData(), src.constData());
    NxByteArray f("x");
    f.append(NxByteArray());
    EXPECT_EQ(str(f), "x");

    // Sources inside the array itself survive the reallocation.
    NxByteArray self("abcdefgh");
    self.append(self);
    EXPECT_EQ(str(self), "abcdefghabcdefgh");
    self.insert(2, self.constData(), 4);
    EXPECT_EQ(str(self), "ababcdcdefghabcdefgh");
    self.prepend(self.constData() + 18, 2);
    EXPECT_EQ(str(self), "ghababcdcdefghabcdefgh");
    NxByteArray twice("xy");
    twice.insert(1, twice);
    EXPECT_EQ(str(twice), "xxyy");
}

TEST(NxByteArray, IndexProxyDetachesAndGrows) {
    NxByteArray a("ab");
    NxByteArray shared(a);
    a[5] = 'z';
    EXPECT_EQ(a.size(), 6);
    EXPECT_EQ(a.constData()[5], 'z');
    EXPECT_EQ(a.constData()[6], 0);
    EXPECT_EQ(str(shared), "ab");
    EXPECT_EQ(static_cast<char>(a[10]), 0);   // reading beyond the end gives 0
    EXPECT_EQ(a.size(), 6);

    NxByteArray b(a);
    b[0u] = a[1];
    EXPECT_EQ(b.constData()[0], 'b');
    EXPECT_EQ(a.constData()[0], 'a');

    NxByteArray s("\x80\x7F", 2);
    EXPECT_TRUE(s[0] < '\x7F');
    EXPECT_TRUE(s[1] > '\x80');
    EXPECT_TRUE(s[0] <= '\x80');
    EXPECT_TRUE(s[1] >= '\x7F');
    EXPECT_TRUE(s[0] == '\x80');
    EXPECT_TRUE(s[0] != '\x7F');
}

TEST(NxByteArray, ExtractsClampTheirRange) {
    NxByteArray abc("abc");
    EXPECT_TRUE(NxByteArray().left(5).isNull());
    EXPECT_TRUE(abc.left(0).isEmpty());
    EXPECT_FALSE(abc.left(0).isNull());
    EXPECT_TRUE(abc.left(-3).isEmpty());
    EXPECT_EQ(abc.left(10).constData(), abc.constData());
    EXPECT_EQ(str(abc.left(2)), "ab");
    EXPECT_EQ(str(abc.right(2)), "bc");
    EXPECT_EQ(str(abc.right(-1)), "");
    EXPECT_TRUE(abc.mid(3, -1).isNull());
    EXPECT_EQ(str(abc.mid(-1, 2)), "a");
    EXPECT_TRUE(abc.mid(-5, 2).isEmpty());
    EXPECT_FALSE(abc.mid(-5, 2).isNull());
    EXPECT_EQ(str(abc.mid(1)), "bc");
    EXPECT_EQ(str(abc.mid(1, 10)), "bc");
    EXPECT_EQ(abc.mid(0, 3).constData(), abc.constData());
    EXPECT_EQ(abc.mid(0, INT_MAX).constData(), abc.constData());
    EXPECT_EQ(str(abc.mid(INT_MIN, INT_MAX)), "");
    NxByteArray empty("x");
    empty.resize(0);
    EXPECT_TRUE(empty.mid(0, 1).isNull());
}

TEST(NxByteArray, SearchesNormaliseTheirStart) {
    NxByteArray s("abcb");
    EXPECT_EQ(s.indexOf('b', -1), 3);
    EXPECT_EQ(s.indexOf('b', -100), 1);
    EXPECT_EQ(s.indexOf('b', 4), -1);
    EXPECT_EQ(s.indexOf("cb", 1), 2);
    EXPECT_EQ(s.indexOf("cb", 3), -1);
    EXPECT_EQ(s.indexOf("", 4), 4);
    EXPECT_EQ(s.indexOf("", 5), -1);
    EXPECT_EQ(s.indexOf(static_cast<const char*>(nullptr)), -1);
    EXPECT_TRUE(s.contains('c'));
    EXPECT_FALSE(s.contains("bb"));

    EXPECT_EQ(NxByteArray("aba").lastIndexOf('a', 10), 2);
    EXPECT_EQ(NxByteArray("aba").lastIndexOf('a', -2), 0);
    EXPECT_EQ(NxByteArray("aba").lastIndexOf('a', -4), -1);
    EXPECT_EQ(NxByteArray("aba").lastIndexOf('\0', 3), 3);   // from == size reads the zero
    EXPECT_EQ(NxByteArray("abab").lastIndexOf("ab", -1), 2);
    EXPECT_EQ(NxByteArray("abab").lastIndexOf("ab", -100), 2);
    EXPECT_EQ(NxByteArray("abab").lastIndexOf("ab", 1), 0);
    EXPECT_EQ(NxByteArray("abab").lastIndexOf("ab", 5), -1);
    EXPECT_EQ(NxByteArray("ab").lastIndexOf("abc", 0), -1);
    EXPECT_EQ(NxByteArray("abab").lastIndexOf("b", -1), 3);
    EXPECT_EQ(NxByteArray("abab").lastIndexOf("", -1), 4);
    EXPECT_EQ(NxByteArray("abab").lastIndexOf("", 1), 1);
    EXPECT_EQ(NxByteArray("abab").lastIndexOf(NxByteArray("ba"), -1), 1);

    EXPECT_TRUE(s.endsWith(NxByteArray("cb")));
    EXPECT_TRUE(s.endsWith(s));
    EXPECT_TRUE(s.endsWith(NxByteArray()));
    EXPECT_FALSE(NxByteArray("b").endsWith(NxByteArray("cb")));
    EXPECT_TRUE(s.endsWith("b"));
    EXPECT_TRUE(s.endsWith(static_cast<const char*>(nullptr)));
    EXPECT_FALSE(s.endsWith("abcbb"));
    EXPECT_TRUE(s.endsWith('b'));
    EXPECT_FALSE(NxByteArray().endsWith('\0'));
}

// The rolling hash must find exactly what a plain backwards scan finds, with signed bytes,
// needles longer than 32 bytes (whose leaving term wraps to 0) and every start.
TEST(NxByteArray, RollingHashSearchAgreesWithAPlainScan) {
    std::mt19937 rng(3);
    for (int round = 0; round < 300; ++round) {
        std::string hay;
        int len = static_cast<int>(rng() % 120);
        for (int i = 0; i < len; ++i)
            hay.push_back(static_cast<char>("ab\x80\xFF"[rng() % 4]));
        std::size_t nlen = 2 + rng() % 40;
        std::string needle;
        if (!hay.empty() && rng() % 2) {
            std::size_t at = rng() % hay.size();
            needle = hay.substr(at, nlen);
        } else {
            for (std::size_t i = 0; i < nlen; ++i)
                needle.push_back(static_cast<char>("ab\x80\xFF"[rng() % 4]));
        }
        if (needle.size() < 2)
            continue;
        NxByteArray a(hay.data(), static_cast<int>(hay.size()));
        NxByteArray n(needle.data(), static_cast<int>(needle.size()));
        for (int from = -3; from <= len + 2; ++from) {
            int delta = len - static_cast<int>(needle.size());
            int expected = -1;
            if (delta >= 0 && from <= len) {
                int start = from < 0 || from > delta ? delta : from;
                std::size_t r = hay.rfind(needle, static_cast<std::size_t>(start));
                expected = r == std::string::npos ? -1 : static_cast<int>(r);
            }
            ASSERT_EQ(a.lastIndexOf(n, from), expected) << "round " << round << " from " << from;
        }
    }
}

TEST(NxByteArray, HexConversion) {
    EXPECT_EQ(str(NxByteArray("\x00\xFF", 2).toHex()), "00ff");
    EXPECT_EQ(str(NxByteArray("abc").toHex()), "616263");
    EXPECT_FALSE(NxByteArray().toHex().isNull());
    EXPECT_TRUE(NxByteArray().toHex().isEmpty());

    struct Case {
        const char* hex;
        std::string bytes;
    };
    const Case cases[] = {
        {"616263", "abc"},
        {"abc", std::string("\x0A\xBC", 2)},
        {"a b", std::string("\xAB", 1)},
        {"0G1", std::string("\x01", 1)},
        {"FFfe", std::string("\xFF\xFE", 2)},
        {"", ""},
        {"xyz", ""},
        {"0", std::string("\0", 1)},
        {"00:11:22", std::string("\x00\x11\x22", 3)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(str(NxByteArray::fromHex(NxByteArray(c.hex))), c.bytes) << c.hex;

    // Every byte value survives the round trip.
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    NxByteArray bytes(all.data(), 256);
    EXPECT_EQ(str(NxByteArray::fromHex(bytes.toHex())), all);
}

TEST(NxByteArray, LengthsBeyondTheSignedRangeAreRefused) {
    NxByteArray a("abc");
    char dummy = 'x';
    EXPECT_THROW(a.append(&dummy, INT_MAX), std::length_error);
    EXPECT_EQ(str(a), "abc");
    EXPECT_THROW(a.insert(INT_MAX, &dummy, 1), std::length_error);
    EXPECT_THROW(a.insert(1, &dummy, INT_MAX - 1), std::length_error);
    EXPECT_THROW(a.prepend(&dummy, INT_MAX - 1), std::length_error);
    EXPECT_EQ(str(a), "abc");
    EXPECT_THROW(a[INT_MAX] = 'x', std::length_error);
    EXPECT_EQ(str(a), "abc");
    a.remove(1, INT_MAX);
    EXPECT_EQ(str(a), "a");
}

}  // namespace
