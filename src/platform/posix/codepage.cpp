// Code-page conversion for POSIX with the results of the Win32 functions.
//
// UTF-8 is converted here: both directions copy runs of ASCII sixteen units at a time with SSE2
// where the compiler targets it, and handle every other sequence with a scalar decoder that
// validates as it goes (overlong forms, surrogates and values above U+10FFFF are invalid).
// Each direction is one template instantiated for "count only" and "write", so a size query
// costs no allocation, and writing needs no bounds checks: when the caller's buffer is smaller
// than the worst case for the input, the size is counted first and checked against it.
//
// The "ANSI", "OEM" and thread code pages are UTF-8 here. Every other page goes through iconv
// with the descriptor cached per thread (an iconv_t is not safe to share); for the double-byte
// pages, invalid input is delimited by the pages' lead and trail byte ranges, not by where
// iconv stops. Where iconv refuses a character, the generated tables of codepage_tables.h may
// still convert it (user-defined areas, best-fit look-alikes) before it counts as invalid.
//
// Sections: UTF-8 decoding; UTF-8 encoding; iconv; the two entry points.
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/posix/codepage_tables.h"
#include "platform/posix/posix_support.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iconv.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <tmmintrin.h>
#define NX_CODEPAGE_SSSE3 1
#endif

namespace platform {

namespace {

using u8 = unsigned char;

// ---------------------------------------------------------------------------------------------
// Three-byte runs (SSSE3, chosen at run time)
//
// Chinese, Japanese and Korean text is mostly three-byte sequences (U+0800..U+FFFF). Where the
// processor has SSSE3, runs of them are converted five characters (decoding) or eight units
// (encoding) at a time with byte shuffles; anything else leaves the run to the scalar code.
// Both helpers write exactly the output they produce.

#if defined(NX_CODEPAGE_SSSE3)

bool haveSsse3() {
    static const bool have = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return have;
}

// Decodes groups of five three-byte sequences while the next 16 bytes begin with five valid
// ones; returns the bytes consumed and adds the units produced to *units. Null `out` counts.
// *retry is set to the offset (from s) before which another attempt would fail again.
__attribute__((target("ssse3"))) std::size_t decodeThreeByteRun(const u8* s, std::size_t n,
                                                                char16_t* out, std::size_t* units,
                                                                std::size_t* retry) {
    const __m128i lead = _mm_setr_epi8(0, -128, 3, -128, 6, -128, 9, -128, 12, -128, -128, -128,
                                       -128, -128, -128, -128);
    const __m128i cont1 = _mm_setr_epi8(1, -128, 4, -128, 7, -128, 10, -128, 13, -128, -128,
                                        -128, -128, -128, -128, -128);
    const __m128i cont2 = _mm_setr_epi8(2, -128, 5, -128, 8, -128, 11, -128, 14, -128, -128,
                                        -128, -128, -128, -128, -128);
    const __m128i zero = _mm_setzero_si128();
    std::size_t i = 0;
    std::size_t o = 0;
    *retry = n;
    while (n - i >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        __m128i l = _mm_shuffle_epi8(v, lead);
        __m128i c1 = _mm_shuffle_epi8(v, cont1);
        __m128i c2 = _mm_shuffle_epi8(v, cont2);
        __m128i ok = _mm_and_si128(
            _mm_cmpeq_epi16(_mm_and_si128(l, _mm_set1_epi16(0xF0)), _mm_set1_epi16(0xE0)),
            _mm_and_si128(
                _mm_cmpeq_epi16(_mm_and_si128(c1, _mm_set1_epi16(0xC0)), _mm_set1_epi16(0x80)),
                _mm_cmpeq_epi16(_mm_and_si128(c2, _mm_set1_epi16(0xC0)), _mm_set1_epi16(0x80))));
        __m128i u = _mm_or_si128(
            _mm_or_si128(_mm_slli_epi16(_mm_and_si128(l, _mm_set1_epi16(0x0F)), 12),
                         _mm_slli_epi16(_mm_and_si128(c1, _mm_set1_epi16(0x3F)), 6)),
            _mm_and_si128(c2, _mm_set1_epi16(0x3F)));
        // Overlong forms (below U+0800) and surrogates are not three-byte characters.
        __m128i top = _mm_and_si128(u, _mm_set1_epi16(static_cast<short>(0xF800)));
        __m128i bad = _mm_or_si128(_mm_cmpeq_epi16(top, zero),
                                   _mm_cmpeq_epi16(top, _mm_set1_epi16(static_cast<short>(0xD800))));
        int mask = _mm_movemask_epi8(_mm_andnot_si128(bad, ok));
        if ((mask & 0x3FF) != 0x3FF) {
            // The first group that is not a three-byte character.
            *retry = i + 3 * (static_cast<std::size_t>(__builtin_ctz(~mask & 0x3FF)) / 2) + 1;
            break;
        }
        if (out) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o), u);
            out[o + 4] = static_cast<char16_t>(_mm_extract_epi16(u, 4));
        }
        i += 15;
        o += 5;
    }
    *units += o;
    return i;
}

// Encodes blocks of eight units of U+0800..U+FFFF (no surrogate) while they last; returns the
// units consumed and adds the bytes produced to *bytes. Null `out` counts.
// Shuffles that compact four units' encodings, each laid out in a 32-bit lane as its first,
// second and third byte, into consecutive bytes. Index bit k: unit k is two-byte; bit 4 + k:
// unit k is three-byte; neither: ASCII.
struct CompactEntry {
    signed char shuffle[16];
    unsigned char length;
};
struct CompactTable {
    CompactEntry entry[256];
};

