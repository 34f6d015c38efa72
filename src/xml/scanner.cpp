// The node scanner: reads the one node that starts at token.next and says what it is.
//
// The fast form (parseNodeImpl<true>, the parser's) looks at the first few characters and hands
// the node to the function of its construct: scanStartTag (the name, then scanAttributes up to
// the ">" outside quotes), scanEndTag, scanToDoubled (comments and CDATA sections),
// scanProcessingInstruction, scanDeclaration ("<!ELEMENT", "<!ATTLIST", "<!ENTITY",
// "<!NOTATION" outside a DOCTYPE), scanSpace and scanText. Each skips whole runs of characters that cannot change its state.
// A DOCTYPE (which nests the other constructs), a damaged opening and a start tag whose name
// holds "=" go to the NodeMachine, which takes one character at a time; the one-character form
// (parseNodeImpl<false>) runs the NodeMachine on every node. Both forms give the same result on
// any text; the fuzz target compares them.
#include "xml/xml_internal.h"
#include "xml/parse_node.h"
#include "format/format.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace nxxml {

namespace {

using Token = CMarkup::TokenPos;
using Node = CMarkup::NodePos;

#if defined(__SSE2__)
// The first position from n that holds a, b or the terminating zero, eight units at a time.
// The aligned loads never cross a page, but may read past the terminator inside its own
// 16-byte block, which the address sanitizer would report.
__attribute__((no_sanitize_address)) inline int scanTo(const char16_t* s, int n, char16_t a,
                                                       char16_t b) {
    while (reinterpret_cast<std::uintptr_t>(s + n) & 15) {
        const char16_t c = s[n];
        if (c == a || c == b || c == 0)
            return n;
        ++n;
    }
    const __m128i va = _mm_set1_epi16(static_cast<short>(a));
    const __m128i vb = _mm_set1_epi16(static_cast<short>(b));
    const __m128i zero = _mm_setzero_si128();
    for (;; n += 8) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(s + n));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, va), _mm_cmpeq_epi16(v, vb)),
                                         _mm_cmpeq_epi16(v, zero));
        const int mask = _mm_movemask_epi8(hit);
        if (mask)
            return n + (__builtin_ctz(static_cast<unsigned>(mask)) >> 1);
    }
}
#else
inline int scanTo(const char16_t* s, int n, char16_t a, char16_t b) {
    for (;; ++n) {
        const char16_t c = s[n];
        if (c == a || c == b || c == 0)
            return n;
    }
}
#endif

// Ends the node before `end`: the token moves there.
inline int finish(Token& token, Node& node, int type, int end) {
    token.next = end;
    node.length = end - node.start;
    node.nodeType = type;
    return type;
}

// The text ended inside a node of the kind `what`.
int unterminated(Token& token, Node& node, const char16_t* what, int end) {
    node.meta = nxFormatString(u"%s at offset %d unterminated", what, node.start);
    return finish(token, node, SCAN_ERROR, end);
}

// ---- the one-character machine -------------------------------------------------------------

// The scanner as a state machine over single characters. A node opens with "<" followed by
// the characters that choose its construct (the opening states), or with white space or text;
// then its terminator is pending: ">" (outside quotes in start tags, in damaged tags and in
// declarations), "?>", "-->", "]]>", or "<" for text. A name after "<", "</" or "<?" is
// recorded when a name end follows it. Inside a DOCTYPE the nested constructs are read the
// same way, and only a ">" with nothing pending ends the node.
class NodeMachine {
public:
    // copyName: a start tag's name goes to node.meta (else to the token's left..right).
    NodeMachine(Token& token, Node& node, bool copyName = true)
        : token_(token), node_(node), s_(token.text), copyName_(copyName) {}
    int run();

private:
    enum Opening { OPEN_NONE, OPEN_LT, OPEN_BANG, OPEN_DASH, OPEN_BRACKET };

    void expect(int type, const char16_t* term, int termLen) {
        type_ = type;
        term_ = term;
        termLen_ = termLen;
    }
    void fail(const char16_t* word) {
        expect(SCAN_ERROR, u">", 1);
        open_ = OPEN_NONE;
        node_.meta = nxFormatString(u"Incorrect %s at offset %d", word, node_.start);
    }
    void endName(int n);
    void opening(char16_t ch, unsigned cls, int n);
    bool outside(char16_t ch, unsigned cls, int n);
    bool pending(char16_t ch, unsigned cls, int n);
    void quoteAndPrevious(char16_t ch, unsigned cls);
    int unterminatedHere(int n);

