// Character classes and small helpers shared by the XML sources (internal).
#ifndef NXUTIL_XML_INTERNAL_H
#define NXUTIL_XML_INTERNAL_H

#include "xml/xml.h"

#include <cstdint>

namespace nxxml {

// Bits of the character-class table; every class lists exactly the characters it holds.
enum CharClass : std::uint16_t {
    CC_SPACE = 0x01,        // white space " \t\n\r": skipped between tokens, white-space nodes
    CC_NAME_END = 0x02,     // " \t\n\r/>": ends a name inside the node scanner
    CC_TOKEN_END = 0x04,    // " \t\n\r<>=\\/?!": ends a token in x_FindName
    CC_ATTR_END = 0x08,     // "= \t\n\r>/?": ends an attribute name
    CC_VALUE_END = 0x10,    // " \t\n\r>": ends an unquoted attribute value
    CC_NAME_CONT = 0x20,    // " =/[]": may follow a matched name in an argument
    CC_NAME_START = 0x40,   // A-Z, a (0x61) and above, "_", ":": may start an element name
    CC_TAG_SPECIAL = 0x80,  // "\0 \t\n\r>=\"'/": interrupts a fast run inside a start tag
    CC_ESCAPE = 0x100,      // "\0<&>\"'": interrupts a fast run of EscapeText
};

struct CharTable {
    std::uint16_t v[128];
};
extern const CharTable kCharClass;

// Classes of a UTF-16 unit; every unit from 0x80 up can start and continue a name.
inline unsigned charClass(char16_t c) {
    return c < 128 ? kCharClass.v[c] : static_cast<unsigned>(CC_NAME_START);
}
inline bool isSpace(char16_t c) { return c < 128 && (kCharClass.v[c] & CC_SPACE); }

// Offsets and lengths are 32-bit in the index; texts beyond that range are not supported.
inline int toInt(std::size_t n) { return static_cast<int>(n); }

// What one record can hold. A parse or an edit that would need more is refused, so no field is
// ever written cut short: the start tag's length has 22 bits, the end tag's a signed 10-bit
// field, the level the low 16 bits of flags. Texts stay far enough below INT_MAX that offset
// arithmetic just past the end cannot overflow, and records below 2^30 (32 GiB of them), so
// growing the array by half never overflows an int either.
constexpr int kMaxStartTagLen = 0x3FFFFF;
constexpr int kMaxEndTagLen = 511;
constexpr int kMaxLevel = 0xFFFF;
constexpr int kMaxTextLength = 0x7FFF0000;
constexpr int kMaxRecords = 0x40000000;

// Compares n units of a and b, folding ASCII letters when ignoreCase is set.
bool unitsEqual(const char16_t* a, const char16_t* b, int n, bool ignoreCase);

// Finding an attribute of a start tag or processing instruction whose name token begins at
// token.next. Both leave the token on the value (or on the bare name) when found and on the
// tag's end otherwise, with preSpaceStart/preSpaceLength naming the white space before the name.
// quickFindAttrib reads only the common name="value" shape and answers QUICK_UNSURE, leaving
// the token as it was, on anything else; findAttribByTokens reads every shape, and finds the
// attribute numbered n (from 0) when attribName is null.
enum QuickFind { QUICK_FOUND, QUICK_ABSENT, QUICK_UNSURE };
QuickFind quickFindAttrib(CMarkup::TokenPos& token, const char16_t* attribName);
bool findAttribByTokens(CMarkup::TokenPos& token, const char16_t* attribName, int n);

}  // namespace nxxml

#endif