constexpr CompactTable makeCompactTable() {
    CompactTable t{};
    for (int index = 0; index < 256; ++index) {
        int out = 0;
        for (int k = 0; k < 4; ++k) {
            int length = (index >> (4 + k)) & 1 ? 3 : (index >> k) & 1 ? 2 : 1;
            for (int j = 0; j < length; ++j)
                t.entry[index].shuffle[out++] = static_cast<signed char>(4 * k + j);
        }
        t.entry[index].length = static_cast<unsigned char>(out);
        while (out < 16)
            t.entry[index].shuffle[out++] = -128;
    }
    return t;
}

constexpr CompactTable kCompact = makeCompactTable();

// Encodes leading runs of one class at a time, up to eight units per step: ASCII, two-byte
// (U+0080..U+07FF) or three-byte (U+0800..U+FFFF without surrogates), so that mixed text costs
// one step per run rather than one branch per character. Stops at a surrogate, near the end of
// the input, or when fewer than 24 bytes of room are left (steps may store up to 24 bytes,
// beyond what they produce, within `room`). Returns the units consumed and adds the bytes
// produced to *bytes. Null `out` counts.
__attribute__((target("ssse3"))) std::size_t encodeBlocks(const char16_t* s, std::size_t n,
                                                          u8* out, std::size_t room,
                                                          std::size_t* bytes) {
    const __m128i firstA = _mm_setr_epi8(0, 8, -128, 1, 9, -128, 2, 10, -128, 3, 11, -128, 4, 12,
                                         -128, 5);
    const __m128i firstB = _mm_setr_epi8(-128, -128, 0, -128, -128, 1, -128, -128, 2, -128, -128,
                                         3, -128, -128, 4, -128);
    const __m128i secondA = _mm_setr_epi8(13, -128, 6, 14, -128, 7, 15, -128, -128, -128, -128,
                                          -128, -128, -128, -128, -128);
    const __m128i secondB = _mm_setr_epi8(-128, 5, -128, -128, 6, -128, -128, 7, -128, -128, -128,
                                          -128, -128, -128, -128, -128);
    const __m128i zero = _mm_setzero_si128();
    std::size_t i = 0;
    std::size_t o = 0;
    while (n - i >= 8 && (!out || room - o >= 24)) {
        __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        __m128i top = _mm_and_si128(u, _mm_set1_epi16(static_cast<short>(0xF800)));
        __m128i small = _mm_cmpeq_epi16(top, zero);   // below U+0800
        unsigned ascii = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_cmpeq_epi16(_mm_and_si128(u, _mm_set1_epi16(static_cast<short>(0xFF80))), zero)));
        if (ascii & 1) {
            std::size_t k = static_cast<std::size_t>(__builtin_ctz(~ascii)) / 2;
            if (out)
                _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o), _mm_packus_epi16(u, u));
            i += k;
            o += k;
            // A whole block of ASCII: likely more; go sixteen units at a time.
            while (k == 8 && n - i >= 16 && (!out || room - o >= 16)) {
                __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
                __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 8));
                __m128i high = _mm_and_si128(_mm_or_si128(a, b), _mm_set1_epi16(-0x80));
                if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, zero)) != 0xFFFF)
                    break;
                if (out)
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm_packus_epi16(a, b));
                i += 16;
                o += 16;
            }
            continue;
        }
        __m128i surrogate = _mm_cmpeq_epi16(top, _mm_set1_epi16(static_cast<short>(0xD800)));
        if (_mm_movemask_epi8(surrogate) == 0 && (!out || room - o >= 32)) {
            // Any mix of one-, two- and three-byte units: every unit's bytes are computed in
            // a 32-bit lane, then each half of the block is compacted by a table shuffle.
            __m128i isAscii = _mm_cmpeq_epi16(_mm_and_si128(u, _mm_set1_epi16(static_cast<short>(0xFF80))), zero);
            __m128i isTwo = _mm_andnot_si128(isAscii, small);
            __m128i isThree = _mm_andnot_si128(small, _mm_set1_epi16(-1));
            unsigned classes = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(isTwo, isThree)));
            unsigned lowIndex = (classes & 0xF) | ((classes >> 4) & 0xF0);
            unsigned highIndex = ((classes >> 4) & 0xF) | ((classes >> 8) & 0xF0);
            std::size_t lowLength = kCompact.entry[lowIndex].length;
            std::size_t highLength = kCompact.entry[highIndex].length;
            if (out) {
                __m128i last = _mm_or_si128(_mm_and_si128(u, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
                __m128i lead2 = _mm_or_si128(_mm_srli_epi16(u, 6), _mm_set1_epi16(0xC0));
                __m128i lead3 = _mm_or_si128(_mm_srli_epi16(u, 12), _mm_set1_epi16(0xE0));
                __m128i mid3 = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(u, 6), _mm_set1_epi16(0x3F)),
                                            _mm_set1_epi16(0x80));
                __m128i b0 = _mm_or_si128(_mm_and_si128(u, isAscii),
                                          _mm_or_si128(_mm_and_si128(lead2, isTwo),
                                                       _mm_and_si128(lead3, isThree)));
                __m128i b1 = _mm_or_si128(_mm_and_si128(last, isTwo), _mm_and_si128(mid3, isThree));
                __m128i b2 = _mm_and_si128(last, isThree);
                __m128i b01 = _mm_or_si128(b0, _mm_slli_epi16(b1, 8));
                __m128i lanesLow = _mm_unpacklo_epi16(b01, b2);
                __m128i lanesHigh = _mm_unpackhi_epi16(b01, b2);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o),
                                 _mm_shuffle_epi8(lanesLow, _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                                                                kCompact.entry[lowIndex].shuffle))));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o + lowLength),
                                 _mm_shuffle_epi8(lanesHigh, _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                                                                 kCompact.entry[highIndex].shuffle))));
            }
            i += 8;
            o += lowLength + highLength;
            continue;
        }
        unsigned two = static_cast<unsigned>(_mm_movemask_epi8(small)) & ~ascii;
        if (two & 1) {
            std::size_t k = static_cast<std::size_t>(__builtin_ctz(~two)) / 2;
            if (out) {
                __m128i hi = _mm_or_si128(_mm_srli_epi16(u, 6), _mm_set1_epi16(0xC0));
                __m128i lo = _mm_or_si128(_mm_and_si128(u, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o),
                                 _mm_unpacklo_epi8(_mm_packus_epi16(hi, hi), _mm_packus_epi16(lo, lo)));
            }
            i += k;
            o += 2 * k;
            continue;
        }
        __m128i notThree = _mm_or_si128(small,
                                        _mm_cmpeq_epi16(top, _mm_set1_epi16(static_cast<short>(0xD800))));
        unsigned three = ~static_cast<unsigned>(_mm_movemask_epi8(notThree)) & 0xFFFF;
        if (!(three & 1))
            break;   // a surrogate: the scalar code pairs it or replaces it
        std::size_t k = static_cast<std::size_t>(__builtin_ctz(~three)) / 2;
        if (out) {
            __m128i hi = _mm_or_si128(_mm_srli_epi16(u, 12), _mm_set1_epi16(0xE0));
            __m128i mid = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(u, 6), _mm_set1_epi16(0x3F)),
                                       _mm_set1_epi16(0x80));
            __m128i lo = _mm_or_si128(_mm_and_si128(u, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
            __m128i a = _mm_packus_epi16(hi, mid);
            __m128i b = _mm_packus_epi16(lo, lo);
            __m128i first = _mm_or_si128(_mm_shuffle_epi8(a, firstA), _mm_shuffle_epi8(b, firstB));
            __m128i second = _mm_or_si128(_mm_shuffle_epi8(a, secondA), _mm_shuffle_epi8(b, secondB));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), first);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o + 16), second);
        }
        i += k;
        o += 3 * k;
    }
    *bytes += o;
    return i;
}

