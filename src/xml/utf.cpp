// UTF-8 and UTF-16 conversion of single code points and of whole texts. Invalid input never
// fails: each character that cannot be decoded becomes "?". Runs of ASCII are converted eight
// bytes at a time.
#include "xml/xml_internal.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
constexpr std::uint64_t kLowBits = 0x0101010101010101ULL;

// True when the 8 bytes are all in 1..0x7F: no lead or continuation byte and no zero.
inline bool plainAscii8(const char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    const bool hasZero = ((w - kLowBits) & ~w & kHighBits) != 0;
    return !(w & kHighBits) && !hasZero;
}

#if defined(__SSE2__)
// Length of the leading run of bytes in 1..0x7F among the next 16 (all 16 readable).
inline int plainAscii16(const char* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int high = _mm_movemask_epi8(v);
    const int zero = _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128()));
    const unsigned stop = static_cast<unsigned>(high | zero);
    return stop ? __builtin_ctz(stop) : 16;
}

// Eight units of a zero-terminated text can be read at once when the 16 bytes lie in one page:
// they may run past the terminator but never into an unmapped page. The address sanitizer
// would report the bytes past the terminator, so the reader is not instrumented.
__attribute__((no_sanitize_address)) inline bool ascii8InPage(const char16_t* p, __m128i& v) {
    if ((reinterpret_cast<std::uintptr_t>(p) & 4095) > 4096 - 16)
        return false;
    v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Every unit in 1..0x7F: none is zero and none is above 0x7F.
    const __m128i zero = _mm_setzero_si128();
    const int small = _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_subs_epu16(v, _mm_set1_epi16(0x7F)), zero));
    const int zeros = _mm_movemask_epi8(_mm_cmpeq_epi16(v, zero));
    return small == 0xFFFF && zeros == 0;
}

// Widens 16 ASCII bytes to 16 UTF-16 units.
inline void widen16(char16_t* out, const char* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i z = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(v, z));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(v, z));
}
#endif

}  // namespace

int CMarkup::DecodeCharUTF8(const char*& utf8) {
    const unsigned lead = static_cast<unsigned char>(*utf8++);
    if (lead < 0x80)
        return static_cast<int>(lead);
    int count;
    int cp;
    if (!(lead & 0x20)) {
        count = 1;
        cp = lead & 0x1F;
    } else if (!(lead & 0x10)) {
        count = 2;
        cp = lead & 0x0F;
    } else if (!(lead & 0x08)) {
        count = 3;
        cp = lead & 0x07;
    } else {
        return -1;
    }
    while (count--) {
        const unsigned b = static_cast<unsigned char>(*utf8);
        if (!(b & 0x80))
            return -1;
        cp = (cp << 6) | static_cast<int>(b & 0x3F);
        ++utf8;
    }
    return cp;
}

void CMarkup::EncodeCharUTF8(int codePoint, char* utf8, int& length) {
    const unsigned v = static_cast<unsigned>(codePoint);
    if (v < 0x80) {
        if (utf8)
            utf8[length] = static_cast<char>(v);
        length += 1;
    } else if (v < 0x800) {
        if (utf8) {
            utf8[length] = static_cast<char>(0xC0 | ((v >> 6) & 0x1F));
            utf8[length + 1] = static_cast<char>(0x80 | (v & 0x3F));
        }
        length += 2;
    } else if (v < 0x10000) {
        if (utf8) {
            utf8[length] = static_cast<char>(0xE0 | ((v >> 12) & 0x0F));
            utf8[length + 1] = static_cast<char>(0x80 | ((v >> 6) & 0x3F));
            utf8[length + 2] = static_cast<char>(0x80 | (v & 0x3F));
        }
        length += 3;
    } else {
        if (utf8) {
            utf8[length] = static_cast<char>(0xF0 | ((v >> 18) & 0x07));
            utf8[length + 1] = static_cast<char>(0x80 | ((v >> 12) & 0x3F));
            utf8[length + 2] = static_cast<char>(0x80 | ((v >> 6) & 0x3F));
            utf8[length + 3] = static_cast<char>(0x80 | (v & 0x3F));
        }
        length += 4;
    }
}

int CMarkup::DecodeCharUTF16(const char16_t*& utf16) {
    const unsigned first = *utf16++;
    if ((first & 0xF800) != 0xD800)
        return static_cast<int>(first);
    const unsigned second = *utf16;
    if (!second)
        return -1;
    ++utf16;
    return static_cast<int>((((first & 0x3FF) << 10) | (second & 0x3FF)) + 0x10000);
}