    Token& token_;
    Node& node_;
    const char16_t* s_;
    const bool copyName_;
    int type_ = SCAN_ERROR;
    const char16_t* term_ = nullptr;
    int termLen_ = 0;
    int nameStart_ = -1;
    char16_t c1_ = 0;  // previous character seen outside quotes
    char16_t c2_ = 0;  // the one before it
    int open_ = OPEN_NONE;
    bool inSpace_ = false;
    bool inDoctype_ = false;
    bool afterEq_ = false;
    char16_t quote_ = 0;
    int end_ = 0;  // first unit after the node, once it has ended
};

int NodeMachine::run() {
    int n = token_.next;
    node_.start = n;
    node_.nodeFlags = 0;
    if (!s_[n]) {
        node_.nodeType = 0;
        node_.length = 0;
        return SCAN_END_OF_TEXT;
    }
    for (;; ++n) {
        const char16_t ch = s_[n];
        if (!ch) {
            if (inSpace_ || type_ == CMarkup::NODE_TEXT)
                return finish(token_, node_, type_, n);
            return unterminatedHere(n);
        }
        const unsigned cls = charClass(ch);
        if (nameStart_ >= 0 && (cls & CC_NAME_END))
            endName(n);
        if (!termLen_) {
            if (open_ != OPEN_NONE)
                opening(ch, cls, n);
            else if (outside(ch, cls, n))
                break;
        } else if (pending(ch, cls, n)) {
            break;
        }
    }
    return finish(token_, node_, type_, end_);
}

void NodeMachine::endName(int n) {
    if ((type_ == CMarkup::NODE_ELEMENT && copyName_) ||
        type_ == CMarkup::NODE_PROCESSING_INSTRUCTION) {
        node_.meta.assign(s_ + nameStart_, static_cast<std::size_t>(n - nameStart_));
    } else {
        token_.left = nameStart_;
        token_.right = n - 1;
    }
    nameStart_ = -1;
    c1_ = c2_ = 0;
}

// The characters after "<" that choose the construct.
void NodeMachine::opening(char16_t ch, unsigned cls, int n) {
    const int state = open_;
    open_ = OPEN_NONE;
    switch (state) {
    case OPEN_LT:
        if (cls & CC_NAME_START) {
            expect(CMarkup::NODE_ELEMENT, u">", 1);
            nameStart_ = n;
        } else if (ch == '/') {
            expect(SCAN_END_TAG, u">", 1);
            nameStart_ = n + 1;
        } else if (ch == '!') {
            open_ = OPEN_BANG;
        } else if (ch == '?') {
            expect(CMarkup::NODE_PROCESSING_INSTRUCTION, u"?>", 2);
            nameStart_ = n + 1;
        } else {
            fail(u"tag name character");
        }
        break;
    case OPEN_BANG:
        if (ch == '-')
            open_ = OPEN_DASH;
        else if (!inDoctype_ && ch == '[')
            open_ = OPEN_BRACKET;
        else if (!inDoctype_ && ch == 'D')
            inDoctype_ = true;
        else if (ch == 'E' || ch == 'A' || ch == 'N')
            expect(CMarkup::NODE_DOCUMENT_TYPE, u">", 1);
        else
            fail(u"! tag");
        break;
    case OPEN_DASH:
        if (ch == '-')
            expect(CMarkup::NODE_COMMENT, u"-->", 3);
        else
            fail(u"comment tag");
        break;
    default:  // OPEN_BRACKET
        if (ch == 'C')
            expect(CMarkup::NODE_CDATA_SECTION, u"]]>", 3);
        else
            fail(u"tag");
        break;
    }
}

