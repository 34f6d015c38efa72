// Text containers: the implicitly shared byte array NxByteArray (with its writable index proxy
// NxByteRef), the implicitly shared UTF-16 string NxString, and the code-page codec NxTextCodec
// between them.
//
// Both containers hold one pointer to a reference-counted record that copies share; the first
// write through a copy whose record is shared gives that copy a private record (copy on write).
// Null and empty are distinct: a null value refers to the shared null record, an empty one has
// size 0. Positions and lengths are 32-bit signed; searches return a position or -1; positions
// outside the value are clamped or ignored as each member says. Records come from nxMalloc and
// reference counts are NxAtomicInt, so values sharing a record may be copied and destroyed on
// different threads; one object must not be modified by two threads at once. A length beyond
// the 32-bit range throws std::length_error; memory exhaustion throws std::bad_alloc.
#ifndef NXUTIL_TEXT_H
#define NXUTIL_TEXT_H

#include "nxutil_export.h"
#include "memory/memory.h"

class NxByteRef;
class NxString;

namespace nxtext {
// Helpers of the containers' inline fast paths; not part of the interface.

/// Whether a record's count is 1, read with acquire ordering so that another thread's reads
/// of the record before it dropped its reference happen before this thread's in-place write.
/// NxAtomicInt is exactly one 32-bit atomic integer.
inline bool soleOwner(const NxAtomicInt& ref) {
#if defined(__GNUC__)
    return __atomic_load_n(reinterpret_cast<const int*>(&ref), __ATOMIC_ACQUIRE) == 1;
#else
    return static_cast<int>(ref) == 1;
#endif
}

/// The capacity growth rule for `n` elements of `unit` bytes (n >= 0): t = unit * n + 20,
/// then a block of 16, 64 or 4096 is added and that block's bit cleared, capacity
/// (t - 20) / unit, never below n. It leaves no headroom for about half of all sizes.
inline long long growCapacity(long long n, int unit) {
    long long t = unit * n + 20;
    if (t < 64)
        t = (t + 16) & ~16LL;
    else if (t < 4096)
        t = (t + 64) & ~64LL;
    else
        t = (t + 4096) & ~4096LL;
    long long cap = (t - 20) / unit;
    return cap < n ? n : cap;
}

/// Elements (capacity and terminator) the heap block of a record with capacity `alloc`
/// holds: rounded up to a quarter-octave step, so that a sole owner's growth within one step
/// reuses the block and appends reallocate geometrically seldom even where the capacity rule
/// gives no headroom. Blocks above 2^28 elements are exact.
inline long long blockElements(int alloc) {
    unsigned long long n = static_cast<unsigned long long>(alloc) + 1;
    if (n <= 8)
        return 8;
    if (n > (1ULL << 28))
        return static_cast<long long>(n);
#if defined(__GNUC__)
    int e = 63 - __builtin_clzll(n - 1);
#else
    int e = 0;
    for (unsigned long long v = n - 1; v > 1; v >>= 1)
        ++e;
#endif
    unsigned long long step = 1ULL << (e - 2);
    return static_cast<long long>((n + step - 1) & ~(step - 1));
}
}  // namespace nxtext

/// A reference-counted, zero-terminated byte sequence with copy-on-write.
class NXUTIL_API NxByteArray {
public:
    /// The shared record: one allocation holding this header and `alloc` + 1 bytes of storage.
    struct Data {
        NxAtomicInt ref;   ///< references to this record
        int alloc;         ///< capacity in bytes, not counting the terminating zero
        int size;          ///< bytes in use; data[size] is always 0
        char* data;        ///< always `array`
        char array[1];     ///< inline storage
    };
    /// The records of every null array and of arrays resized to 0. Set up at load with one
    /// permanent reference, so they are never released.
    static Data shared_null;
    static Data shared_empty;

    /// A null array.
    NxByteArray();
    /// A copy of the zero-terminated `str`; null gives a null array, "" an empty one.
    NxByteArray(const char* str);
    /// A copy of `size` bytes (embedded zeros included); size 0 gives an empty array, a null
    /// `data` a null array, a negative size means strlen(data).
    NxByteArray(const char* data, int size);
    /// `size` copies of `ch`; a size of 0 or less gives an empty array.
    NxByteArray(char ch, int size);
    NxByteArray(const NxByteArray& other);
    ~NxByteArray();

