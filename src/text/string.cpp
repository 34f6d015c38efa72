// NxString: records, growth and copy-on-write, construction from UTF-16, UTF-8 and the ANSI
// code page, comparison, search, editing, extracts and number conversion.
//
// The rules mirror NxByteArray's (a record changes in place only while its count is 1), counted
// in UTF-16 units. The forward searches work on the zero-terminated view of the string, as the C
// wide string functions the behaviour was defined with do: an embedded zero unit ends the text.
// The backward searches test every unit up to the size.
#include "text/text.h"
#include "text/text_internal.h"

#include "platform/codepage.h"
#include "platform/error.h"

#include <climits>
#include <cstddef>
#include <cstring>
#include <cwctype>
#include <exception>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using nxtext::checkedLength;
using nxtext::checkedSum;
using nxtext::soleOwner;

namespace {

using Data = NxString::Data;

using Record = nxtext::Records<Data>;
constexpr long long kMaxAlloc = Record::kMaxAlloc;

Data* allocRecord(int alloc) { return Record::allocate(alloc); }

Data* share(Data* x) {
    x->ref.ref();
    return x;
}

std::size_t unitLength(const char16_t* s) {
    std::size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

char16_t lowerUnit(char16_t c) {
    if (c < 0x80)
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    return static_cast<char16_t>(std::towlower(static_cast<std::wint_t>(c)));
}

char16_t upperUnit(char16_t c) {
    if (c < 0x80)
        return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
    return static_cast<char16_t>(std::towupper(static_cast<std::wint_t>(c)));
}

// Case-insensitive comparison of at most n units, stopping at a zero unit.
int compareNoCaseUnits(const char16_t* a, const char16_t* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        int x = lowerUnit(a[i]);
        int y = lowerUnit(b[i]);
        if (x != y)
            return x - y;
        if (a[i] == 0)
            break;
    }
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Records

Data* NxString::shared_null() {
    // Constant data apart from the count: a function-local static is initialised once even
    // when two threads arrive together.
    static Data record = {1, 0, 0, record.array, {0}};
    return &record;
}

Data* NxString::shared_empty() {
    static Data record = {1, 0, 0, record.array, {0}};
    return &record;
}

void NxString::freeData(Data*& x) {
    nxFree(x);
    x = nullptr;
}

int NxString::grow(int n) {
    long long cap = nxtext::growCapacity(n, 2);
    if (cap > kMaxAlloc)
        cap = n > kMaxAlloc ? n : kMaxAlloc;   // n itself is refused by Record::bytes
    return static_cast<int>(cap);
}

void NxString::reallocData(int alloc) { Record::resize(d, alloc); }

void NxString::reallocData() { reallocData(d->size); }

void NxString::detach() {
    if (!soleOwner(d->ref))
        reallocData(d->size);
}

void NxString::expand(int i) {
    int oldSize = d->size;
    resize(i >= oldSize ? checkedSum(i, 1) : oldSize);
    for (int k = oldSize; k < i; ++k)
        d->data[k] = u' ';
}

void NxString::swap(NxString& other) {
    Data* x = d;
    d = other.d;
    other.d = x;
}

Data* NxString::fromUnicode_helper(const char16_t* s, int n) {
    if (n < 0)
        n = s ? checkedLength(unitLength(s)) : 0;
    Data* x = allocRecord(n);
    if (n > 0)
        std::memcpy(x->data, s, static_cast<std::size_t>(n) * 2);
    x->size = n;
    x->data[n] = 0;
    return x;
}

namespace {

// A record of capacity n (n bytes never decode to more than n units) holding the decoded text;
// size 0 when the conversion fails.
Data* decodeRecord(unsigned int codePage, const char* s, int n) {
    if (n < 0)
        n = s ? checkedLength(std::strlen(s)) : 0;
    Data* x = allocRecord(n);
    int units = n > 0 ? platform::multiByteToWideChar(codePage, 0, s, n, x->data, n + 1) : 0;
    x->size = units;
    x->data[units] = 0;
    return x;
}

}  // namespace

Data* NxString::decodeStrict_helper(unsigned int codePage, const char* s, int n) {
    // A byte never decodes to more than one unit: a record of capacity n holds the result of
    // one call. An invalid sequence keeps the longest prefix that decodes (the same result as
    // dropping one byte at a time and retrying). The record is then shrunk to the result, as
    // a copy would have been made. A record that cannot be had gives the empty result of a
    // failed conversion, as the codec's contract says, rather than an exception.
    Data* x;
    try {
        x = allocRecord(n);
    } catch (const std::exception&) {
        return share(shared_empty());
    }
    int length = n;
    int units = platform::multiByteToWideChar(codePage, platform::kMbErrInvalidChars, s, length,
                                              x->data, n);
    while (units == 0 && platform::lastError().code == platform::kErrorNoUnicodeTranslation) {
        const int prefix = platform::multiByteValidPrefix(codePage, s, length);
        length = prefix < length ? prefix : length - 1;
        if (length <= 0)
            break;
        units = platform::multiByteToWideChar(codePage, platform::kMbErrInvalidChars, s, length,
                                              x->data, n);
    }
    x->size = units;
    x->data[units] = 0;
    if (units != n)
        Record::resize(x, units);
    return x;
}

Data* NxString::fromUtf8_helper(const char* s, int n) {
    return decodeRecord(platform::kCodePageUtf8, s, n);
}

Data* NxString::fromAscii_helper(const char* s, int n) {
    return decodeRecord(platform::kCodePageAnsi, s, n);
}

// ---------------------------------------------------------------------------------------------
// Construction and assignment

NxString::NxString() : d(share(shared_null())) {}

NxString::NxString(const char16_t* s) : d(s ? fromUnicode_helper(s, -1) : share(shared_null())) {}

NxString::NxString(const char16_t* s, int size)
    : d(s ? fromUnicode_helper(s, size) : share(shared_null())) {}

NxString::NxString(const char* s, int size)
    : d(s ? fromAscii_helper(s, size) : share(shared_null())) {}

NxString::NxString(char16_t c) : d(fromUnicode_helper(&c, 1)) {}

NxString::NxString(const NxString& other) : d(share(other.d)) {}

NxString::~NxString() {
    if (d->ref.deref() == 0)
        freeData(d);
}

NxString NxString::fromAscii(const char* s, int size) {
    return s ? NxString(fromAscii_helper(s, size)) : NxString();
}

NxString NxString::fromUtf8(const char* s, int size) {
    return s ? NxString(fromUtf8_helper(s, size)) : NxString();
}

NxString NxString::fromWCharArray(const char16_t* s, int size) {
    return s ? NxString(fromUnicode_helper(s, size)) : NxString();
}

NxString NxString::number(int value, int base) {
    if (base < 2 || base > 36)
        return NxString(fromUnicode_helper(nullptr, 0));
    static const char16_t kDigits[] = u"0123456789abcdefghijklmnopqrstuvwxyz";
    char16_t buf[40];
    char16_t* end = buf + 40;
    char16_t* p = end;
    bool negative = base == 10 && value < 0;
    unsigned int v = negative ? 0u - static_cast<unsigned int>(value)
                              : static_cast<unsigned int>(value);
    do {
        *--p = kDigits[v % static_cast<unsigned int>(base)];
        v /= static_cast<unsigned int>(base);
    } while (v != 0);
    if (negative)
        *--p = u'-';
    return NxString(fromUnicode_helper(p, static_cast<int>(end - p)));
}

NxString& NxString::operator=(const NxString& other) {
    Data* x = share(other.d);
    if (d->ref.deref() == 0)
        freeData(d);
    d = x;
    return *this;
}

// ---------------------------------------------------------------------------------------------
// Size and access

void NxString::resize(int n) {
    if (n <= 0) {
        Data* x = share(shared_empty());
        if (d->ref.deref() == 0)
            freeData(d);
        d = x;
        return;
    }
    if (!soleOwner(d->ref) || n > d->alloc)
        reallocData(grow(n));
    d->size = n;
    d->data[n] = 0;
}

void NxString::clear() {
    Data* x = share(shared_null());
    if (d->ref.deref() == 0)
        freeData(d);
    d = x;
}

char16_t& NxString::at(int i) {
    // Detaching first keeps a write through the reference from reaching other copies.
    detach();
    return d->data[i];
}

// ---------------------------------------------------------------------------------------------
// Comparison

bool NxString::operator==(const NxString& other) const {
    return d->size == other.d->size &&
           (d == other.d ||
            std::memcmp(d->data, other.d->data, static_cast<std::size_t>(d->size) * 2) == 0);
}

bool NxString::operator==(const char16_t* s) const {
    if (!s)
        return isNull();
    std::size_t n = unitLength(s);
    return n == static_cast<std::size_t>(d->size) &&
           std::memcmp(d->data, s, n * 2) == 0;
}

bool NxString::operator==(const char* s) const {
    if (!s)
        return isNull();
    return *this == fromAscii(s, -1);
}

int NxString::compare(const NxString& other) const {
    if (d->data == other.d->data && d->size == other.d->size)
        return 0;
    int n = d->size < other.d->size ? d->size : other.d->size;
    for (int i = 0; i < n; ++i) {
        int diff = static_cast<int>(d->data[i]) - static_cast<int>(other.d->data[i]);
        if (diff != 0)
            return diff;
    }
    return d->size - other.d->size;
}

int NxString::compareNoCase(const NxString& other) const {
    if (d->data == other.d->data && d->size == other.d->size)
        return 0;
    int n = d->size < other.d->size ? d->size : other.d->size;
    int r = compareNoCaseUnits(d->data, other.d->data, static_cast<std::size_t>(n));
    return r != 0 ? r : d->size - other.d->size;
}

// ---------------------------------------------------------------------------------------------
// Search

namespace {

// First position of the needle (n >= 1 units, none of them zero) in hay[0, len), where the
// text ends at its first zero unit; -1 when it is not there. With SSE2, eight candidate
// positions at a time are filtered by the needle's first and last units (and checked for the
// terminating zero) before any full comparison.
long findUnits(const char16_t* hay, std::size_t len, const char16_t* needle, std::size_t n) {
    std::size_t i = 0;
#if defined(__SSE2__)
    if (len >= n + 7) {
        const __m128i first = _mm_set1_epi16(static_cast<short>(needle[0]));
        const __m128i last = _mm_set1_epi16(static_cast<short>(needle[n - 1]));
        const __m128i zero = _mm_setzero_si128();
        for (; i + n + 7 <= len; i += 8) {
            __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + i));
            __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + i + n - 1));
            unsigned int zeros = static_cast<unsigned int>(_mm_movemask_epi8(_mm_cmpeq_epi16(a, zero)));
            unsigned int hits = static_cast<unsigned int>(_mm_movemask_epi8(
                _mm_and_si128(_mm_cmpeq_epi16(a, first), _mm_cmpeq_epi16(b, last))));
            if (zeros) {
                // Only candidates before the terminating zero count (a match cannot span it).
                hits &= (1u << __builtin_ctz(zeros)) - 1;
            }
            while (hits) {
                unsigned int bit = static_cast<unsigned int>(__builtin_ctz(hits));
                std::size_t p = i + bit / 2;
                if (n <= 2 ||
                    std::memcmp(hay + p + 1, needle + 1, (n - 2) * sizeof(char16_t)) == 0)
                    return static_cast<long>(p);
                hits &= ~(3u << bit);
            }
            if (zeros)
                return -1;
        }
    }
