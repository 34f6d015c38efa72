// Helpers shared by the text containers' sources (internal).
#ifndef NXUTIL_TEXT_INTERNAL_H
#define NXUTIL_TEXT_INTERNAL_H

#include "text/text.h"

#include <climits>
#include <cstddef>
#include <cstring>
#include <new>
#include <stdexcept>
#include <type_traits>

namespace nxtext {

/// a + b for two non-negative lengths; a sum beyond the 32-bit signed range is a length error.
inline int checkedSum(int a, int b) {
    long long sum = static_cast<long long>(a) + b;
    if (sum > INT_MAX)
        throw std::length_error("nxutil: text length beyond 2^31 - 1");
    return static_cast<int>(sum);
}

/// A measured length as a 32-bit length; beyond the signed range it is a length error.
template <typename Size>
inline int checkedLength(Size n) {
    if (n > static_cast<Size>(INT_MAX))
        throw std::length_error("nxutil: text length beyond 2^31 - 1");
    return static_cast<int>(n);
}

/// The elements that mid(pos, len) takes of `size` (pos < size): a negative `len` runs to the
/// end; the part before the first element or beyond the last is cut, and a range that ends
/// before the first element takes none.
struct Span {
    int from;
    int count;
};
inline Span midSpan(int size, int pos, int len) {
    long long from = pos;
    long long n = len < 0 ? static_cast<long long>(size) - pos : len;
    if (from < 0) {
        n += from;
        from = 0;
    }
    if (from + n > size)
        n = size - from;
    return {static_cast<int>(from), n < 0 ? 0 : static_cast<int>(n)};
}

/// The value of one hexadecimal digit ('0'-'9', 'a'-'f', 'A'-'F'), or -1.
inline int hexValue(int c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

/// The heap records of NxByteArray and NxString, which differ only in their element type: a
/// header (count, capacity, size, data pointer) followed by the elements and a terminating zero.
template <class Data>
struct Records {
    using Unit = std::remove_extent_t<decltype(Data::array)>;
    static constexpr std::size_t kHeader = offsetof(Data, array);
    /// The largest capacity whose record size still fits the allocator's unsigned 32-bit size.
    static constexpr long long kMaxAlloc =
        (static_cast<long long>(UINT_MAX) - static_cast<long long>(kHeader)) /
            static_cast<long long>(sizeof(Unit)) - 1;

    /// The heap block of a record with capacity `alloc`: the header and its block's elements.
    static unsigned int bytes(int alloc) {
        if (alloc > kMaxAlloc)
            throw std::length_error("nxutil: text length beyond the allocator's range");
        return static_cast<unsigned int>(
            kHeader + sizeof(Unit) * static_cast<std::size_t>(nxtext::blockElements(alloc)));
    }

    /// A new, empty record of capacity `alloc` with one reference.
    static Data* allocate(int alloc) {
        void* p = nxMalloc(bytes(alloc));
        if (!p)
            throw std::bad_alloc();
        Data* x = new (p) Data;
        x->ref = 1;
        x->alloc = alloc;
        x->size = 0;
        x->data = x->array;
        x->data[0] = 0;
        return x;
    }

    /// Releases one reference and frees the record at 0 (the static records never reach 0).
    static void drop(Data* x) {
        if (x->ref.deref() == 0)
            nxFree(x);
    }

    /// Gives `d` the capacity `alloc`, cutting the size to it. The caller's only record changes
    /// in place, its heap block moving only when the capacity leaves its size step; a shared one
    /// is left to its other owners and `d` becomes a fresh copy of the kept elements.
    static void resize(Data*& d, int alloc) {
        if (soleOwner(d->ref)) {
            if (nxtext::blockElements(alloc) != nxtext::blockElements(d->alloc)) {
                void* p = nxRealloc(d, bytes(alloc));
                if (!p)
                    throw std::bad_alloc();
                d = static_cast<Data*>(p);
            }
            d->data = d->array;
            d->alloc = alloc;
            if (d->size > alloc) {
                d->size = alloc;
                d->data[alloc] = 0;
            }
            return;
        }
        Data* x = allocate(alloc);
        const int keep = d->size < alloc ? d->size : alloc;
        std::memcpy(x->data, d->data, static_cast<std::size_t>(keep) * sizeof(Unit));
        x->size = keep;
        x->data[keep] = 0;
        drop(d);
        d = x;
    }
};

}  // namespace nxtext

#endif
