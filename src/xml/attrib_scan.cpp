// Reading attributes from a start tag (or a processing instruction): the tight pass for the
// common name="value" shape and the general tokenizer that reads anything else.
#include "xml/xml_internal.h"

#include <cstdint>

namespace nxxml {

namespace {

// The white space and attribute-name ends of the class table as bit masks over the units below
// 64 (every unit of those classes is below 64), so the tight loops below test a unit with one
// shift. The terminating zero ends a name too. The table is constant-initialised, so reading it
// here at start-up is safe.
std::uint64_t bitsOf(unsigned charClassBits, bool withZero) {
    std::uint64_t bits = withZero ? 1 : 0;
    for (unsigned c = 0; c < 64; ++c)
        if (kCharClass.v[c] & charClassBits)
            bits |= std::uint64_t{1} << c;
    return bits;
}
const std::uint64_t kSpaceBits = bitsOf(CC_SPACE, false);
const std::uint64_t kNameEndBits = bitsOf(CC_ATTR_END, true);

inline bool inBits(std::uint64_t bits, char16_t c) { return c < 64 && ((bits >> c) & 1); }

}  // namespace

// Most start tags are a name followed by name="value" pairs; this reads that shape in one tight
// pass. Anything else (a bare name, an unquoted or unclosed value, a stray "=" or quote) is
// answered QUICK_UNSURE without touching the token, and the general tokenizer, which gives the
// same answers on the common shape, reads the tag instead.
QuickFind quickFindAttrib(CMarkup::TokenPos& token, const char16_t* attribName) {
    const char16_t* s = token.text;
    const bool fold = (token.tokenFlags & CMarkup::DOC_IGNORE_CASE) != 0;
    int p = token.next;
    while (inBits(kSpaceBits, s[p]))
        ++p;
    if (s[p] == '"' || s[p] == '\'' || inBits(kNameEndBits, s[p]))
        return QUICK_UNSURE;
    while (!inBits(kNameEndBits, s[p]))
        ++p;
    for (;;) {
        const int spaceStart = p;
        while (inBits(kSpaceBits, s[p]))
            ++p;
        const char16_t c = s[p];
        if (c == '>' || c == '/' || c == '?') {
            token.left = token.right = p;
            token.next = spaceStart;
            token.tokenFlags &= ~CMarkup::TOKEN_QUOTED;
            return QUICK_ABSENT;
        }
        if (c == '"' || c == '\'' || inBits(kNameEndBits, c))
            return QUICK_UNSURE;
        const int nameStart = p;
        // Compare with the wanted name while finding the end of this one.
        int i = 0;
        while (attribName[i] && s[p] == attribName[i] && !inBits(kNameEndBits, s[p])) {
            ++p;
            ++i;
        }
        const char16_t after = attribName[i];
        bool same = !after || (after < 128 && (kCharClass.v[after] & CC_NAME_CONT));
        while (!inBits(kNameEndBits, s[p])) {
            ++p;
            same = false;
        }
        const int nameEnd = p;
        while (inBits(kSpaceBits, s[p]))
            ++p;
        if (s[p] != '=')
            return QUICK_UNSURE;
        ++p;
        while (inBits(kSpaceBits, s[p]))
            ++p;
        const char16_t quote = s[p];
        if (quote != '"' && quote != '\'')
            return QUICK_UNSURE;
        int close = p + 1;  // values are short: a plain loop beats a vector scan here
        while (s[close] != quote && s[close])
            ++close;
        if (!s[close])
            return QUICK_UNSURE;
        if (fold && !same) {
            CMarkup::TokenPos name(s, token.tokenFlags);
            name.left = nameStart;
            name.right = nameEnd - 1;
            same = name.MatchName(attribName);
        }
        if (same) {
            token.preSpaceStart = spaceStart;
            token.preSpaceLength = nameStart - spaceStart;
            token.left = p + 1;
            token.right = close - 1;
            token.next = close + 1;
            token.tokenFlags |= CMarkup::TOKEN_QUOTED;
            return QUICK_FOUND;
        }
        p = close + 1;
    }
}

bool findAttribByTokens(CMarkup::TokenPos& token, const char16_t* attribName, int n) {
    const char16_t* s = token.text;
    int attrib = -1;  // number of the last name token; -1 until the element name is passed
    bool found = false;
    bool afterEquals = false;
    int foundRight = 0;
    for (;;) {
        const int spaceStart = token.next;
        int p = spaceStart;
        while (isSpace(s[p]))
            ++p;
        if (!s[p]) {
            token.next = p;
            break;
        }
        const int tokenStart = p;
        const char16_t c = s[p];
        bool isValue;
        if (c == '"' || c == '\'') {
            token.left = p + 1;
            ++p;
            while (s[p] && s[p] != c)
                ++p;
            token.right = p - 1;
            token.next = s[p] ? p + 1 : p;
            token.tokenFlags |= CMarkup::TOKEN_QUOTED;
            isValue = true;
        } else {
            const unsigned endSet = afterEquals ? CC_VALUE_END : CC_ATTR_END;
            while (s[p] && !(charClass(s[p]) & endSet))
                ++p;
            if (p == tokenStart)
                ++p;
            token.left = tokenStart;
            token.right = p - 1;
            token.next = p;
            token.tokenFlags &= ~CMarkup::TOKEN_QUOTED;
            isValue = afterEquals;
        }
        if (isValue) {
            afterEquals = false;
            if (found)
                return true;
            continue;
        }
        if (token.right == token.left) {
            if (c == '=') {
                afterEquals = true;
                continue;
            }
            if (c == '>' || c == '/' || c == '?') {
                token.next = spaceStart;
                break;
            }
        }
        if (found)
            break;  // the attribute found has no value
        if (attrib >= 0) {
            if (attribName) {
                if (token.MatchName(attribName)) {
                    found = true;
                    token.preSpaceStart = spaceStart;
                    token.preSpaceLength = tokenStart - spaceStart;
                    foundRight = token.right;
                }
            } else if (attrib == n) {
                token.preSpaceStart = spaceStart;
                token.preSpaceLength = tokenStart - spaceStart;
                return true;
            }
        }
        ++attrib;
    }
    if (!found)
        return false;
    token.left = token.preSpaceStart + token.preSpaceLength;
    token.right = foundRight;
    token.next = foundRight + 1;
    token.tokenFlags &= ~CMarkup::TOKEN_QUOTED;
    return true;
}

}  // namespace nxxml

using namespace nxxml;

bool CMarkup::x_FindAttrib(TokenPos& token, const char16_t* attribName, int n) {
    if (attribName && *attribName) {
        const QuickFind quick = quickFindAttrib(token, attribName);
        if (quick != QUICK_UNSURE)
            return quick == QUICK_FOUND;
    }
    return findAttribByTokens(token, attribName, n);
}