#endif
    for (; i + n <= len; ++i) {
        if (hay[i] == 0)
            return -1;
        if (hay[i] == needle[0] &&
            std::memcmp(hay + i + 1, needle + 1, (n - 1) * sizeof(char16_t)) == 0)
            return static_cast<long>(i);
    }
    return -1;
}

}  // namespace

int NxString::indexOf(char16_t c, int from) const {
    if (from >= d->size)
        return -1;
    if (from < 0)
        from = 0;
    if (c == 0) {
        // The first zero unit: an embedded one, else the terminator at the size.
        const char16_t* p = d->data + from;
        while (*p)
            ++p;
        return static_cast<int>(p - d->data);
    }
    long at = findUnits(d->data + from, static_cast<std::size_t>(d->size - from), &c, 1);
    return at < 0 ? -1 : from + static_cast<int>(at);
}

int NxString::indexOf(const NxString& s, int from) const {
    if (d->size == 0 || from >= d->size)
        return -1;
    if (from < 0)
        from = 0;
    // The needle ends at its first zero unit too; an empty one is found at from.
    std::size_t n = unitLength(s.d->data);
    if (n == 0)
        return from;
    long at = findUnits(d->data + from, static_cast<std::size_t>(d->size - from), s.d->data, n);
    return at < 0 ? -1 : from + static_cast<int>(at);
}