#endif

// ---------------------------------------------------------------------------------------------
// UTF-8 decoding

constexpr long kFailInvalid = -1;   // an invalid sequence in strict mode

// Length of the maximal ill-formed subpart at s (n > 0 bytes left): the bytes that could still
// have begun a valid sequence, at least one. Each such subpart becomes one U+FFFD.
std::size_t illFormedLength(const u8* s, std::size_t n) {
    u8 b = s[0];
    if (b < 0xC2 || b > 0xF4)
        return 1;   // a continuation byte, an overlong lead (C0, C1) or beyond U+10FFFF
    std::size_t need = b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
    // The second byte's range is narrower for the leads that could start an overlong form, a
    // surrogate or a value above U+10FFFF.
    u8 lo = 0x80, hi = 0xBF;
    if (b == 0xE0) lo = 0xA0;
    else if (b == 0xED) hi = 0x9F;
    else if (b == 0xF0) lo = 0x90;
    else if (b == 0xF4) hi = 0x8F;
    if (n < 2 || s[1] < lo || s[1] > hi)
        return 1;
    std::size_t k = 2;
    while (k <= need && k < n && (s[k] & 0xC0) == 0x80)
        ++k;
    return k;
}

// Decodes n bytes; returns the units produced or kFailInvalid (then *failedAt, when given, is
// the position of the offending sequence). With Write false nothing is stored. `out` must have
// room for n units (a byte never yields more than one unit).
template <bool Strict, bool Write>
long decodeUtf8(const u8* s, std::size_t n, char16_t* out, std::size_t* failedAt = nullptr) {
    std::size_t i = 0;
    std::size_t o = 0;
    // Block attempts resume only past the point where the last one failed, so mixed text
    // does not pay for a failing attempt at every character.
    std::size_t asciiRetry = 0;
    std::size_t runRetry = 0;
    (void)runRetry;
    while (i < n) {
        u8 b = s[i];
        if (b < 0x80) {
            if (Write)
                out[o] = b;
            ++o;
            ++i;
#if defined(__SSE2__)
            // After one ASCII byte, try whole blocks of them: text is usually ASCII in runs.
            while (i >= asciiRetry && n - i >= 16) {
                __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
                int high = _mm_movemask_epi8(v);
                if (high != 0) {
                    asciiRetry = i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(high))) + 1;
                    break;
                }
                if (Write) {
                    __m128i zero = _mm_setzero_si128();
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o),
                                     _mm_unpacklo_epi8(v, zero));
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o + 8),
                                     _mm_unpackhi_epi8(v, zero));
                }
                i += 16;
                o += 16;
            }