void CMarkup::EncodeCharUTF16(int codePoint, char16_t* utf16, int& length) {
    const unsigned v = static_cast<unsigned>(codePoint);
    if (v > 0xFFFF) {
        if (utf16) {
            utf16[length] = static_cast<char16_t>(0xD800 | (((v - 0x10000) >> 10) & 0x3FF));
            utf16[length + 1] = static_cast<char16_t>(0xDC00 | (v & 0x3FF));
        }
        length += 2;
    } else {
        if (utf16)
            utf16[length] = static_cast<char16_t>(v);
        length += 1;
    }
}

int CMarkup::UTF8To16(char16_t* utf16, const char* utf8, int byteCount) {
    if (!utf8 || byteCount <= 0)
        return 0;
    const char* p = utf8;
    const char* const end = utf8 + byteCount;
    int out = 0;
    while (p < end) {
#if defined(__SSE2__)
        if (end - p >= 16) {
            const int run = plainAscii16(p);
            if (run == 16) {
                if (utf16)
                    widen16(utf16 + out, p);
                out += 16;
                p += 16;
                continue;
            }
            if (run > 0) {
                if (utf16)
                    for (int k = 0; k < run; ++k)
                        utf16[out + k] = static_cast<char16_t>(static_cast<unsigned char>(p[k]));
                out += run;
                p += run;
            }
        }
#endif
        if (end - p >= 8 && plainAscii8(p)) {
            if (utf16) {
                for (int k = 0; k < 8; ++k)
                    utf16[out + k] = static_cast<char16_t>(static_cast<unsigned char>(p[k]));
            }
            out += 8;
            p += 8;
            continue;
        }
        int cp = -2;  // not decoded yet
        const unsigned lead = static_cast<unsigned char>(p[0]);
        if (end - p >= 4 && lead >= 0xC0 && lead < 0xF0 && (p[1] & 0xC0) == 0x80) {
            // Well-formed two- and three-byte sequences, decoded inline. An overlong form of
            // zero (C0 80, E0 80 80) still ends the text below, as a zero byte does.
            if (lead < 0xE0) {
                cp = static_cast<int>(((lead & 0x1F) << 6) | (p[1] & 0x3F));
                p += 2;
            } else if ((p[2] & 0xC0) == 0x80) {
                cp = static_cast<int>(((lead & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
                p += 3;
            }
        }
        if (cp == -2 && end - p < 4) {
            // Decode the tail from a zero-terminated copy so nothing past the input is read.
            char tail[5] = {0, 0, 0, 0, 0};
            std::memcpy(tail, p, static_cast<std::size_t>(end - p));
            const char* q = tail;
            cp = DecodeCharUTF8(q);
            p += q - tail;
        } else if (cp == -2) {
            cp = DecodeCharUTF8(p);
        }
        if (cp == 0) {
            if (utf16)
                utf16[out] = 0;
            break;
        }
        EncodeCharUTF16(cp == -1 ? '?' : cp, utf16, out);
    }
    return utf16 ? static_cast<int>(p - utf8) : out;
}

int CMarkup::UTF16To8(char* utf8, const char16_t* utf16, int byteCount) {
    if (!utf16 || !*utf16) {
        if (utf8 && byteCount > 0)
            utf8[0] = 0;
        return 0;
    }
    const char16_t* p = utf16;
    int len = 0;
    while (*p) {
#if defined(__SSE2__)
        __m128i v;
        if ((!utf8 || byteCount - len >= 8) && ascii8InPage(p, v)) {
            if (utf8)
                _mm_storel_epi64(reinterpret_cast<__m128i*>(utf8 + len), _mm_packus_epi16(v, v));
            len += 8;
            p += 8;
            continue;
        }
#endif
        if (*p < 0x80 && (!utf8 || byteCount - len >= 1)) {
            // ASCII needs one byte, which fits whenever any room remains.
            if (utf8)
                utf8[len] = static_cast<char>(*p);
            ++len;
            ++p;
            continue;
        }
        int cp = DecodeCharUTF16(p);
        if (cp == -1)
            cp = '?';
        if (utf8) {
            if (byteCount - len < 4) {
                int need = 0;
                EncodeCharUTF8(cp, nullptr, need);
                if (len + need > byteCount)
                    break;
            }
            EncodeCharUTF8(cp, utf8, len);
        } else {
            EncodeCharUTF8(cp, nullptr, len);
        }
    }
    if (utf8 && len < byteCount)
        utf8[len] = 0;
    return len;
}