int NxString::lastIndexOf(char16_t c, int from) const {
    if (d->size == 0)
        return -1;
    if (from < 0)
        from += d->size;
    if (from < 0)
        return -1;
    if (from >= d->size)
        from = d->size - 1;
    for (const char16_t* p = d->data + from; p >= d->data; --p)
        if (*p == c)
            return static_cast<int>(p - d->data);
    return -1;
}

int NxString::lastIndexOf(const NxString& s, int from) const {
    int n = s.d->size;
    if (n == 1)
        return lastIndexOf(s.d->data[0], from);
    if (from < 0)
        from += d->size;
    if (n == 0 && from == d->size)
        return d->size;
    if (from < 0 || from >= d->size || n > d->size)
        return -1;
    if (from > d->size - n)
        from = d->size - n;
    for (const char16_t* p = d->data + from; p >= d->data; --p)
        if (std::memcmp(p, s.d->data, static_cast<std::size_t>(n) * 2) == 0)
            return static_cast<int>(p - d->data);
    return -1;
}

bool NxString::startsWith(char16_t c) const {
    return d->size == 0 ? c == 0 : d->data[0] == c;
}

bool NxString::endsWith(char16_t c) const {
    return d->size == 0 ? c == 0 : d->data[d->size - 1] == c;
}