#endif
            continue;
        }
        if (b < 0xE0) {
            if (b >= 0xC2 && n - i >= 2 && (s[i + 1] & 0xC0) == 0x80) {
                if (Write)
                    out[o] = static_cast<char16_t>(((b & 0x1F) << 6) | (s[i + 1] & 0x3F));
                ++o;
                i += 2;
                continue;
            }
        } else if (b < 0xF0) {
#if defined(NX_CODEPAGE_SSSE3)
            if (i >= runRetry && n - i >= 16 && haveSsse3()) {
                std::size_t units = o;
                std::size_t retry = 0;
                std::size_t used = decodeThreeByteRun(s + i, n - i, Write ? out + o : nullptr,
                                                      &units, &retry);
                runRetry = i + retry;
                if (used != 0) {
                    i += used;
                    o = units;
                    continue;
                }
            }
#endif
            if (n - i >= 3) {
                u8 c1 = s[i + 1];
                u8 c2 = s[i + 2];
                unsigned cp = ((b & 0x0Fu) << 12) | ((c1 & 0x3Fu) << 6) | (c2 & 0x3Fu);
                if (((c1 & 0xC0) == 0x80) & ((c2 & 0xC0) == 0x80) & (cp >= 0x800) &
                    ((cp & 0xF800) != 0xD800)) {
                    if (Write)
                        out[o] = static_cast<char16_t>(cp);
                    ++o;
                    i += 3;
                    continue;
                }
            }
        } else if (b <= 0xF4) {
            if (n - i >= 4) {
                u8 c1 = s[i + 1];
                u8 c2 = s[i + 2];
                u8 c3 = s[i + 3];
                unsigned cp = ((b & 0x07u) << 18) | ((c1 & 0x3Fu) << 12) | ((c2 & 0x3Fu) << 6) |
                              (c3 & 0x3Fu);
                if (((c1 & 0xC0) == 0x80) & ((c2 & 0xC0) == 0x80) & ((c3 & 0xC0) == 0x80) &
                    (cp >= 0x10000) & (cp <= 0x10FFFF)) {
                    if (Write) {
                        cp -= 0x10000;
                        out[o] = static_cast<char16_t>(0xD800 + (cp >> 10));
                        out[o + 1] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
                    }
                    o += 2;
                    i += 4;
                    continue;
                }
            }
        }
        if (Strict) {
            if (failedAt)
                *failedAt = i;
            return kFailInvalid;
        }
        if (Write)
            out[o] = 0xFFFD;
        ++o;
        i += illFormedLength(s + i, n - i);
    }
    return static_cast<long>(o);
}

// ---------------------------------------------------------------------------------------------
// UTF-8 encoding

// Encodes n units; returns the bytes produced or kFailInvalid. A lone surrogate becomes
// `lone` (lonelen bytes) unless Strict. `out` must have room for 3 bytes per unit.
template <bool Strict, bool Write>
long encodeUtf8(const char16_t* s, std::size_t n, u8* out, std::size_t cap, const u8* lone,
                std::size_t loneLen,
                bool* usedLone) {
    std::size_t i = 0;
    std::size_t o = 0;
    std::size_t asciiRetry = 0;
    while (i < n) {
#if defined(NX_CODEPAGE_SSSE3)
        if (n - i >= 8 && haveSsse3()) {
            std::size_t bytes = o;
            std::size_t used = encodeBlocks(s + i, n - i, Write ? out + o : nullptr,
                                            Write ? cap - o : 0, &bytes);
            if (used != 0) {
                i += used;
                o = bytes;
                continue;
            }
        }
#endif
        unsigned u = s[i];
        if (u < 0x80) {
            if (Write)
                out[o] = static_cast<u8>(u);
            ++o;
            ++i;
#if defined(__SSE2__)
            while (i >= asciiRetry && n - i >= 16) {
                __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
                __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 8));
                __m128i high = _mm_and_si128(_mm_or_si128(a, b), _mm_set1_epi16(-0x80));
                if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xFFFF) {
                    // Resume at the first unit (of either half) that is not ASCII.
                    unsigned ma = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(
                        _mm_and_si128(a, _mm_set1_epi16(-0x80)), _mm_setzero_si128())));
                    std::size_t first = ma != 0xFFFF ? __builtin_ctz(~ma) / 2 : 8;
                    asciiRetry = i + first + 1;
                    break;
                }
                if (Write)
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm_packus_epi16(a, b));
                i += 16;
                o += 16;
            }
#endif
            continue;
        }
        if (u < 0x800) {
            if (Write) {
                out[o] = static_cast<u8>(0xC0 | (u >> 6));
                out[o + 1] = static_cast<u8>(0x80 | (u & 0x3F));
            }
            o += 2;
            ++i;
            continue;
        }
        if ((u & 0xF800) != 0xD800) {
            if (Write) {
                out[o] = static_cast<u8>(0xE0 | (u >> 12));
                out[o + 1] = static_cast<u8>(0x80 | ((u >> 6) & 0x3F));
                out[o + 2] = static_cast<u8>(0x80 | (u & 0x3F));
            }
            o += 3;
            ++i;
            continue;
        }
        if (u < 0xDC00 && n - i >= 2 && (s[i + 1] & 0xFC00) == 0xDC00) {
            unsigned cp = 0x10000 + ((u - 0xD800) << 10) + (s[i + 1] - 0xDC00u);
            if (Write) {
                out[o] = static_cast<u8>(0xF0 | (cp >> 18));
                out[o + 1] = static_cast<u8>(0x80 | ((cp >> 12) & 0x3F));
                out[o + 2] = static_cast<u8>(0x80 | ((cp >> 6) & 0x3F));
                out[o + 3] = static_cast<u8>(0x80 | (cp & 0x3F));
            }
            o += 4;
            i += 2;
            continue;
        }
        // A lone surrogate.
        if (Strict)
            return kFailInvalid;
        if (Write)
            std::memcpy(out + o, lone, loneLen);
        o += loneLen;
        ++i;
        *usedLone = true;
    }
    return static_cast<long>(o);
}

