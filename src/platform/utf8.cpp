// The UTF-8 / UTF-16 converter: vectorised fast paths for valid text (utf8_kernels.inc,
// compiled once per instruction-set level and chosen at run time), and the exact path that
// applies the replacement policy one character at a time from the first fault on.
#include "platform/utf8.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define NX_UTF_X86 1
#include <immintrin.h>
#endif

namespace platform {
namespace utf {

namespace {

using u8 = unsigned char;

namespace portable {
#define NX_UTF_LEVEL 0
#include "platform/utf8_kernels.inc"
#undef NX_UTF_LEVEL
}  // namespace portable

#if defined(NX_UTF_X86)

namespace ssse3 {
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("ssse3"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("ssse3")
#endif
#define NX_UTF_LEVEL 1
#include "platform/utf8_kernels.inc"
#undef NX_UTF_LEVEL
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
}  // namespace ssse3

namespace avx2 {
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
#define NX_UTF_LEVEL 2
#include "platform/utf8_kernels.inc"
#undef NX_UTF_LEVEL
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
}  // namespace avx2

int detectLevel() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        return 2;
    if (__builtin_cpu_supports("ssse3"))
        return 1;
    return 0;
}

#else

int detectLevel() { return 0; }

#endif

std::atomic<int> g_forced{-1};

int level() {
    static const int detected = detectLevel();
    const int forced = g_forced.load(std::memory_order_relaxed);
    return forced >= 0 && forced < detected ? forced : detected;
}

std::size_t decodeValid(int lvl, const u8* s, std::size_t n, char16_t* out, std::size_t room,
                        bool exact, std::size_t* units, bool stopAtZero) {
#if defined(NX_UTF_X86)
    if (lvl == 2)
        return avx2::decode(s, n, out, room, exact, units, stopAtZero);
    if (lvl == 1)
        return ssse3::decode(s, n, out, room, exact, units, stopAtZero);
#endif
    (void)lvl;
    return portable::decode(s, n, out, room, exact, units, stopAtZero);
}

std::size_t encodeValid(int lvl, const char16_t* s, std::size_t n, u8* out, std::size_t room,
                        std::size_t* bytes) {
#if defined(NX_UTF_X86)
    if (lvl == 2)
        return avx2::encode(s, n, out, room, bytes);
    if (lvl == 1)
        return ssse3::encode(s, n, out, room, bytes);
#endif
    (void)lvl;
    return portable::encode(s, n, out, room, bytes);
}

// ---------------------------------------------------------------------------------------------
// The exact path: one character at a time

// The length (1 to 4) of the valid character at s (n > 0 bytes left) and its code point in
// *cp, or 0 when the bytes there are not a complete valid character.
std::size_t validCharacter(const u8* s, std::size_t n, unsigned* cp) {
    const unsigned b = s[0];
    if (b < 0x80) {
        *cp = b;
        return 1;
    }
    std::size_t need;
    unsigned lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        need = 2;
        *cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 3;
        *cp = b & 0x0F;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 4;
        *cp = b & 0x07;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (n < need || s[1] < lo || s[1] > hi)
        return 0;
    for (std::size_t k = 1; k < need; ++k) {
        if ((s[k] & 0xC0) != 0x80)
            return 0;
        *cp = (*cp << 6) | (s[k] & 0x3Fu);
    }
    return need;
}

// Length of the maximal ill-formed subpart at s (n > 0 bytes left, not a valid character):
// the bytes that could still have begun a valid sequence, at least one.
std::size_t illFormedLength(const u8* s, std::size_t n) {
    const unsigned b = s[0];
    if (b < 0xC2 || b > 0xF4)
        return 1;   // a continuation byte, an overlong lead (C0, C1) or beyond U+10FFFF
    const std::size_t need = b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
    // The second byte's range is narrower for the leads that could start an overlong form, a
    // surrogate or a value above U+10FFFF.
    unsigned lo = 0x80, hi = 0xBF;
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

}  // namespace

// The document statics' decoding of one character at s (n > 0 bytes left, as if a zero byte
// followed them): the lead byte's top bits give the count of following bytes, each of which
// needs only its top bit set. Returns the code point (up to 0x1FFFFF), 0 for a zero character
// or -1 when it cannot be decoded; *length gets the bytes it takes.
int markupCharacter(const u8* s, std::size_t n, std::size_t* length) {
    const unsigned lead = s[0];
    *length = 1;
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
        const unsigned b = *length < n ? s[*length] : 0;
        if (!(b & 0x80))
            return -1;
        cp = (cp << 6) | static_cast<int>(b & 0x3F);
        ++*length;
    }
    return cp;
}

Result utf8To16(const char* in, std::size_t n, char16_t* out, std::size_t capacity, Policy policy) {
    const u8* s = reinterpret_cast<const u8*>(in);
    const bool write = out != nullptr;
    const bool markup = policy == Policy::Markup;
    const bool exact = capacity == kExactOutput;
    const int lvl = level();
    Result r;
    std::size_t i = 0;
    std::size_t o = 0;
    for (;;) {
        // Valid characters, as far as the room allows.
        std::size_t units = 0;
        i += decodeValid(lvl, s + i, n - i, write ? out + o : nullptr,
                         write ? capacity - o : kExactOutput, exact, &units, markup);
        o += units;
        if (i == n)
            break;
        // One character under the policy.
        unsigned cp = 0;
        std::size_t length = 0;
        bool replacing = false;
        if (markup) {
            int c = markupCharacter(s + i, n - i, &length);
            if (c == 0) {
                r.terminated = true;
                i += length;
                break;
            }
            if (c < 0) {
                cp = '?';
                replacing = true;
            } else {
                cp = static_cast<unsigned>(c);
            }
        } else {
            length = validCharacter(s + i, n - i, &cp);
            if (length == 0) {
                if (policy == Policy::Strict) {
                    r.ok = false;
                    break;
                }
                length = policy == Policy::Replace ? illFormedLength(s + i, n - i) : 1;
                cp = 0xFFFD;
                replacing = true;
            }
        }
        const std::size_t need = cp > 0xFFFF ? 2 : 1;
        if (write) {
            if (capacity - o < need) {
                r.full = true;
                break;
            }
            if (need == 2) {
                // Masked, as the document statics store values above U+10FFFF.
                out[o] = static_cast<char16_t>(0xD800 | (((cp - 0x10000) >> 10) & 0x3FF));
                out[o + 1] = static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
            } else {
                out[o] = static_cast<char16_t>(cp);
            }
        }
        r.replaced = r.replaced || replacing;
        o += need;
        i += length;
        if (i == n)
            break;
    }
    r.read = i;
    r.written = o;
    return r;
}

namespace {

// utf16To8 into a buffer known only to hold the output: the vector stores may reach beyond the
// last byte produced, so the conversion goes through a buffer of its own in pieces. Each piece
// ends on a character boundary.
Result utf16To8Exact(const char16_t* in, std::size_t n, char* out, Policy policy,
                     const char* lone, std::size_t loneLength) {
    Result total;
    char piece[1024];
    for (;;) {
        const Result r = utf16To8(in + total.read, n - total.read, piece, sizeof piece, policy,
                                  lone, loneLength);
        std::memcpy(out + total.written, piece, r.written);
        total.read += r.read;
        total.written += r.written;
        total.replaced = total.replaced || r.replaced;
        if (!r.full) {
            total.ok = r.ok;
            total.terminated = r.terminated;
            return total;
        }
    }
}

}  // namespace

Result utf16To8(const char16_t* in, std::size_t n, char* out, std::size_t capacity, Policy policy,
                const char* lone, std::size_t loneLength) {
    if (out && capacity == kExactOutput)
        return utf16To8Exact(in, n, out, policy, lone, loneLength);
    u8* o8 = reinterpret_cast<u8*>(out);
    const bool write = out != nullptr;
    const int lvl = level();
    Result r;
    std::size_t i = 0;
    std::size_t o = 0;
    for (;;) {
        // Valid characters, as far as the room allows.
        std::size_t bytes = 0;
        i += encodeValid(lvl, in + i, n - i, write ? o8 + o : nullptr,
                         write ? capacity - o : kExactOutput, &bytes);
        o += bytes;
        if (i == n)
            break;
        // One character under the policy.
        unsigned u = in[i];
        unsigned cp = u;
        std::size_t length = 1;
        const u8* replacement = nullptr;
        std::size_t replacementLength = 0;
        if ((u & 0xF800) == 0xD800) {
            const bool pair = u < 0xDC00 && n - i >= 2 && (in[i + 1] & 0xFC00) == 0xDC00;
            if (pair || (policy == Policy::Markup && n - i >= 2)) {
                cp = (((u & 0x3FF) << 10) | (in[i + 1] & 0x3FFu)) + 0x10000;
                length = 2;
            } else if (policy == Policy::Strict) {
                r.ok = false;
                break;
            } else if (policy == Policy::Markup) {
                replacement = reinterpret_cast<const u8*>("?");
                replacementLength = 1;
            } else {
                replacement = reinterpret_cast<const u8*>(lone);
                replacementLength = loneLength;
            }
        }
        std::size_t need = replacement ? replacementLength : encodeCharacter(cp, nullptr);
        if (write) {
            if (capacity - o < need) {
                r.full = true;
                break;
            }
            if (replacement)
                std::memcpy(o8 + o, replacement, replacementLength);
            else
                encodeCharacter(cp, reinterpret_cast<char*>(o8 + o));
        }
        if (replacement)
            r.replaced = true;
        o += need;
        i += length;
        if (i == n)
            break;
    }
    r.read = i;
    r.written = o;
    return r;
}

namespace {

#if defined(NX_UTF_X86)
// Eight units at a time from aligned blocks: an aligned block never crosses into another page,
// so reading past the terminator is safe, though not to the address sanitizer, which would
// report the bytes beyond the string.
__attribute__((target("sse2"), no_sanitize_address)) std::size_t length16Sse2(const char16_t* s) {
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(s);
    std::uintptr_t block = at & ~static_cast<std::uintptr_t>(15);
    const __m128i zero = _mm_setzero_si128();
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_cmpeq_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(block)), zero)));
    mask &= ~0u << (at - block);   // the bytes before the string
    while (mask == 0) {
        block += 16;
        mask = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_cmpeq_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(block)), zero)));
    }
    return (block + static_cast<std::uintptr_t>(__builtin_ctz(mask)) - at) / 2;
}