// No terminator pending: the node's first character, white space, or the top of a DOCTYPE.
// True when the node has ended.
bool NodeMachine::outside(char16_t ch, unsigned cls, int n) {
    if (inSpace_) {
        if (ch == '<') {
            end_ = n;
            return true;
        }
        if (!(cls & CC_SPACE)) {
            inSpace_ = false;
            expect(CMarkup::NODE_TEXT, u"<", 1);
        }
    } else if (inDoctype_) {
        if (ch == '<') {
            open_ = OPEN_LT;
        } else if (ch == '>') {
            type_ = CMarkup::NODE_DOCUMENT_TYPE;
            end_ = n + 1;
            return true;
        }
    } else if (ch == '<') {
        open_ = OPEN_LT;
    } else if (cls & CC_SPACE) {
        inSpace_ = true;
        type_ = CMarkup::NODE_WHITESPACE;
    } else {
        expect(CMarkup::NODE_TEXT, u"<", 1);
    }
    return false;
}

// A terminator is pending. True when the node has ended.
bool NodeMachine::pending(char16_t ch, unsigned cls, int n) {
    if (ch == '>' && !quote_) {
        bool found;
        if (termLen_ == 1) {
            found = true;
            if (type_ == CMarkup::NODE_ELEMENT && c1_ == '/' &&
                (c2_ == 0 || c2_ == '\'' || c2_ == '"' || isSpace(c2_)))
                node_.nodeFlags |= CMarkup::NODE_EMPTY_ELEMENT;
        } else {
            found = std::memcmp(s_ + n + 1 - termLen_, term_, sizeof(char16_t) * termLen_) == 0;
        }
        if (found) {
            if (!inDoctype_) {
                end_ = n + 1;
                return true;
            }
            termLen_ = 0;
        }
    } else if (ch == '<' && (type_ == CMarkup::NODE_TEXT || type_ == SCAN_ERROR)) {
        end_ = n;
        return true;
    } else if (type_ == CMarkup::NODE_ELEMENT || type_ == SCAN_ERROR) {
        quoteAndPrevious(ch, cls);
    } else if (type_ == CMarkup::NODE_DOCUMENT_TYPE) {
        if ((ch == '"' || ch == '\'') && (!quote_ || quote_ == ch))
            quote_ = quote_ ? 0 : ch;
    }
    return false;
}

// Inside a start tag: a quote opens only as a value (just after "=", past white space), and the
// last two characters outside quotes tell "/>" from a "/" that ends a value.
void NodeMachine::quoteAndPrevious(char16_t ch, unsigned cls) {
    if (quote_) {
        if (ch == quote_)
            quote_ = 0;
    } else if (ch == '=' && c1_ != '=') {
        afterEq_ = true;
    } else if (afterEq_ && !(cls & CC_SPACE)) {
        if (ch == '"' || ch == '\'')
            quote_ = ch;
        afterEq_ = false;
    }
    if (!quote_) {
        c2_ = c1_;
        c1_ = ch;
    }
}

int NodeMachine::unterminatedHere(int n) {
    const char16_t* what = u"tag";
    if (inDoctype_ || type_ == CMarkup::NODE_DOCUMENT_TYPE)
        what = u"Doctype";
    else if (type_ == CMarkup::NODE_ELEMENT)
        what = u"Element tag";
    else if (type_ == SCAN_END_TAG)
        what = u"Element end tag";
    else if (type_ == CMarkup::NODE_CDATA_SECTION)
        what = u"CDATA Section";
    else if (type_ == CMarkup::NODE_PROCESSING_INSTRUCTION)
        what = u"Processing instruction";
    else if (type_ == CMarkup::NODE_COMMENT)
        what = u"Comment";
    return unterminated(token_, node_, what, n);
}

// ---- one function per construct ------------------------------------------------------------

// Text from n, the unit after its first: up to "<" (not included), the first ">" (included)
// or the end of the text.
int scanText(Token& token, Node& node, int n) {
    n = scanTo(token.text, n, '<', '>');
    return finish(token, node, CMarkup::NODE_TEXT, token.text[n] == '>' ? n + 1 : n);
}

// White space up to "<" or the end; any other character makes the node text, read on from the
// unit after that character.
int scanSpace(Token& token, Node& node) {
    const char16_t* s = token.text;
    int n = node.start + 1;
    while (isSpace(s[n]))
        ++n;
    if (s[n] == '<' || !s[n])
        return finish(token, node, CMarkup::NODE_WHITESPACE, n);
    return scanText(token, node, n + 1);
}