bool NxString::startsWith(const NxString& s) const {
    if (isNull())
        return s.isNull();
    if (d->size == 0)
        return s.d->size == 0;
    if (s.d->size > d->size)
        return false;
    return std::memcmp(d->data, s.d->data, static_cast<std::size_t>(s.d->size) * 2) == 0;
}

bool NxString::endsWith(const NxString& s) const {
    if (isNull())
        return s.isNull();
    if (d->size == 0)
        return s.d->size == 0;
    if (s.d->size > d->size)
        return false;
    return std::memcmp(d->data + d->size - s.d->size, s.d->data,
                       static_cast<std::size_t>(s.d->size) * 2) == 0;
}

// ---------------------------------------------------------------------------------------------
// Editing

NxString& NxString::appendUnits(const char16_t* s, int n) {
    int total = checkedSum(d->size, n);
    // Units from this string's own storage: a second reference keeps the record in place
    // (the reallocation below then copies into a new one). Only then is a reference taken.
    struct Keep {
        Data* x = nullptr;
        ~Keep() {
            if (x && x->ref.deref() == 0)
                freeData(x);
        }
    } keep;
    if (s >= d->array && s <= d->array + d->alloc) {
        keep.x = d;
        d->ref.ref();
    }
    if (!soleOwner(d->ref) || total > d->alloc)
        reallocData(grow(total));
    if (n > 0)
        std::memcpy(d->data + d->size, s, static_cast<std::size_t>(n) * 2);
    d->size = total;
    d->data[total] = 0;
    return *this;
}

NxString& NxString::append(const NxString& s) {
    if (s.isNull())
        return *this;
    if (isNull())
        return *this = s;
    return appendUnits(s.d->data, s.d->size);
}

NxString& NxString::appendGrowing(char16_t c) {
    int total = checkedSum(d->size, 1);
    if (!soleOwner(d->ref) || total > d->alloc)
        reallocData(grow(total));
    d->data[d->size] = c;
    d->size = total;
    d->data[total] = 0;
    return *this;
}

NxString& NxString::appendPointer(const char16_t* s) {
    // The same result as appending fromWCharArray(s, -1), without the temporary record.
    return appendUnits(s, checkedLength(unitLength(s)));
}

NxString& NxString::append(const char* s) {
    if (!s)
        return *this;
    return append(fromAscii(s, -1));
}

NxString& NxString::insert(int pos, char16_t c) {
    if (pos < 0)
        pos += d->size;
    if (pos < 0)
        return *this;
    int oldSize = d->size;
    expand(pos > oldSize ? pos : oldSize);
    if (pos < oldSize)
        std::memmove(d->data + pos + 1, d->data + pos, static_cast<std::size_t>(oldSize - pos) * 2);
    d->data[pos] = c;
    d->data[d->size] = 0;
    return *this;
}

NxString& NxString::insert(int pos, const char16_t* s, int len) {
    if (pos < 0 || len <= 0 || !s)
        return *this;
    if (s >= d->array && s <= d->array + d->alloc) {
        // The units live in this string's own storage, which may move: insert from a copy.
        std::size_t bytes = static_cast<std::size_t>(len) * 2;
        void* tmp = nxMalloc(static_cast<unsigned int>(bytes));
        if (!tmp)
            throw std::bad_alloc();
        std::memcpy(tmp, s, bytes);
        try {
            insert(pos, static_cast<const char16_t*>(tmp), len);
        } catch (...) {
            nxFree(tmp);
            throw;
        }
        nxFree(tmp);
        return *this;
    }
    int oldSize = d->size;
    int total = checkedSum(pos > oldSize ? pos : oldSize, len);
    expand(total - 1);
    if (pos < oldSize)
        std::memmove(d->data + pos + len, d->data + pos,
                     static_cast<std::size_t>(oldSize - pos) * 2);
    std::memcpy(d->data + pos, s, static_cast<std::size_t>(len) * 2);
    return *this;
}