bool isUtf8Page(unsigned int cp) { return cp == kCodePageUtf8 || cp == 0 || cp == 1 || cp == 3; }

int fail(int code, const char* call) {
    setLastError(code, call);
    return 0;
}

// Turns a counted or written length into the function's result.
int finish(long produced, const char* call) {
    if (produced == kFailInvalid)
        return fail(kErrorNoUnicodeTranslation, call);
    if (produced > INT_MAX)
        return fail(kErrorArithmeticOverflow, call);
    return static_cast<int>(produced);
}

int utf8ToWide(bool strict, const char* in, std::size_t n, char16_t* out, int outCapacity) {
    const u8* s = reinterpret_cast<const u8*>(in);
    auto count = [&] {
        return strict ? decodeUtf8<true, false>(s, n, nullptr)
                      : decodeUtf8<false, false>(s, n, nullptr);
    };
    if (outCapacity == 0)
        return finish(count(), "MultiByteToWideChar");
    if (static_cast<std::size_t>(outCapacity) < n) {
        long needed = count();
        if (needed == kFailInvalid)
            return fail(kErrorNoUnicodeTranslation, "MultiByteToWideChar");
        if (needed > outCapacity)
            return fail(kErrorInsufficientBuffer, "MultiByteToWideChar");
    }
    long written = strict ? decodeUtf8<true, true>(s, n, out) : decodeUtf8<false, true>(s, n, out);
    return finish(written, "MultiByteToWideChar");
}

int wideToUtf8(bool strict, const char16_t* in, std::size_t n, char* out, int outCapacity,
               const u8* lone, std::size_t loneLen, bool* usedLone) {
    u8* o = reinterpret_cast<u8*>(out);
    auto count = [&] {
        return strict ? encodeUtf8<true, false>(in, n, nullptr, 0, lone, loneLen, usedLone)
                      : encodeUtf8<false, false>(in, n, nullptr, 0, lone, loneLen, usedLone);
    };
    if (outCapacity == 0)
        return finish(count(), "WideCharToMultiByte");
    // The worst case is three bytes per unit (and loneLen <= 3 per lone surrogate).
    if (static_cast<std::size_t>(outCapacity) / 3 < n) {
        long needed = count();
        if (needed == kFailInvalid)
            return fail(kErrorNoUnicodeTranslation, "WideCharToMultiByte");
        if (needed > outCapacity)
            return fail(kErrorInsufficientBuffer, "WideCharToMultiByte");
        *usedLone = false;
    }
    long written = strict ? encodeUtf8<true, true>(in, n, o, static_cast<std::size_t>(outCapacity), lone, loneLen, usedLone)
                          : encodeUtf8<false, true>(in, n, o, static_cast<std::size_t>(outCapacity), lone, loneLen, usedLone);
    return finish(written, "WideCharToMultiByte");
}

// ---------------------------------------------------------------------------------------------
// iconv

// The iconv name of a Windows code page number; most are "CP<number>".
void iconvName(unsigned int cp, char* name, std::size_t size) {
    struct Named {
        unsigned int cp;
        const char* name;
    };
    static const Named kNames[] = {
        {2, "MACINTOSH"},        {874, "WINDOWS-874"},  {1361, "JOHAB"},
        {10000, "MACINTOSH"},    {20127, "ASCII"},      {20866, "KOI8-R"},
        {20932, "EUC-JP"},       {21866, "KOI8-U"},     {28591, "ISO-8859-1"},
        {28592, "ISO-8859-2"},   {28593, "ISO-8859-3"}, {28594, "ISO-8859-4"},
        {28595, "ISO-8859-5"},   {28596, "ISO-8859-6"}, {28597, "ISO-8859-7"},
        {28598, "ISO-8859-8"},   {28599, "ISO-8859-9"}, {28603, "ISO-8859-13"},
        {28605, "ISO-8859-15"},  {50220, "ISO-2022-JP"}, {51932, "EUC-JP"},
        {51936, "EUC-CN"},       {51949, "EUC-KR"},     {52936, "HZ"},
        {54936, "GB18030"},      {65000, "UTF-7"},
    };
    for (const Named& n : kNames) {
        if (n.cp == cp) {
            std::snprintf(name, size, "%s", n.name);
            return;
        }
    }
    std::snprintf(name, size, "CP%u", cp);
}

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
const char* const kUtf16Name = "UTF-16LE";
#else
const char* const kUtf16Name = "UTF-16BE";
#endif

