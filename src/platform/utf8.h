// UTF-8 and UTF-16: the library's one converter between them, used by the code-page functions
// (65001), the strings, the document statics, the logger and the platform layer's own texts.
//
// A conversion runs in one pass into a buffer sized from the input's bound (a byte never
// decodes to more than one unit, a unit never encodes to more than three bytes). Valid runs go
// through vectorised code chosen at run time (AVX2, else SSSE3, else a portable word-at-a-time
// loop); from the first sequence that is not a valid character on, one character at a time
// follows the policy, then the fast path resumes at the next character boundary. The policy
// only decides what happens to a sequence that is not a valid character:
//   Strict   stop there and report its position (the code-page functions' error 1113);
//   Replace  U+FFFD for each maximal ill-formed subpart; a lone surrogate becomes the caller's
//            replacement bytes (EF BF BD unless given);
//   ReplaceEachByte  U+FFFD for each byte of an invalid sequence (the formatter's narrow
//            arguments); a lone surrogate as under Replace;
//   Markup   the document statics' lenient decoding: a lead byte takes the next bytes that have
//            their top bit set whatever their range, a character it cannot decode becomes '?',
//            a zero byte (or an overlong zero) ends the text; a surrogate takes the next unit
//            as its partner whatever it is, except at the end, where it becomes '?'.
#ifndef NXUTIL_PLATFORM_UTF8_H
#define NXUTIL_PLATFORM_UTF8_H

#include <cstddef>
#include <string>

namespace platform {

/// The UTF-8 bytes of `text` (a lone surrogate becomes U+FFFD).
std::string toUtf8(const std::u16string& text);
/// The same for a zero-terminated text; null gives an empty string.
std::string toUtf8(const char16_t* text);
/// The UTF-16 text of the UTF-8 bytes `text` (U+FFFD for each maximal ill-formed subpart).
std::u16string fromUtf8(const std::string& text);
/// Appends the UTF-8 bytes of `units` units of `text` to `out` (a lone surrogate becomes
/// U+FFFD).
void appendUtf8(std::string& out, const char16_t* text, std::size_t units);

namespace utf {

enum class Policy : unsigned char { Strict, Replace, ReplaceEachByte, Markup };

/// What a conversion did.
struct Result {
    std::size_t read = 0;      ///< input consumed (Strict failure: the fault's position)
    std::size_t written = 0;   ///< output produced (or counted)
    bool ok = true;            ///< false: Strict met an invalid sequence at `read`
    bool full = false;         ///< stopped at `read` because the next character did not fit
    bool terminated = false;   ///< Markup met a zero character; `read` includes it
    bool replaced = false;     ///< something was replaced
};

/// A capacity for an output buffer known only to hold the whole output: nothing is written
/// beyond what the conversion produces (elsewhere the vector stores may fill the room).
constexpr std::size_t kExactOutput = ~static_cast<std::size_t>(0);

/// Decodes `n` bytes of UTF-8 into `out`, which has room for `capacity` units (null `out`:
/// count only). With capacity >= n the output always fits.
Result utf8To16(const char* in, std::size_t n, char16_t* out, std::size_t capacity, Policy policy);

/// Encodes `n` units of UTF-16 into `out`, which has room for `capacity` bytes (null `out`:
/// count only). With capacity >= 3 * n the output always fits. Under Replace a lone
/// surrogate becomes the `loneLength` (1 to 3) bytes at `lone`.
Result utf16To8(const char16_t* in, std::size_t n, char* out, std::size_t capacity, Policy policy,
                const char* lone = "\xEF\xBF\xBD", std::size_t loneLength = 3);

/// The units of a zero-terminated text before its zero.
std::size_t length16(const char16_t* s);

/// Writes the UTF-8 bytes of one code point at `out` (null: counts only) and returns how many,
/// 1 to 4. Nothing is checked: surrogates and values up to 0x1FFFFF encode as they are, which
/// is what the document statics need to write back what they decoded.
inline std::size_t encodeCharacter(unsigned codePoint, char* out) {
    const unsigned v = codePoint;
    const std::size_t need = v < 0x80 ? 1 : v < 0x800 ? 2 : v < 0x10000 ? 3 : 4;
    if (!out)
        return need;
    static const unsigned char kLead[5] = {0, 0x00, 0xC0, 0xE0, 0xF0};
    static const unsigned char kLeadMask[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    for (std::size_t k = need - 1; k > 0; --k)
        out[k] = static_cast<char>(0x80 | ((v >> (6 * (need - 1 - k))) & 0x3F));
    out[0] = static_cast<char>(kLead[need] | ((v >> (6 * (need - 1))) & kLeadMask[need]));
    return need;
}

/// One character of the document statics' lenient decoding at s (n > 0 bytes left, read as if
/// a zero byte followed them): the code point (up to 0x1FFFFF), 0 for a zero byte, or -1 when
/// it cannot be decoded; *length gets the bytes it takes (failed ones included).
int markupCharacter(const unsigned char* s, std::size_t n, std::size_t* length);

/// The vectorised paths, for tests: 0 portable, 1 SSSE3, 2 AVX2. `force` picks one the
/// processor supports (a higher one falls back), -1 returns to the automatic choice; returns
/// the one in use.
int simdLevel();
void forceSimdLevel(int level);

}  // namespace utf

}  // namespace platform

#endif