NxString& NxString::insert(int pos, const NxString& s) {
    NxString source(s);
    return insert(pos, source.d->data, source.d->size);
}

NxString& NxString::remove(int pos, int len) {
    if (pos < 0)
        pos += d->size;
    if (pos < 0 || pos >= d->size)
        return *this;
    if (static_cast<long long>(pos) + len >= d->size) {
        resize(pos);
        return *this;
    }
    if (len <= 0)
        return *this;
    detach();
    std::memmove(d->data + pos, d->data + pos + len,
                 static_cast<std::size_t>(d->size - pos - len + 1) * 2);
    d->size -= len;
    return *this;
}

NxString& NxString::replaceImpl(const NxString& before, const NxString& after, bool noCase) {
    NxString result;
    // Searching and appending run on copies so `before` or `after` may be this string.
    NxString text(*this);
    NxString needle(before);
    NxString lowerText;
    NxString lowerNeedle;
    const NxString* hay = &text;
    const NxString* pattern = &needle;
    if (noCase) {
        lowerText = text.toLower();
        lowerNeedle = needle.toLower();
        hay = &lowerText;
        pattern = &lowerNeedle;
    }
    int n = checkedLength(unitLength(needle.d->data));
    int start = 0;
    if (n > 0) {
        for (int at = hay->indexOf(*pattern, start); at != -1; at = hay->indexOf(*pattern, start)) {
            result.appendUnits(text.d->data + start, at - start);
            result.append(after);
            start = at + n;
            if (start >= text.d->size)
                break;
        }
    }
    result.appendUnits(text.d->data + start, text.d->size - start);
    swap(result);
    return *this;
}

NxString& NxString::replace(const NxString& before, const NxString& after) {
    return replaceImpl(before, after, false);
}

NxString& NxString::replaceNoCase(const NxString& before, const NxString& after) {
    return replaceImpl(before, after, true);
}

// ---------------------------------------------------------------------------------------------
// Extracts

NxString NxString::left(int n) const {
    if (n < 0 || n >= d->size)
        return *this;
    return NxString(fromUnicode_helper(d->data, n));
}

NxString NxString::right(int n) const {
    if (n < 0 || n >= d->size)
        return *this;
    return NxString(fromUnicode_helper(d->data + d->size - n, n));
}

NxString NxString::mid(int pos, int len) const {
    if (isNull() || pos >= d->size)
        return NxString();
    const nxtext::Span part = nxtext::midSpan(d->size, pos, len);
    if (part.from == 0 && part.count == d->size)
        return *this;
    return NxString(fromUnicode_helper(d->data + part.from, part.count));
}

// ---------------------------------------------------------------------------------------------
// Conversion

int NxString::toInt32(bool* ok) const {
    return static_cast<int>(toUInt32(ok));
}

unsigned int NxString::toUInt32(bool* ok) const {
    long long value = 0;
    for (int i = 0; i < d->size; ++i) {
        char16_t c = d->data[i];
        if (c < u'0' || c > u'9') {
            if (ok)
                *ok = false;
            return 0;
        }
        // Decimal conversion saturates at the largest int, as the runtime's does.
        if (value <= INT_MAX)
            value = value * 10 + (c - u'0');
    }
    if (ok)
        *ok = true;
    return static_cast<unsigned int>(value > INT_MAX ? INT_MAX : value);
}

NxString NxString::toLower() const {
    NxString r(fromUnicode_helper(d->data, d->size));
    for (int i = 0; i < r.d->size; ++i)
        r.d->data[i] = lowerUnit(r.d->data[i]);
    return r;
}

NxString NxString::toUpper() const {
    NxString r(fromUnicode_helper(d->data, d->size));
    for (int i = 0; i < r.d->size; ++i)
        r.d->data[i] = upperUnit(r.d->data[i]);
    return r;
}

NxByteArray NxString::toUtf8() const {
    return NxTextCodec(NxTextCodec::Utf8).fromUnicode(d->data, d->size);
}

NxByteArray NxString::toCap() const {
    return NxTextCodec(NxTextCodec::Ansi).fromUnicode(d->data, d->size);
}