// A few descriptors per thread, one per (code page, direction), opened on first use.
class IconvCache {
public:
    ~IconvCache() {
        for (Entry& e : m_entries)
            if (e.open)
                iconv_close(e.cd);
    }
    // Null (and errno from iconv_open) when the page is unknown to iconv.
    iconv_t get(unsigned int cp, bool toWide) {
        for (Entry& e : m_entries) {
            if (e.open && e.cp == cp && e.toWide == toWide) {
                iconv(e.cd, nullptr, nullptr, nullptr, nullptr);   // back to the initial state
                return e.cd;
            }
        }
        char name[32];
        iconvName(cp, name, sizeof name);
        iconv_t cd = toWide ? iconv_open(kUtf16Name, name) : iconv_open(name, kUtf16Name);
        if (cd == reinterpret_cast<iconv_t>(-1))
            return nullptr;
        Entry& slot = m_entries[m_next];
        m_next = (m_next + 1) % kSlots;
        if (slot.open)
            iconv_close(slot.cd);
        slot = Entry{cp, toWide, true, cd};
        return cd;
    }

private:
    static constexpr int kSlots = 4;
    struct Entry {
        unsigned int cp = 0;
        bool toWide = false;
        bool open = false;
        iconv_t cd = nullptr;
    };
    Entry m_entries[kSlots];
    int m_next = 0;
};

thread_local IconvCache t_iconv;

struct IconvRun {
    std::size_t produced = 0;   // output bytes
    std::size_t consumed = 0;   // input bytes taken before a failure
    int error = 0;              // a Win32 error number, 0 on success
    bool usedDefault = false;
};

// The double-byte pages: the byte ranges that begin a two-byte character and those that may
// follow as its second byte. A lead byte makes a character only with a trail byte; on its own
// (followed by a byte outside the trail ranges, or at the end) it is invalid.
struct ByteRange {
    u8 lo, hi;   // hi 0: unused
};
struct DoubleBytePage {
    unsigned int cp;
    ByteRange lead[3];
    ByteRange trail[3];
};
constexpr DoubleBytePage kDoubleBytePages[] = {
    {932, {{0x81, 0x9F}, {0xE0, 0xFC}, {}}, {{0x40, 0x7E}, {0x80, 0xFC}, {}}},
    {936, {{0x81, 0xFE}, {}, {}}, {{0x40, 0x7E}, {0x80, 0xFE}, {}}},
    {949, {{0x81, 0xFE}, {}, {}}, {{0x41, 0x5A}, {0x61, 0x7A}, {0x81, 0xFE}}},
    {950, {{0x81, 0xFE}, {}, {}}, {{0x40, 0x7E}, {0xA1, 0xFE}, {}}},
    {1361, {{0x84, 0xD3}, {0xD8, 0xDE}, {0xE0, 0xF9}}, {{0x31, 0x7E}, {0x81, 0xFE}, {}}},
    {51936, {{0xA1, 0xFE}, {}, {}}, {{0xA1, 0xFE}, {}, {}}},
    {51949, {{0xA1, 0xFE}, {}, {}}, {{0xA1, 0xFE}, {}, {}}},
};

const DoubleBytePage* doubleBytePage(unsigned int cp) {
    for (const DoubleBytePage& p : kDoubleBytePages)
        if (p.cp == cp)
            return &p;
    return nullptr;
}

bool inRanges(const ByteRange (&ranges)[3], u8 b) {
    for (const ByteRange& r : ranges)
        if (r.hi != 0 && b >= r.lo && b <= r.hi)
            return true;
    return false;
}

// The bytes that the character at s (n > 0 bytes left) takes, and whether it can be valid at
// all: a lead byte and a trail byte are one character; a lead byte followed by a byte outside
// the trail ranges is invalid and takes that byte with it unless it is ASCII, which then stands
// on its own (a damaged character never swallows a delimiter, and a byte that could itself be
// a lead does not pull the next character into the damage); any other byte is one character.
std::size_t doubleByteLength(const DoubleBytePage& page, const u8* s, std::size_t n, bool* canBeValid) {
    *canBeValid = true;
    if (!inRanges(page.lead, s[0]))
        return 1;
    if (n >= 2 && inRanges(page.trail, s[1]))
        return 2;
    *canBeValid = false;
    return n >= 2 && s[1] >= 0x80 ? 2 : 1;
}

// Converts the whole input with cd into out (outCap bytes) or, when out is null, only counts.
// An input the page cannot convert fails in strict mode and is otherwise replaced by
// `replacement`; `step` is the input's unit size (1 byte or 2 for UTF-16).
//
// Where iconv stops on an invalid input is not reliable enough to resume from: for some pairs a
// double-byte converter reports the error after the pair rather than at it, and it splits a
// pair it does not map after the lead byte, so that the trail byte could start a character
// with the byte after it. For a double-byte page (`dbcs`) the stretch that failed is therefore
// converted again one character at a time, the characters delimited by the page's lead and
// trail ranges, and the first one that fails is replaced (or, in strict mode, is where the
// valid input ends). Other pages skip one input unit at a time, never beyond the input.
//
// Before a character that iconv refused is replaced, `extra` (the page's generated additions,
// may be null) is asked for it: decoding (`step` 1) by its bytes, encoding (`step` 2) by its
// unit, with best-fit look-alikes when `bestFit`.
struct Additions {
    const CodePageTable* table = nullptr;
    bool bestFit = true;
};