    NxByteArray& operator=(const NxByteArray& other);
    /// clear() then append(str): a null or empty str leaves a null array.
    NxByteArray& operator=(const char* str);

    int size() const { return d->size; }
    int count() const { return d->size; }
    bool isEmpty() const { return d->size == 0; }
    bool isNull() const { return d == &shared_null; }
    /// n <= 0 gives the shared empty record; growing leaves the new bytes uninitialised.
    void resize(int n);
    /// Makes the array null.
    void clear();
    /// Drops the headroom beyond the size.
    void squeeze();

    /// The byte at i (0 <= i <= size; i = size reads the terminating zero). Unchecked.
    char at(int i) const { return d->data[i]; }
    char operator[](int i) const { return d->data[i]; }
    char operator[](unsigned int i) const { return d->data[i]; }
    /// A proxy that detaches on write and grows the array when written beyond the end.
    NxByteRef operator[](int i);
    NxByteRef operator[](unsigned int i);
    /// Writable bytes: detaches first (a null array becomes an allocated empty one).
    char* data();
    const char* data() const { return d->data; }
    const char* constData() const { return d->data; }

    /// First position at or after `from` (negative: counted from the end) holding c, or -1.
    int indexOf(char c, int from = 0) const;
    /// First position at or after `from` where `str` starts, or -1. An empty str is found at
    /// `from` when from <= size; a null str is never found.
    int indexOf(const char* str, int from = 0) const;
    /// Last position at or before `from` (negative: counted from the end; above the size: the
    /// last byte) holding c, or -1.
    int lastIndexOf(char c, int from = -1) const;
    /// Last position at or before `from` (negative: the last possible one) where the needle
    /// starts, or -1.  "abab".lastIndexOf("ab", -1) => 2, ("ab", 1) => 0. A one-byte needle is
    /// searched as the char overload (a from above the size is clamped); for a longer one a
    /// from above the size gives -1.
    int lastIndexOf(const char* str, int from = -1) const;
    int lastIndexOf(const NxByteArray& ba, int from = -1) const;
    bool contains(char c) const { return indexOf(c, 0) != -1; }
    bool contains(const char* str) const { return indexOf(str, 0) != -1; }
    bool endsWith(const NxByteArray& ba) const;
    bool endsWith(const char* str) const;
    bool endsWith(char c) const;

    /// Appends len bytes (negative: strlen(str)); a null str or len 0 changes nothing.
    NxByteArray& append(const char* str, int len);
    NxByteArray& append(const char* str);
    NxByteArray& append(char c);
    /// A null or shared-empty array becomes a copy of ba (sharing its record).
    NxByteArray& append(const NxByteArray& ba);
    NxByteArray& prepend(const char* str, int len);
    NxByteArray& prepend(const char* str);
    NxByteArray& prepend(char c);
    NxByteArray& prepend(const NxByteArray& ba);
    /// Inserts at pos; a pos beyond the size pads the gap with spaces.
    ///   "ab".insert(5, 'x') => "ab   x". A negative pos or an empty source changes nothing.
    NxByteArray& insert(int pos, char c);
    NxByteArray& insert(int pos, const char* str);
    NxByteArray& insert(int pos, const char* str, int len);
    NxByteArray& insert(int pos, const NxByteArray& ba);
    /// Removes len bytes at pos; out-of-range arguments change nothing; a range reaching the end
    /// truncates.  "abc".remove(1, 10) => "a".
    NxByteArray& remove(int pos, int len);
    NxByteArray& operator+=(const NxByteArray& ba) { return append(ba); }
    NxByteArray& operator+=(const char* str) { return append(str); }
    NxByteArray& operator+=(char c) { return append(c); }

    /// The first len bytes; len >= size gives the whole array shared, a negative len empty.
    NxByteArray left(int len) const;
    /// The last len bytes, as left().
    NxByteArray right(int len) const;
    /// len bytes from pos (negative len: to the end). A null or shared-empty array or pos >=
    /// size gives null; a negative pos shortens the range.  "abc".mid(-1, 2) => "a".
    NxByteArray mid(int pos, int len = -1) const;

