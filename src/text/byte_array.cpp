// NxByteArray and NxByteRef: records, growth and copy-on-write, editing, extracts, search and
// hexadecimal conversion.
//
// A record is modified in place only while its count is 1; every writer below first calls
// detach() or reallocData(), which give it a private record. The two static records keep a
// permanent reference, so their count is at least 2 while any array refers to them and they
// are never written or freed.
#include "text/text.h"
#include "text/text_internal.h"

#include <climits>
#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

using nxtext::checkedLength;
using nxtext::checkedSum;
using nxtext::soleOwner;

// Constant-initialised (NxAtomicInt's constructor is constexpr), so the records are in place
// before any static initialiser of the library or of a host can build an array.
NxByteArray::Data NxByteArray::shared_null = {1, 0, 0, NxByteArray::shared_null.array, {0}};
NxByteArray::Data NxByteArray::shared_empty = {1, 0, 0, NxByteArray::shared_empty.array, {0}};

namespace {

using Data = NxByteArray::Data;

using Record = nxtext::Records<Data>;

Data* allocRecord(int alloc) { return Record::allocate(alloc); }

// The same record with one more reference.
Data* share(Data* x) {
    x->ref.ref();
    return x;
}

void drop(Data* x) { Record::drop(x); }

// A copy of `len` bytes at `src` when they lie inside the record's storage, which the caller
// is about to move; empty otherwise.
std::string copyIfInside(const Data* x, const char* src, int len) {
    if (src >= x->array && src <= x->array + x->alloc)
        return std::string(src, static_cast<std::size_t>(len));
    return std::string();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Records

int NxByteArray::grow(int n) {
    long long cap = nxtext::growCapacity(n, 1);
    return cap > INT_MAX ? INT_MAX : static_cast<int>(cap);
}

void NxByteArray::reallocData(int alloc) { Record::resize(d, alloc); }

void NxByteArray::detach() {
    if (!soleOwner(d->ref))
        reallocData(d->size);
}

void NxByteArray::expand(int i) { resize(i >= d->size ? checkedSum(i, 1) : d->size); }

void NxByteArray::release() { drop(d); }

namespace {

// The record for n bytes at str: the null record for a null str, the shared empty one for
// n <= 0 (decided on the length, not the first byte, so bytes beginning with a zero are kept),
// otherwise a fresh copy. The caller owns one reference.
Data* recordFrom(const char* str, int n) {
    if (!str)
        return share(&NxByteArray::shared_null);
    if (n <= 0)
        return share(&NxByteArray::shared_empty);
    Data* x = allocRecord(n);
    std::memcpy(x->data, str, static_cast<std::size_t>(n));
    x->size = n;
    x->data[n] = 0;
    return x;
}

}  // namespace

NxByteArray NxByteArray::fromAscii(const char* str, int n) { return NxByteArray(recordFrom(str, n)); }

// ---------------------------------------------------------------------------------------------
// Construction and assignment

NxByteArray::NxByteArray() : d(share(&shared_null)) {}

NxByteArray::NxByteArray(const char* str)
    : d(recordFrom(str, str ? checkedLength(std::strlen(str)) : 0)) {}

NxByteArray::NxByteArray(const char* data, int size)
    : d(recordFrom(data, data && size < 0 ? checkedLength(std::strlen(data)) : size)) {}

NxByteArray::NxByteArray(char ch, int size) : d(share(&shared_null)) {
    resize(size);
    if (size > 0)
        std::memset(d->data, ch, static_cast<std::size_t>(size));
}

NxByteArray::NxByteArray(const NxByteArray& other) : d(share(other.d)) {}

NxByteArray::~NxByteArray() { drop(d); }

NxByteArray& NxByteArray::operator=(const NxByteArray& other) {
    Data* x = share(other.d);
    drop(d);
    d = x;
    return *this;
}

NxByteArray& NxByteArray::operator=(const char* str) {
    clear();
    return append(str);
}

// ---------------------------------------------------------------------------------------------
// Size

void NxByteArray::resize(int n) {
    if (n <= 0) {
        Data* x = share(&shared_empty);
        drop(d);
        d = x;
        return;
    }
    if (d == &shared_null) {
        Data* x = allocRecord(n);
        drop(d);
        d = x;
    } else if (!soleOwner(d->ref) || n > d->alloc || (n < d->size && n < (d->alloc >> 1))) {
        reallocData(grow(n));
    }
    d->size = n;
    d->data[n] = 0;
}

void NxByteArray::clear() {
    Data* x = share(&shared_null);
    drop(d);
    d = x;
}

void NxByteArray::squeeze() {
    if (d->size < d->alloc)
        reallocData(d->size);
}

char* NxByteArray::data() {
    detach();
    return d->data;
}

NxByteRef NxByteArray::operator[](int i) { return NxByteRef(*this, i); }

NxByteRef NxByteArray::operator[](unsigned int i) {
    return NxByteRef(*this, static_cast<int>(i));
}

// ---------------------------------------------------------------------------------------------
// Editing

NxByteArray& NxByteArray::append(const char* str, int len) {
    if (!str)
        return *this;
    if (len < 0)
        len = checkedLength(std::strlen(str));
    if (len == 0)
        return *this;
    int total = checkedSum(d->size, len);
    std::string keep = copyIfInside(d, str, len);
    if (!keep.empty())
        str = keep.data();
    if (!soleOwner(d->ref) || total > d->alloc)
        reallocData(grow(total));
    std::memcpy(d->data + d->size, str, static_cast<std::size_t>(len));
    d->size = total;
    d->data[total] = 0;
    return *this;
}

NxByteArray& NxByteArray::append(const char* str) { return append(str, -1); }

NxByteArray& NxByteArray::append(char c) {
    int total = checkedSum(d->size, 1);
    if (!soleOwner(d->ref) || total > d->alloc)
        reallocData(grow(total));
    d->data[d->size] = c;
    d->size = total;
    d->data[total] = 0;
    return *this;
}

NxByteArray& NxByteArray::append(const NxByteArray& ba) {
    if (d == &shared_null || d == &shared_empty)
        return *this = ba;
    if (ba.d == &shared_null)
        return *this;
    // ba's bytes stay put unless ba is this array, which append(str, len) guards against.
    return append(ba.d->data, ba.d->size);
}

NxByteArray& NxByteArray::prepend(const char* str, int len) {
    if (!str)
        return *this;
    if (len < 0)
        len = checkedLength(std::strlen(str));
    int total = checkedSum(d->size, len);
    std::string keep = copyIfInside(d, str, len);
    if (!keep.empty())
        str = keep.data();
    if (!soleOwner(d->ref) || total > d->alloc)
        reallocData(grow(total));
    std::memmove(d->data + len, d->data, static_cast<std::size_t>(d->size));
    std::memcpy(d->data, str, static_cast<std::size_t>(len));
    d->size = total;
    d->data[total] = 0;
    return *this;
}

NxByteArray& NxByteArray::prepend(const char* str) {
    return str ? prepend(str, checkedLength(std::strlen(str))) : *this;
}

NxByteArray& NxByteArray::prepend(char c) { return prepend(&c, 1); }

NxByteArray& NxByteArray::prepend(const NxByteArray& ba) {
    if (d == &shared_null || d == &shared_empty)
        return *this = ba;
    if (ba.d == &shared_null)
        return *this;
    return prepend(ba.d->data, ba.d->size);
}

NxByteArray& NxByteArray::insert(int pos, char c) { return insert(pos, &c, 1); }

NxByteArray& NxByteArray::insert(int pos, const char* str) {
    return str ? insert(pos, str, checkedLength(std::strlen(str))) : *this;
}

NxByteArray& NxByteArray::insert(int pos, const char* str, int len) {
    if (pos < 0 || len <= 0 || !str)
        return *this;
    int oldSize = d->size;
    int total = checkedSum(pos > oldSize ? pos : oldSize, len);
    std::string keep = copyIfInside(d, str, len);
    if (!keep.empty())
        str = keep.data();
    resize(total);
    detach();
    if (pos > oldSize)
        std::memset(d->data + oldSize, ' ', static_cast<std::size_t>(pos - oldSize));
    else
        std::memmove(d->data + pos + len, d->data + pos, static_cast<std::size_t>(oldSize - pos));
    std::memcpy(d->data + pos, str, static_cast<std::size_t>(len));
    return *this;
}

NxByteArray& NxByteArray::insert(int pos, const NxByteArray& ba) {
    return insert(pos, ba.d->data, ba.d->size);
}

NxByteArray& NxByteArray::remove(int pos, int len) {
    if (len <= 0 || pos < 0 || pos >= d->size)
        return *this;
    detach();
    if (static_cast<long long>(pos) + len >= d->size) {
        resize(pos);
    } else {
        std::memmove(d->data + pos, d->data + pos + len,
                     static_cast<std::size_t>(d->size - pos - len));
        resize(d->size - len);
    }
    return *this;
}

// ---------------------------------------------------------------------------------------------
// Extracts

NxByteArray NxByteArray::left(int len) const {
    if (len >= d->size)
        return *this;
    if (len < 0)
        len = 0;
    return fromAscii(d->data, len);
}

NxByteArray NxByteArray::right(int len) const {
    if (len >= d->size)
        return *this;
    if (len < 0)
        len = 0;
    return fromAscii(d->data + d->size - len, len);
}

NxByteArray NxByteArray::mid(int pos, int len) const {
    if (d == &shared_null || d == &shared_empty || pos >= d->size)
        return NxByteArray();
    const nxtext::Span part = nxtext::midSpan(d->size, pos, len);
    if (part.from == 0 && part.count == d->size)
        return *this;
    return fromAscii(d->data + part.from, part.count);
}

// ---------------------------------------------------------------------------------------------
// Search

int NxByteArray::indexOf(char c, int from) const {
    if (from < 0) {
        from += d->size;
        if (from < 0)
            from = 0;
    }
    if (from >= d->size)
        return -1;
    const void* p = std::memchr(d->data + from, c, static_cast<std::size_t>(d->size - from));
    return p ? static_cast<int>(static_cast<const char*>(p) - d->data) : -1;
}

int NxByteArray::indexOf(const char* str, int from) const {
    if (!str)
        return -1;
    std::size_t len = std::strlen(str);
    if (from < 0) {
        from += d->size;
        if (from < 0)
            from = 0;
    }
    if (len == 0)
        return from <= d->size ? from : -1;
    if (len > static_cast<std::size_t>(d->size) ||
        from > d->size - static_cast<int>(len))
        return -1;
    std::string_view hay(d->data + from, static_cast<std::size_t>(d->size - from));
    std::size_t at = hay.find(std::string_view(str, len));
    return at == std::string_view::npos ? -1 : from + static_cast<int>(at);
}

int NxByteArray::lastIndexOf(char c, int from) const {
    if (from < 0) {
        from += d->size;
        if (from < 0)
            return -1;
    }
    if (from > d->size)
        from = d->size - 1;
    // from == size starts at the terminating zero.
    for (const char* p = d->data + from; p >= d->data; --p)
        if (*p == c)
            return static_cast<int>(p - d->data);
    return -1;
}

namespace {

// The search with the rolling hash: the hash of n bytes b0..b(n-1) is the sum of bi * 2^i in
// 32-bit wrapping arithmetic, bytes as signed values; only equal hashes are compared.
int lastIndexOfBytes(const char* hay, int size, const char* needle, int n, int from) {
    int delta = size - n;
    if (from < 0)
        from = delta;
    if (delta < 0 || from > size)
        return -1;
    if (from > delta)
        from = delta;
    if (n == 0)
        return from;
    auto term = [](char b) { return static_cast<unsigned int>(static_cast<int>(static_cast<signed char>(b))); };
    unsigned int hashNeedle = 0;
    unsigned int hashHay = 0;
    const char* end = hay + from;
    for (int i = n - 1; i >= 0; --i) {
        hashNeedle = (hashNeedle << 1) + term(needle[i]);
        hashHay = (hashHay << 1) + term(end[i]);
    }
    const int top = n - 1;
    for (;;) {
        if (hashHay == hashNeedle && std::memcmp(end, needle, static_cast<std::size_t>(n)) == 0)
            return static_cast<int>(end - hay);
        if (end == hay)
            return -1;
        // Slide one byte to the left: drop the last byte's term, double, add the new first.
        if (top < 32)
            hashHay -= term(end[top]) << top;
        --end;
        hashHay = (hashHay << 1) + term(*end);
    }
}

}  // namespace

int NxByteArray::lastIndexOf(const char* str, int from) const {
    if (!str)
        return -1;
    std::size_t len = std::strlen(str);
    if (len == 1)
        return lastIndexOf(*str, from);
    if (len > static_cast<std::size_t>(INT_MAX))
        return -1;
    return lastIndexOfBytes(d->data, d->size, str, static_cast<int>(len), from);
}

int NxByteArray::lastIndexOf(const NxByteArray& ba, int from) const {
    if (ba.d->size == 1)
        return lastIndexOf(ba.d->data[0], from);
    return lastIndexOfBytes(d->data, d->size, ba.d->data, ba.d->size, from);
}

bool NxByteArray::endsWith(const NxByteArray& ba) const {
    if (ba.d == d || ba.d->size == 0)
        return true;
    if (d->size < ba.d->size)
        return false;
    return std::memcmp(d->data + d->size - ba.d->size, ba.d->data,
                       static_cast<std::size_t>(ba.d->size)) == 0;
}

bool NxByteArray::endsWith(const char* str) const {
    if (!str || !*str)
        return true;
    std::size_t len = std::strlen(str);
    if (static_cast<std::size_t>(d->size) < len)
        return false;
    return std::memcmp(d->data + d->size - len, str, len) == 0;
}

bool NxByteArray::endsWith(char c) const { return d->size != 0 && d->data[d->size - 1] == c; }

// ---------------------------------------------------------------------------------------------
// Conversion

NxByteArray NxByteArray::toHex() const {
    static const char kDigits[] = "0123456789abcdef";
    NxByteArray hex(allocRecord(0));
    if (d->size == 0)
        return hex;
    hex.resize(checkedSum(d->size, d->size));
    char* out = hex.d->data;
    for (int i = 0; i < d->size; ++i) {
        unsigned char b = static_cast<unsigned char>(d->data[i]);
        *out++ = kDigits[b >> 4];
        *out++ = kDigits[b & 0xF];
    }
    return hex;
}

NxByteArray NxByteArray::fromHex(const NxByteArray& hex) {
    NxByteArray res;
    res.resize(hex.d->size / 2 + (hex.d->size & 1));
    if (res.d->size == 0)
        return res;
    char* begin = res.data();
    char* out = begin + res.d->size;
    bool low = true;
    for (int i = hex.d->size - 1; i >= 0; --i) {
        int v = nxtext::hexValue(hex.d->data[i]);
        if (v < 0)
            continue;
        if (low) {
            *--out = static_cast<char>(v);
        } else {
            *out = static_cast<char>(*out | (v << 4));
        }
        low = !low;
    }
    res.remove(0, static_cast<int>(out - begin));
    return res;
}

NxByteArray NxByteArray::clone() {
    detach();
    NxByteArray copy;
    copy.append(d->data, d->size);
    return copy;
}

// ---------------------------------------------------------------------------------------------
// NxByteRef

NxByteRef::operator char() const {
    return m_index < m_array.d->size ? m_array.d->data[m_index] : 0;
}

NxByteRef& NxByteRef::operator=(char c) {
    if (m_index >= m_array.d->size)
        m_array.expand(m_index);
    else
        m_array.detach();
    m_array.d->data[m_index] = c;
    return *this;
}

NxByteRef& NxByteRef::operator=(const NxByteRef& other) { return *this = static_cast<char>(other); }