IconvRun runIconv(iconv_t cd, const char* in, std::size_t inBytes, char* out, std::size_t outCap,
                  std::size_t step, bool strict, const char* replacement, std::size_t replLen,
                  const DoubleBytePage* dbcs = nullptr, Additions extra = {}) {
    IconvRun r;
    char scratch[1024];
    char* inp = const_cast<char*>(in);
    std::size_t inLeft = inBytes;
    // One iconv call on the input at inp (null: flush) into out, or into scratch when counting;
    // the output is added to r.produced.
    auto convert = [&](char** src, std::size_t* srcLeft, int* err) {
        char* dst = out ? out + r.produced : scratch;
        std::size_t room = out ? outCap - r.produced : sizeof scratch;
        std::size_t before = room;
        std::size_t rc = iconv(cd, src, srcLeft, &dst, &room);
        *err = errno;
        r.produced += before - room;
        return rc != static_cast<std::size_t>(-1);
    };
    // Replaces `skip` input bytes by the replacement; false (with the error set) when it does
    // not fit.
    auto replace = [&](std::size_t skip) {
        if (out && outCap - r.produced < replLen) {
            r.error = kErrorInsufficientBuffer;
            return false;
        }
        if (out)
            std::memcpy(out + r.produced, replacement, replLen);
        r.produced += replLen;
        r.usedDefault = true;
        inp += skip;
        inLeft -= skip;
        return true;
    };
    auto stop = [&](int error) {
        r.error = error;
        r.consumed = inBytes - inLeft;
        return r;
    };
    // Converts the `length` input bytes at inp with the additions: 1 when done, 0 when the
    // table has no entry, -1 (with the error set) when the result does not fit.
    auto addition = [&](std::size_t length) {
        if (!extra.table || length > inLeft)
            return 0;
        const u8* p = reinterpret_cast<const u8*>(inp);
        u8 bytes[2];
        std::size_t produce = 0;
        if (step == 1) {
            unsigned key = length == 2 ? static_cast<unsigned>(p[0]) << 8 | p[1] : p[0];
            char16_t unit = codePageDecode(*extra.table, key, strict);
            if (unit == 0)
                return 0;
            std::memcpy(bytes, &unit, 2);
            produce = 2;
        } else {
            char16_t unit;
            std::memcpy(&unit, p, 2);
            unsigned value = codePageEncode(*extra.table, unit, extra.bestFit);
            if (value == 0)
                return 0;
            bytes[0] = static_cast<u8>(value > 0xFF ? value >> 8 : value);
            bytes[1] = static_cast<u8>(value);
            produce = value > 0xFF ? 2 : 1;
        }
        if (out && outCap - r.produced < produce) {
            r.error = kErrorInsufficientBuffer;
            return -1;
        }
        if (out)
            std::memcpy(out + r.produced, bytes, produce);
        r.produced += produce;
        // A look-alike that is the default character itself counts as using it (as on Windows).
        if (step == 2 && produce == replLen && std::memcmp(bytes, replacement, replLen) == 0)
            r.usedDefault = true;
        inp += length;
        inLeft -= length;
        return 1;
    };
    // Convert the input, then flush the shift state of a stateful page (UTF-7, ISO-2022).
    for (;;) {
        char* const start = inp;
        const std::size_t producedAtStart = r.produced;
        int err = 0;
        bool flushing = inLeft == 0;
        if (flushing ? convert(nullptr, nullptr, &err) : convert(&inp, &inLeft, &err)) {
            if (flushing)
                break;
            continue;
        }
        if (err == E2BIG) {
            if (out)
                return stop(kErrorInsufficientBuffer);
            continue;
        }
        if (err != EILSEQ && err != EINVAL)
            return stop(kErrorNoUnicodeTranslation);
        if (dbcs) {
            // Redo the stretch from its start, one character at a time, until a character
            // fails or the place where iconv stopped has been passed.
            const std::size_t stoppedAt = static_cast<std::size_t>(inp - start);
            inLeft += stoppedAt;
            inp = start;
            r.produced = producedAtStart;
            while (inLeft > 0 && static_cast<std::size_t>(inp - start) <= stoppedAt) {
                bool canBeValid = false;
                std::size_t length = doubleByteLength(*dbcs, reinterpret_cast<const u8*>(inp), inLeft, &canBeValid);
                char* src = inp;
                std::size_t srcLeft = length;
                if (canBeValid && convert(&src, &srcLeft, &err)) {
                    inp += length;
                    inLeft -= length;
                    continue;
                }
                if (canBeValid && err == E2BIG && out)
                    return stop(kErrorInsufficientBuffer);
                if (canBeValid) {
                    int added = addition(length);
                    if (added < 0)
                        return stop(kErrorInsufficientBuffer);
                    if (added > 0)
                        break;
                }
                if (strict)
                    return stop(kErrorNoUnicodeTranslation);
                if (!replace(length))
                    return r;
                break;
            }
            continue;
        }
        if (err == EILSEQ && inLeft >= step) {
            int added = addition(step);
            if (added < 0)
                return stop(kErrorInsufficientBuffer);
            if (added > 0)
                continue;
        }
        if (strict)
            return stop(kErrorNoUnicodeTranslation);
        // Replace what iconv refused one input unit at a time (a surrogate pair the page lacks
        // becomes two default characters, as on Windows); an incomplete tail as a whole.
        if (!replace(err == EINVAL || inLeft < step ? inLeft : step))
            return r;
    }
    return r;
}

int iconvToWide(unsigned int cp, bool strict, const char* in, std::size_t n, char16_t* out,
                int outCapacity) {
    iconv_t cd = t_iconv.get(cp, true);
    if (!cd)
        return fail(kErrorInvalidParameter, "MultiByteToWideChar");
    // The page's default Unicode character for bytes it cannot decode: the katakana middle
    // dot in 932, '?' elsewhere.
    const char16_t replacement = cp == 932 ? u'\u30FB' : u'?';
    Additions extra;
    extra.table = codePageTable(cp);
    IconvRun r = runIconv(cd, in, n, outCapacity ? reinterpret_cast<char*>(out) : nullptr,
                          static_cast<std::size_t>(outCapacity) * 2, 1, strict,
                          reinterpret_cast<const char*>(&replacement), 2, doubleBytePage(cp), extra);
    if (r.error)
        return fail(r.error, "MultiByteToWideChar");
    return finish(static_cast<long>(r.produced / 2), "MultiByteToWideChar");
}