    /// Two lower-case hexadecimal digits per byte; always non-null.  {0x00, 0xFF} => "00ff".
    NxByteArray toHex() const;
    /// Bytes from hexadecimal digits read right to left, skipping any other character; an odd
    /// digit count leaves the first byte with one digit.  "616263" => "abc", "abc" => 0x0A 0xBC,
    /// "0G1" => 0x01.
    static NxByteArray fromHex(const NxByteArray& hex);
    /// Detaches this array, then returns a copy in a record of its own (null for an empty one).
    NxByteArray clone();

private:
    friend class NxByteRef;
    explicit NxByteArray(Data* adopted) : d(adopted) {}
    static int grow(int n);
    void reallocData(int alloc);
    void detach();
    void expand(int i);
    static NxByteArray fromAscii(const char* str, int n);
    void release();

    Data* d;
};

/// The writable proxy returned by NxByteArray's non-const index operator.
class NXUTIL_API NxByteRef {
public:
    /// The byte at the index, or 0 at or beyond the size.
    operator char() const;
    /// Writes the byte, detaching first and growing the array when the index is at or beyond
    /// the size (the bytes in between stay uninitialised).
    NxByteRef& operator=(char c);
    NxByteRef& operator=(const NxByteRef& other);
    // Signed byte comparisons: 0x80 compares below 0x7F.
    bool operator==(char c) const { return static_cast<char>(*this) == c; }
    bool operator!=(char c) const { return static_cast<char>(*this) != c; }
    bool operator>(char c) const { return static_cast<signed char>(static_cast<char>(*this)) > static_cast<signed char>(c); }
    bool operator>=(char c) const { return static_cast<signed char>(static_cast<char>(*this)) >= static_cast<signed char>(c); }
    bool operator<(char c) const { return static_cast<signed char>(static_cast<char>(*this)) < static_cast<signed char>(c); }
    bool operator<=(char c) const { return static_cast<signed char>(static_cast<char>(*this)) <= static_cast<signed char>(c); }

private:
    friend class NxByteArray;
    NxByteRef(NxByteArray& array, int index) : m_array(array), m_index(index) {}
    NxByteArray& m_array;
    int m_index;
};

/// A reference-counted, zero-terminated UTF-16 string with copy-on-write.
class NXUTIL_API NxString {
public:
    /// The shared record: one allocation holding this header and `alloc` + 1 units.
    struct Data {
        NxAtomicInt ref;   ///< references to this record
        int alloc;         ///< capacity in units, not counting the terminating zero
        int size;          ///< units in use; data[size] is always 0
        char16_t* data;    ///< always `array`
        char16_t array[1]; ///< inline storage
    };

    /// A null string.
    NxString();
    /// A copy of the zero-terminated s (empty gives an empty, non-null string; null a null one).
    NxString(const char16_t* s);
    /// `size` units of s (negative: up to its zero).
    NxString(const char16_t* s, int size);
    /// `size` bytes of s in the ANSI code page (negative: strlen).
    NxString(const char* s, int size);
    /// The one unit c.
    NxString(char16_t c);
    NxString(const NxString& other);
    ~NxString();

    /// From the ANSI code page (UTF-8 outside Windows); a negative size means strlen.
    static NxString fromAscii(const char* s, int size = -1);
    static NxString fromUtf8(const char* s, int size = -1);
    static NxString fromWCharArray(const char16_t* s, int size = -1);
    /// The value in base 2..36, lower-case digits; base 10 shows a sign, other bases the 32
    /// bits unsigned.  number(255, 16) => "ff", number(-5, 10) => "-5", number(-1, 16) =>
    /// "ffffffff". Another base gives an empty string.
    static NxString number(int value, int base = 10);

    NxString& operator=(const NxString& other);

    int size() const { return d->size; }
    int length() const { return d->size; }
    bool isEmpty() const { return d->size == 0; }
    bool isNull() const { return d == shared_null(); }
    /// n <= 0 gives the shared empty record; shrinking never reallocates.
    void resize(int n);
    void clear();

    /// A writable reference to unit i (detaches first). Unchecked index.
    char16_t& at(int i);
    char16_t at(int i) const { return d->data[i]; }
    char16_t operator[](int i) const { return d->data[i]; }
    const char16_t* constString() const { return d->data; }