// Bit k set: byte k of the 64 at `at` belongs to a zero unit.
__attribute__((target("avx2"), no_sanitize_address)) std::uint64_t zeroUnits64(std::uintptr_t at) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i a = _mm256_load_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i b = _mm256_load_si256(reinterpret_cast<const __m256i*>(at + 32));
    const auto low = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi16(a, zero)));
    const auto high = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi16(b, zero)));
    return low | (static_cast<std::uint64_t>(high) << 32);
}

// The same as length16Sse2 with AVX2, 32 units (one cache line) at a time.
__attribute__((target("avx2"), no_sanitize_address)) std::size_t length16Avx2(const char16_t* s) {
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(s);
    std::uintptr_t block = at & ~static_cast<std::uintptr_t>(63);
    std::uint64_t mask = zeroUnits64(block) & (~std::uint64_t{0} << (at - block));
    while (mask == 0) {
        block += 64;
        mask = zeroUnits64(block);
    }
    return (block + static_cast<std::uintptr_t>(__builtin_ctzll(mask)) - at) / 2;
}
#endif

}  // namespace

std::size_t length16(const char16_t* s) {
#if defined(NX_UTF_X86)
    // Blocks of units only line up with an even address.
    if ((reinterpret_cast<std::uintptr_t>(s) & 1) == 0) {
        const int lvl = level();
        if (lvl >= 2)
            return length16Avx2(s);
        if (lvl == 1)
            return length16Sse2(s);
    }
#endif
    return std::char_traits<char16_t>::length(s);
}

int simdLevel() { return level(); }

void forceSimdLevel(int lvl) { g_forced.store(lvl, std::memory_order_relaxed); }

}  // namespace utf

// ---------------------------------------------------------------------------------------------
// The platform layer's own texts: replaced, never refused

void appendUtf8(std::string& out, const char16_t* text, std::size_t units) {
    if (units == 0)
        return;
    const std::size_t start = out.size();
    out.resize(start + units * 3);
    utf::Result r = utf::utf16To8(text, units, &out[start], units * 3, utf::Policy::Replace);
    out.resize(start + r.written);
}

std::string toUtf8(const std::u16string& text) {
    std::string out;
    appendUtf8(out, text.data(), text.size());
    return out;
}

std::string toUtf8(const char16_t* text) {
    std::string out;
    if (text)
        appendUtf8(out, text, std::char_traits<char16_t>::length(text));
    return out;
}

std::u16string fromUtf8(const std::string& text) {
    std::u16string out(text.size(), u'\0');
    if (text.empty())
        return out;
    utf::Result r = utf::utf8To16(text.data(), text.size(), &out[0], out.size(), utf::Policy::Replace);
    out.resize(r.written);
    return out;
}

}  // namespace platform