int iconvFromWide(unsigned int cp, bool bestFit, const char16_t* in, std::size_t n, char* out,
                  int outCapacity, const char* defaultChar, bool* usedDefault) {
    iconv_t cd = t_iconv.get(cp, false);
    if (!cd)
        return fail(kErrorInvalidParameter, "WideCharToMultiByte");
    const char* repl = defaultChar ? defaultChar : "?";
    std::size_t replLen = std::strlen(repl);
    if (replLen == 0 || replLen > 2) {
        repl = "?";
        replLen = 1;
    }
    Additions extra;
    extra.table = codePageTable(cp);
    extra.bestFit = bestFit;
    IconvRun r = runIconv(cd, reinterpret_cast<const char*>(in), n * 2,
                          outCapacity ? out : nullptr, static_cast<std::size_t>(outCapacity), 2,
                          false, repl, replLen, nullptr, extra);
    if (r.error)
        return fail(r.error, "WideCharToMultiByte");
    if (usedDefault)
        *usedDefault = r.usedDefault;
    return finish(static_cast<long>(r.produced), "WideCharToMultiByte");
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Entry points

int multiByteValidPrefix(unsigned int codePage, const char* in, int inLength) {
    if (!in || inLength <= 0)
        return 0;
    std::size_t n = static_cast<std::size_t>(inLength);
    if (isUtf8Page(codePage)) {
        std::size_t failedAt = n;
        decodeUtf8<true, false>(reinterpret_cast<const u8*>(in), n, nullptr, &failedAt);
        return static_cast<int>(failedAt);
    }
    iconv_t cd = t_iconv.get(codePage, true);
    if (!cd)
        return 0;
    Additions extra;
    extra.table = codePageTable(codePage);
    IconvRun r = runIconv(cd, in, n, nullptr, 0, 1, true, nullptr, 0, doubleBytePage(codePage), extra);
    return r.error ? static_cast<int>(r.consumed) : inLength;
}

int multiByteToWideChar(unsigned int codePage, unsigned int flags, const char* in, int inLength,
                        char16_t* out, int outCapacity) {
    const char* call = "MultiByteToWideChar";
    if (!in || inLength == 0 || inLength < -1 || outCapacity < 0 || (!out && outCapacity > 0))
        return fail(kErrorInvalidParameter, call);
    std::size_t n = inLength == -1 ? std::strlen(in) + 1 : static_cast<std::size_t>(inLength);
    bool strict = (flags & kMbErrInvalidChars) != 0;
    if (codePage == kCodePageUtf8 || codePage == 54936) {
        if (flags & ~kMbErrInvalidChars)
            return fail(kErrorInvalidFlags, call);
    } else if (codePage == 65000 || codePage == 42 || (codePage >= 50220 && codePage <= 50229) ||
               (codePage >= 57002 && codePage <= 57011)) {
        if (flags != 0)
            return fail(kErrorInvalidFlags, call);
    } else if (flags & ~0x0Fu) {
        return fail(kErrorInvalidFlags, call);
    }
    if (isUtf8Page(codePage))
        return utf8ToWide(strict, in, n, out, outCapacity);
    return iconvToWide(codePage, strict, in, n, out, outCapacity);
}

int wideCharToMultiByte(unsigned int codePage, unsigned int flags, const char16_t* in,
                        int inLength, char* out, int outCapacity, const char* defaultChar,
                        bool* usedDefault) {
    const char* call = "WideCharToMultiByte";
    if (!in || inLength == 0 || inLength < -1 || outCapacity < 0 || (!out && outCapacity > 0))
        return fail(kErrorInvalidParameter, call);
    std::size_t n;
    if (inLength == -1) {
        n = 0;
        while (in[n])
            ++n;
        ++n;
    } else {
        n = static_cast<std::size_t>(inLength);
    }
    bool strict = (flags & kWcErrInvalidChars) != 0;
    if (codePage == kCodePageUtf8) {
        if (flags & ~kWcErrInvalidChars)
            return fail(kErrorInvalidFlags, call);
        if (defaultChar || usedDefault)
            return fail(kErrorInvalidParameter, call);
        static const u8 kReplacement[] = {0xEF, 0xBF, 0xBD};
        bool lone = false;
        return wideToUtf8(strict, in, n, out, outCapacity, kReplacement, 3, &lone);
    }
    if (isUtf8Page(codePage)) {
        // The ANSI page is UTF-8 here; its default character stands in for a lone surrogate.
        const char* repl = defaultChar && *defaultChar ? defaultChar : "?";
        std::size_t replLen = std::strlen(repl) > 2 ? 2 : std::strlen(repl);
        bool lone = false;
        int r = wideToUtf8(strict, in, n, out, outCapacity, reinterpret_cast<const u8*>(repl),
                           replLen, &lone);
        if (r > 0 && usedDefault)
            *usedDefault = lone;
        return r;
    }
    if (strict && codePage != 54936)
        return fail(kErrorInvalidFlags, call);
    return iconvFromWide(codePage, (flags & kWcNoBestFitChars) == 0, in, n, out, outCapacity,
                         defaultChar, usedDefault);
}

}  // namespace platform