// The end of the usual attribute from n, a white space unit: more white space, a name, "=" and
// a quoted value. -1 when the units from n have another shape (or the text ends). After it,
// the last two characters outside quotes are "=" and the closing quote, whatever came before.
inline int spaceNameValue(const char16_t* s, int n) {
    int p = n + 1;
    while (isSpace(s[p]))
        ++p;
    const int name = p;
    while (!(charClass(s[p]) & CC_TAG_SPECIAL))
        ++p;
    if (p == name || s[p] != '=')
        return -1;
    const char16_t quote = s[p + 1];
    if (quote != '"' && quote != '\'')
        return -1;
    int close = p + 2;  // values are short: a plain loop beats a vector scan here
    while (s[close] != quote && s[close])
        ++close;
    return s[close] ? close + 1 : -1;
}

// The attributes of a start tag from n, the name's end, up to the ">" outside quotes: a quote
// opens a value only just after "=" (past white space); c1 and c2, the last two characters
// outside quotes, tell "/>" from a "/" that ends a value. Returns the position of the ">" or
// of the terminating zero.
int scanAttributes(const char16_t* s, int n, char16_t& c1, char16_t& c2) {
    char16_t quote = 0;
    bool afterEq = false;
    for (;;) {
        if (quote) {
            n = scanTo(s, n, quote, quote);
            if (!s[n])
                return n;
            quote = 0;
            c2 = c1;
            c1 = s[n++];
            continue;
        }
        const char16_t c = s[n];
        const unsigned k = charClass(c);
        if (!(k & CC_TAG_SPECIAL)) {
            // A run of plain characters only ends a pending "just after =".
            int r = n + 1;
            while (!(charClass(s[r]) & CC_TAG_SPECIAL))
                ++r;
            afterEq = false;
            c2 = r - n >= 2 ? s[r - 2] : c1;
            c1 = s[r - 1];
            n = r;
            continue;
        }
        if (c == '>' || c == 0)
            return n;
        if (k & CC_SPACE) {
            const int after = spaceNameValue(s, n);
            if (after >= 0) {
                c2 = '=';
                c1 = s[after - 1];
                afterEq = false;
                n = after;
                continue;
            }
        }
        if (c == '=' && c1 != '=') {
            afterEq = true;
        } else if (afterEq && !(k & CC_SPACE)) {
            if (c == '"' || c == '\'')
                quote = c;
            afterEq = false;
        }
        if (!quote) {
            c2 = c1;
            c1 = c;
        }
        ++n;
    }
}

// "<name" and its attributes up to ">"; "/>" marks an empty element. The name goes to node.meta
// (CopyName) or to the token's left..right. A name holding "=" (where a quote could open inside
// the name) is left to the machine.
template <bool CopyName>
int scanStartTag(Token& token, Node& node) {
    const char16_t* s = token.text;
    const int nameStart = node.start + 1;
    int n = nameStart + 1;
    while (!(charClass(s[n]) & CC_TAG_NAME_STOP))
        ++n;
    if (s[n] == '=')
        return NodeMachine(token, node, CopyName).run();
    if (!s[n])
        return unterminated(token, node, u"Element tag", n);
    if (CopyName) {
        node.meta.assign(s + nameStart, static_cast<std::size_t>(n - nameStart));
    } else {
        token.left = nameStart;
        token.right = n - 1;
    }
    char16_t c1 = 0;
    char16_t c2 = 0;
    n = scanAttributes(s, n, c1, c2);
    if (!s[n])
        return unterminated(token, node, u"Element tag", n);
    if (c1 == '/' && (c2 == 0 || c2 == '\'' || c2 == '"' || isSpace(c2)))
        node.nodeFlags |= CMarkup::NODE_EMPTY_ELEMENT;
    return finish(token, node, CMarkup::NODE_ELEMENT, n + 1);
}

// "</name" up to ">"; the token's left..right hold the name.
int scanEndTag(Token& token, Node& node) {
    const char16_t* s = token.text;
    const int nameStart = node.start + 2;
    int n = nameStart;
    while (s[n] && !(charClass(s[n]) & CC_NAME_END))
        ++n;
    if (s[n]) {
        token.left = nameStart;
        token.right = n - 1;
        n = scanTo(s, n, '>', '>');
    }
    if (!s[n])
        return unterminated(token, node, u"Element end tag", n);
    return finish(token, node, SCAN_END_TAG, n + 1);
}

