// Helpers shared by the text containers' sources (internal).
#ifndef NXUTIL_TEXT_INTERNAL_H
#define NXUTIL_TEXT_INTERNAL_H

#include "text/text.h"

#include <climits>
#include <cstddef>
#include <stdexcept>

namespace text_internal {

using nx_text_detail::soleOwner;

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

}  // namespace text_internal

#endif
