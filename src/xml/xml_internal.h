// Character classes, scanner results and small helpers shared by the XML sources (internal).
#ifndef NXUTIL_XML_INTERNAL_H
#define NXUTIL_XML_INTERNAL_H

#include "xml/xml.h"
#include "xml/char_table.h"

#include <cstdint>

namespace nxxml {

// What the node scanner read besides a node of CMarkup::NodeType (its return value).
enum ScanKind : int {
    SCAN_END_TAG = 0,         // an end tag; the token's left..right hold its name
    SCAN_ERROR = -1,          // a damaged or unterminated node; node.meta holds the message
    SCAN_END_OF_TEXT = -2,    // nothing is left to read
};

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