// "<?name" up to "?>" (which may be the "?" of the opening: "<?>" is whole).
int scanProcessingInstruction(Token& token, Node& node) {
    const char16_t* s = token.text;
    const int nameStart = node.start + 2;
    int n = nameStart;
    while (s[n] && !(charClass(s[n]) & CC_NAME_END))
        ++n;
    if (s[n]) {
        node.meta.assign(s + nameStart, static_cast<std::size_t>(n - nameStart));
        for (;; ++n) {
            n = scanTo(s, n, '>', '>');
            if (!s[n] || s[n - 1] == '?')
                break;
        }
    }
    if (!s[n])
        return unterminated(token, node, u"Processing instruction", n);
    return finish(token, node, CMarkup::NODE_PROCESSING_INSTRUCTION, n + 1);
}

// A comment "<!--" or a CDATA section "<![C", read from the unit after its opening up to the
// terminator `a` `a` ">" ("-->" or "]]>"), whose first units may be those of the opening.
int scanToDoubled(Token& token, Node& node, int type, char16_t a, const char16_t* what) {
    const char16_t* s = token.text;
    int n = node.start + 4;
    for (;; ++n) {
        n = scanTo(s, n, '>', '>');
        if (!s[n])
            return unterminated(token, node, what, n);
        if (s[n - 1] == a && s[n - 2] == a)
            return finish(token, node, type, n + 1);
    }
}

// "<!ELEMENT", "<!ATTLIST", "<!ENTITY", "<!NOTATION" outside a DOCTYPE, up to ">" outside
// quotes.
int scanDeclaration(Token& token, Node& node) {
    const char16_t* s = token.text;
    char16_t quote = 0;
    for (int n = node.start + 3;; ++n) {
        const char16_t c = s[n];
        if (!c)
            return unterminated(token, node, u"Doctype", n);
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '>') {
            return finish(token, node, CMarkup::NODE_DOCUMENT_TYPE, n + 1);
        } else if (c == '"' || c == '\'') {
            quote = c;
        }
    }
}

// The construct a "<" opens, chosen by the units after it.
template <bool CopyName>
int scanMarkup(Token& token, Node& node) {
    const char16_t* s = token.text;
    const int n = node.start;
    const char16_t next = s[n + 1];
    if (charClass(next) & CC_NAME_START)
        return scanStartTag<CopyName>(token, node);
    if (next == '/')
        return scanEndTag(token, node);
    if (next == '?')
        return scanProcessingInstruction(token, node);
    if (next == '!') {
        const char16_t third = s[n + 2];
        if (third == '-' && s[n + 3] == '-')
            return scanToDoubled(token, node, CMarkup::NODE_COMMENT, '-', u"Comment");
        if (third == '[' && s[n + 3] == 'C')
            return scanToDoubled(token, node, CMarkup::NODE_CDATA_SECTION, ']', u"CDATA Section");
        if (third == 'E' || third == 'A' || third == 'N')
            return scanDeclaration(token, node);
    }
    // A DOCTYPE, or an opening that makes no construct.
    return NodeMachine(token, node, CopyName).run();
}

template <bool CopyName>
int scanNode(Token& token, Node& node) {
    const char16_t c = token.text[token.next];
    node.start = token.next;
    node.nodeFlags = 0;
    if (c == '<')
        return scanMarkup<CopyName>(token, node);
    if (!c) {
        node.nodeType = 0;
        node.length = 0;
        return SCAN_END_OF_TEXT;
    }
    if (isSpace(c))
        return scanSpace(token, node);
    return scanText(token, node, node.start + 1);
}

}  // namespace

int scanNodeNameInToken(Token& token, Node& node) { return scanNode<false>(token, node); }

template <bool Fast>
int parseNodeImpl(Token& token, Node& node) {
    if constexpr (Fast)
        return scanNode<true>(token, node);
    else
        return NodeMachine(token, node).run();
}

template int parseNodeImpl<true>(Token&, Node&);
template int parseNodeImpl<false>(Token&, Node&);

}  // namespace nxxml

int CMarkup::x_ParseNode(TokenPos& token, NodePos& node) {
    return nxxml::parseNodeImpl<true>(token, node);
}