    bool operator==(const NxString& other) const;
    bool operator==(const char16_t* s) const;
    /// Compares with s converted from the ANSI code page.
    bool operator==(const char* s) const;
    bool operator!=(const NxString& other) const { return !(*this == other); }
    bool operator!=(const char16_t* s) const { return !(*this == s); }
    bool operator!=(const char* s) const { return !(*this == s); }
    /// Unit by unit as unsigned values, then by size: <0, 0 or >0 ("ab" vs "abc" => -1,
    /// "b" vs "abc" => 1).
    int compare(const NxString& other) const;
    /// As compare, case-insensitively in the current locale ("ABC" vs "abc" => 0).
    int compareNoCase(const NxString& other) const;
    bool operator<(const NxString& other) const { return compare(other) < 0; }
    bool operator>=(const NxString& other) const { return compare(other) >= 0; }
    bool operator>(const NxString& other) const { return other.compare(*this) < 0; }
    bool operator<=(const NxString& other) const { return other.compare(*this) >= 0; }

    // indexOf sees the string up to its first zero unit; lastIndexOf searches all `size` units.
    /// First position at or after `from` holding c, or -1; -1 also when from is at or beyond
    /// the size. Searching for 0 from inside the string finds the end (the size).
    int indexOf(char16_t c, int from = 0) const;
    /// First position at or after `from` where s starts (an empty s: from), or -1; -1 also on
    /// an empty string and when from is at or beyond the size.
    int indexOf(const NxString& s, int from = 0) const;
    /// Last position at or before `from` (negative: counted from the end) holding c, or -1.
    int lastIndexOf(char16_t c, int from = -1) const;
    /// Last position at or before `from` (negative: counted from the end) where s starts, or
    /// -1. A one-unit s is searched as the unit overload; for a longer one a from at or beyond
    /// the size gives -1.
    int lastIndexOf(const NxString& s, int from = -1) const;
    bool contains(char16_t c) const { return indexOf(c, 0) != -1; }
    bool contains(const NxString& s) const { return indexOf(s, 0) != -1; }
    /// On an empty string true only for c = 0.
    bool startsWith(char16_t c) const;
    bool endsWith(char16_t c) const;
    /// A null string starts with a null s only; an empty one with an empty s.
    bool startsWith(const NxString& s) const;
    bool endsWith(const NxString& s) const;

    /// Appends s; a null s changes nothing, a null string becomes a copy of s.
    NxString& append(const NxString& s);
    NxString& append(char16_t c) {
        // Inline while the unit fits the heap block of a record this string owns alone (the
        // capacity then follows the growth rule without a reallocation); else out of line.
        Data* x = d;
        if (nxtext::soleOwner(x->ref)) {
            if (x->size >= x->alloc) {
                long long g = nxtext::growCapacity(x->size + 1LL, 2);
                if (nxtext::blockElements(x->alloc) < g + 1)
                    return appendGrowing(c);
                x->alloc = static_cast<int>(g);
            }
            x->data[x->size] = c;
            x->data[++x->size] = 0;
            return *this;
        }
        return appendGrowing(c);
    }
    NxString& append(const char16_t* s) {
        // Short strings are appended inline like single units; the rest out of line.
        if (!s)
            return *this;
        unsigned int n = 0;
        while (n <= kInlineAppend && s[n])
            ++n;
        if (n <= kInlineAppend && appendInPlace(s, static_cast<int>(n)))
            return *this;
        return appendPointer(s);
    }
    /// Appends s converted from the ANSI code page.
    NxString& append(const char* s);
    NxString& operator+=(const NxString& s) { return append(s); }
    NxString& operator+=(char16_t c) { return append(c); }
    NxString& operator+=(const char16_t* s) { return append(s); }
    NxString& operator+=(const char* s) { return append(s); }
    /// Inserts c at pos (negative: counted from the end); a gap is padded with spaces.
    ///   "ab".insert(5, 'x') => "ab   x", "ab".insert(-1, 'x') => "axb".
    NxString& insert(int pos, char16_t c);
    /// Inserts len units at pos (pos not counted from the end); s may point into this string.
    NxString& insert(int pos, const char16_t* s, int len);
    NxString& insert(int pos, const NxString& s);
    /// Removes len units at pos (negative: counted from the end); a range reaching the end
    /// truncates.  "abc".remove(-1, 1) => "ab".
    NxString& remove(int pos, int len);
    /// Replaces every occurrence of before, left to right without overlap; the result is a new
    /// record even when nothing matched.  "banana": "a" -> "xy" => "bxynxynxy". An empty
    /// `before` matches nothing.
    NxString& replace(const NxString& before, const NxString& after);
    /// As replace, matching case-insensitively like compareNoCase.
    NxString& replaceNoCase(const NxString& before, const NxString& after);

    /// The first n units; n < 0 or n >= size gives the whole string shared.
    NxString left(int n) const;
    NxString right(int n) const;
    /// len units from pos (negative len: to the end); null for a null string or pos >= size.
    NxString mid(int pos, int len = -1) const;

    /// The decimal value when every unit is a digit (no sign, no space; "" => 0), with *ok
    /// true; otherwise 0 with *ok false. Values beyond the range saturate.
    int toInt32(bool* ok = nullptr) const;
    unsigned int toUInt32(bool* ok = nullptr) const;
    /// A lower- / upper-cased copy (current locale); this string is unchanged.
    NxString toLower() const;
    NxString toUpper() const;
    /// UTF-8 bytes; an empty string gives a null array.
    NxByteArray toUtf8() const;
    /// Bytes in the ANSI code page; an empty string gives a null array.
    NxByteArray toCap() const;

private:
    explicit NxString(Data* adopted) : d(adopted) {}
    static int grow(int n);
    void reallocData(int alloc);
    void reallocData();
    void detach();
    void expand(int i);
    void swap(NxString& other);
    static void freeData(Data*& x);
    static Data* shared_null();
    static Data* shared_empty();
    static Data* fromAscii_helper(const char* s, int n);
    static Data* fromUtf8_helper(const char* s, int n);
    // NxTextCodec's strict decoding (n > 0 bytes), straight into a record.
    friend class NxTextCodec;
    static Data* decodeStrict_helper(unsigned int codePage, const char* s, int n);
    static Data* fromUnicode_helper(const char16_t* s, int n);
    NxString& appendUnits(const char16_t* s, int n);
    NxString& appendGrowing(char16_t c);
    NxString& appendPointer(const char16_t* s);
    static constexpr unsigned int kInlineAppend = 32;
    // Copies n units (no more than kInlineAppend, zero-terminated at s[n]) behind the end when
    // this string owns its record alone and its heap block has room; false otherwise.
    bool appendInPlace(const char16_t* s, int n) {
        Data* x = d;
        if (!nxtext::soleOwner(x->ref))
            return false;
        long long total = static_cast<long long>(x->size) + n;
        if (total > x->alloc) {
            long long g = nxtext::growCapacity(total, 2);
            if (nxtext::blockElements(x->alloc) < g + 1)
                return false;
            x->alloc = static_cast<int>(g);
        }
        // s cannot overlap the tail: inside this string it ends at or before the terminator.
        char16_t* to = x->data + x->size;
        for (int k = 0; k < n; ++k)
            to[k] = s[k];
        to[n] = 0;
        x->size = static_cast<int>(total);
        return true;
    }
    NxString& replaceImpl(const NxString& before, const NxString& after, bool noCase);

    Data* d;
};

/// Converts between 8-bit text in one encoding and UTF-16.
class NXUTIL_API NxTextCodec {
public:
    enum Encoding : int {
        Utf8 = 1,   ///< UTF-8 (code page 65001)
        Ansi = 3,   ///< the system's ANSI code page (UTF-8 outside Windows)
    };

    /// Any other value makes an unsupported codec whose conversions give null results.
    NxTextCodec(Encoding encoding) : m_encoding(encoding) {}
    ~NxTextCodec() {}
    NxTextCodec& operator=(const NxTextCodec& other) {
        m_encoding = other.m_encoding;
        return *this;
    }

    /// Decodes `length` bytes (-1: through the terminating zero, which then ends the string
    /// as a counted unit). Length 0 or an unsupported codec give a null string; an invalid
    /// sequence with an explicit length gives the text before it, with -1 an empty string.
    /// The third argument is ignored.
    NxString toUnicode(const char* in, int length, int* state = nullptr) const;
    /// Encodes `length` units (-1: through the terminating zero unit). Length 0 or an
    /// unsupported codec give a null array; characters the page lacks become its default
    /// character.
    NxByteArray fromUnicode(const char16_t* in, int length) const;

private:
    unsigned int codepage() const;

    Encoding m_encoding;
};

#endif
