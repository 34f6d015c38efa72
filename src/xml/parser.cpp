// The tolerant parser of CMarkup: the node scanner (one node at a time over UTF-16 text), the
// element builder that links records and repairs damaged structure, the whole-document driver,
// and the token functions shared with the cursor and edit operations.
//
// The node scanner is a character state machine. Its hot states (character data, white space,
// the inside of start tags, comments and CDATA sections) skip whole runs of characters that
// cannot change the state; the runs are chosen so that the result is exactly that of taking
// the characters one at a time (the test suite compares both ways on random input).
#include "xml/xml_internal.h"
#include "xml/parse_node.h"
#include "format/format.h"

#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace nxxml {

namespace {

constexpr CharTable makeCharTable() {
    CharTable t{};
    struct Set {
        const char* chars;
        std::uint16_t bit;
    };
    const Set sets[] = {
        {" \t\n\r", CC_SPACE},
        {" \t\n\r/>", CC_NAME_END},
        {" \t\n\r<>=\\/?!", CC_TOKEN_END},
        {"= \t\n\r>/?", CC_ATTR_END},
        {" \t\n\r>", CC_VALUE_END},
        {" =/[]", CC_NAME_CONT},
        {"_:", CC_NAME_START},
        {" \t\n\r>=\"'/", CC_TAG_SPECIAL},
        {"<&>\"'", CC_ESCAPE},
    };
    for (const Set& s : sets)
        for (const char* p = s.chars; *p; ++p)
            t.v[static_cast<unsigned char>(*p)] |= s.bit;
    for (int c = 'A'; c <= 'Z'; ++c)
        t.v[c] |= CC_NAME_START;
    for (int c = 'a'; c < 128; ++c)
        t.v[c] |= CC_NAME_START;
    // The terminating zero stops every run.
    t.v[0] |= CC_TAG_SPECIAL | CC_ESCAPE;
    return t;
}

}  // namespace

const CharTable kCharClass = makeCharTable();

bool unitsEqual(const char16_t* a, const char16_t* b, int n, bool ignoreCase) {
    for (int i = 0; i < n; ++i) {
        char16_t x = a[i];
        char16_t y = b[i];
        if (x == y)
            continue;
        if (!ignoreCase)
            return false;
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char16_t>(x + 32);
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char16_t>(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

// ---- the node scanner ----------------------------------------------------------------------

namespace {

enum LtState { LT_NONE, LT_OPEN, LT_BANG, LT_DASH, LT_BRACKET };

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

}  // namespace

template <bool Fast>
int parseNodeImpl(CMarkup::TokenPos& token, CMarkup::NodePos& node) {
    const char16_t* s = token.text;
    int n = token.next;
    node.start = n;
    node.nodeFlags = 0;
    if (!s[n]) {
        node.nodeType = 0;
        node.length = 0;
        return -2;
    }
    int type = -1;
    const char16_t* term = nullptr;
    int termLen = 0;
    int nameStart = -1;
    char16_t c1 = 0;  // previous character seen outside quotes
    char16_t c2 = 0;  // the one before it
    int lt = LT_NONE;
    bool inSpace = false;
    bool inDoctype = false;
    bool afterEq = false;
    char16_t quote = 0;
    int end;  // first unit after the node

    auto fail = [&](const char16_t* word) {
        term = u">";
        termLen = 1;
        type = -1;
        lt = LT_NONE;
        node.meta = nxFormatString(u"Incorrect %s at offset %d", word, node.start);
    };

    if (Fast) {
        // The usual openings, decided at once: "<name", "</" and a character of text. The
        // general loop takes the same steps for them, one character at a time.
        const char16_t first = s[n];
        if (first == '<') {
            const char16_t second = s[n + 1];
            if (charClass(second) & CC_NAME_START) {
                type = CMarkup::NODE_ELEMENT;
                term = u">";
                termLen = 1;
                nameStart = n + 1;
                n += 2;
            } else if (second == '/') {
                type = 0;
                term = u">";
                termLen = 1;
                nameStart = n + 2;
                n += 2;
            }
        } else if (!(charClass(first) & CC_SPACE)) {
            type = CMarkup::NODE_TEXT;
            term = u"<";
            termLen = 1;
            n += 1;
        } else if (first) {
            type = CMarkup::NODE_WHITESPACE;
            inSpace = true;
            n += 1;
        }
    }
    for (;; ++n) {
        if (Fast) {
            if (termLen) {
                if (type == CMarkup::NODE_TEXT) {
                    n = scanTo(s, n, '<', '>');
                } else if (type == CMarkup::NODE_ELEMENT && nameStart < 0) {
                    // The attributes of a start tag, up to its ">" outside quotes (or the end
                    // of the text), with the same quote and previous-character bookkeeping as
                    // the general loop below.
                    for (;;) {
                        if (quote) {
                            n = scanTo(s, n, quote, quote);
                            if (!s[n])
                                break;
                            quote = 0;
                            c2 = c1;
                            c1 = s[n++];
                            continue;
                        }
                        const char16_t c = s[n];
                        const unsigned k = charClass(c);
                        if (!(k & CC_TAG_SPECIAL)) {
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
                            break;
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
                } else if (type == CMarkup::NODE_ELEMENT) {
                    if (quote) {
                        if (nameStart < 0)
                            while (s[n] && s[n] != quote)
                                ++n;
                    } else {
                        // Plain characters only record themselves as the previous two and
                        // end a pending "just after =".
                        int r = n;
                        while (!(charClass(s[r]) & CC_TAG_SPECIAL))
                            ++r;
                        if (r > n) {
                            afterEq = false;
                            if (r - n >= 2) {
                                c2 = s[r - 2];
                            } else {
                                c2 = c1;
                            }
                            c1 = s[r - 1];
                            n = r;
                        }
                    }
                } else if (nameStart >= 0 && (type == 0 || type == CMarkup::NODE_PROCESSING_INSTRUCTION)) {
                    // The name of an end tag or PI: nothing but a name end changes the state.
                    while (s[n] && !(charClass(s[n]) & CC_NAME_END))
                        ++n;
                } else if (type >= 0 && type != CMarkup::NODE_DOCUMENT_TYPE && nameStart < 0) {
                    // End tags after their name, comments, CDATA sections and PIs wait for ">".
                    n = scanTo(s, n, '>', '>');
                }
            } else if (inSpace) {
                while (isSpace(s[n]))
                    ++n;
            }
        }
        const char16_t ch = s[n];
        if (!ch) {
            if (inSpace || type == CMarkup::NODE_TEXT) {
                end = n;
                break;
            }
            const char16_t* what = u"tag";
            if (inDoctype || type == CMarkup::NODE_DOCUMENT_TYPE)
                what = u"Doctype";
            else if (type == CMarkup::NODE_ELEMENT)
                what = u"Element tag";
            else if (type == 0)
                what = u"Element end tag";
            else if (type == CMarkup::NODE_CDATA_SECTION)
                what = u"CDATA Section";
            else if (type == CMarkup::NODE_PROCESSING_INSTRUCTION)
                what = u"Processing instruction";
            else if (type == CMarkup::NODE_COMMENT)
                what = u"Comment";
            node.meta = nxFormatString(u"%s at offset %d unterminated", what, node.start);
            type = -1;
            end = n;
            break;
        }
        const unsigned cls = charClass(ch);
        if (nameStart >= 0 && (cls & CC_NAME_END)) {
            if (type == CMarkup::NODE_ELEMENT || type == CMarkup::NODE_PROCESSING_INSTRUCTION) {
                node.meta.assign(s + nameStart, static_cast<std::size_t>(n - nameStart));
            } else {
                token.left = nameStart;
                token.right = n - 1;
            }
            nameStart = -1;
            c1 = c2 = 0;
        }
        if (!termLen) {
            switch (lt) {
            case LT_OPEN:
                lt = LT_NONE;
                if (cls & CC_NAME_START) {
                    type = CMarkup::NODE_ELEMENT;
                    term = u">";
                    termLen = 1;
                    nameStart = n;
                } else if (ch == '/') {
                    type = 0;
                    term = u">";
                    termLen = 1;
                    nameStart = n + 1;
                } else if (ch == '!') {
                    lt = LT_BANG;
                } else if (ch == '?') {
                    type = CMarkup::NODE_PROCESSING_INSTRUCTION;
                    term = u"?>";
                    termLen = 2;
                    nameStart = n + 1;
                } else {
                    fail(u"tag name character");
                }
                continue;
            case LT_BANG:
                lt = LT_NONE;
                if (ch == '-') {
                    lt = LT_DASH;
                } else if (!inDoctype && ch == '[') {
                    lt = LT_BRACKET;
                } else if (!inDoctype && ch == 'D') {
                    inDoctype = true;
                } else if (ch == 'E' || ch == 'A' || ch == 'N') {
                    type = CMarkup::NODE_DOCUMENT_TYPE;
                    term = u">";
                    termLen = 1;
                } else {
                    fail(u"! tag");
                }
                continue;
            case LT_DASH:
                lt = LT_NONE;
                if (ch == '-') {
                    type = CMarkup::NODE_COMMENT;
                    term = u"-->";
                    termLen = 3;
                } else {
                    fail(u"comment tag");
                }
                continue;
            case LT_BRACKET:
                lt = LT_NONE;
                if (ch == 'C') {
                    type = CMarkup::NODE_CDATA_SECTION;
                    term = u"]]>";
                    termLen = 3;
                } else {
                    fail(u"tag");
                }
                continue;
            default:
                break;
            }
            if (inSpace) {
                if (ch == '<') {
                    end = n;
                    break;
                }
                if (!(cls & CC_SPACE)) {
                    inSpace = false;
                    type = CMarkup::NODE_TEXT;
                    term = u"<";
                    termLen = 1;
                }
            } else if (inDoctype) {
                if (ch == '<') {
                    lt = LT_OPEN;
                } else if (ch == '>') {
                    type = CMarkup::NODE_DOCUMENT_TYPE;
                    end = n + 1;
                    break;
                }
            } else if (ch == '<') {
                lt = LT_OPEN;
            } else if (cls & CC_SPACE) {
                inSpace = true;
                type = CMarkup::NODE_WHITESPACE;
            } else {
                type = CMarkup::NODE_TEXT;
                term = u"<";
                termLen = 1;
            }
            continue;
        }
        // A terminator is pending.
        if (ch == '>' && !quote) {
            bool found;
            if (termLen == 1) {
                found = true;
                if (type == CMarkup::NODE_ELEMENT && c1 == '/' &&
                    (c2 == 0 || c2 == '\'' || c2 == '"' || isSpace(c2)))
                    node.nodeFlags |= CMarkup::NODE_EMPTY_ELEMENT;
            } else {
                found = std::memcmp(s + n + 1 - termLen, term, sizeof(char16_t) * termLen) == 0;
            }
            if (found) {
                if (!inDoctype) {
                    end = n + 1;
                    break;
                }
                termLen = 0;
            }
        } else if (ch == '<' && (type == CMarkup::NODE_TEXT || type == -1)) {
            end = n;
            break;
        } else if (type == CMarkup::NODE_ELEMENT || type == -1) {
            if (quote) {
                if (ch == quote)
                    quote = 0;
            } else if (ch == '=' && c1 != '=') {
                afterEq = true;
            } else if (afterEq && !(cls & CC_SPACE)) {
                if (ch == '"' || ch == '\'')
                    quote = ch;
                afterEq = false;
            }
            if (!quote) {
                c2 = c1;
                c1 = ch;
            }
        } else if (type == CMarkup::NODE_DOCUMENT_TYPE) {
            if ((ch == '"' || ch == '\'') && (!quote || quote == ch))
                quote = quote ? 0 : ch;
        }
    }
    token.next = end;
    node.length = end - node.start;
    node.nodeType = type;
    return type;
}

template int parseNodeImpl<true>(CMarkup::TokenPos&, CMarkup::NodePos&);
template int parseNodeImpl<false>(CMarkup::TokenPos&, CMarkup::NodePos&);

}  // namespace nxxml

using namespace nxxml;

int CMarkup::x_ParseNode(TokenPos& token, NodePos& node) {
    return parseNodeImpl<true>(token, node);
}

// ---- the element builder -------------------------------------------------------------------

namespace {

// The open elements of one x_ParseElem run: entry d - 1 holds the start tag (name and offset)
// of the element open at depth d, entry `depth` receives the node being scanned.
struct NodeStack {
    NodeStack() : entries(new CMarkup::NodePos[6]), capacity(6) {}
    ~NodeStack() { delete[] entries; }
    NodeStack(const NodeStack&) = delete;
    NodeStack& operator=(const NodeStack&) = delete;
    void ensure(int top) {
        if (top < capacity)
            return;
        const int grown = 2 * capacity + 6;
        CMarkup::NodePos* bigger = new CMarkup::NodePos[grown];
        for (int i = 0; i < capacity; ++i) {
            bigger[i].nodeType = entries[i].nodeType;
            bigger[i].start = entries[i].start;
            bigger[i].length = entries[i].length;
            bigger[i].nodeFlags = entries[i].nodeFlags;
            bigger[i].meta.swap(entries[i].meta);
        }
        delete[] entries;
        entries = bigger;
        capacity = grown;
    }
    CMarkup::NodePos* entries;
    int capacity;
};


// Finds the open element that an end tag closes. The innermost open element is tried first,
// which is all a well-formed text ever needs. Open elements passed over by a search that found
// nothing (the search for a stray end tag) are then entered into a table keyed by the hash of
// every name they answer to: the whole name and each prefix that ends before "=", "[" or "]"
// (the characters after which MatchName accepts a shorter token), ASCII letters folded when
// case is ignored. Later searches read the elements above the table's depth one by one and then
// look the end tag up, so a run of stray end tags under deep nesting costs one table lookup
// each instead of a walk over every open element. Entries whose element has been closed are
// dropped when a lookup meets them; an entry is current when its depth is still indexed and
// the element open at that depth starts where the entry says.
class OpenNameIndex {
public:
    OpenNameIndex(const NodeStack& stack, bool ignoreCase) : stack_(stack), fold_(ignoreCase) {}

    // The depth (1 = outermost open element) of the innermost open element whose name the
    // end-tag token matches, or 0 when none does.
    int find(const CMarkup::TokenPos& token, int depth) {
        for (int d = depth; d > indexed_; --d)
            if (token.MatchName(name(d)))
                return d;
        if (indexed_ > 0) {
            if (const int d = lookup(token))
                return d;
        }
        for (int d = indexed_ + 1; d <= depth; ++d)
            add(d);
        indexed_ = depth;
        return 0;
    }

    // The open elements deeper than `depth` have been closed.
    void closedBelow(int depth) {
        if (indexed_ > depth)
            indexed_ = depth;
    }

private:
    struct Entry {
        int depth;
        int start;  // offset of the start tag: tells the element from later ones at that depth
    };
    static constexpr std::uint64_t kSeed = 14695981039346656037ULL;
    std::uint64_t step(std::uint64_t h, char16_t c) const {
        if (fold_ && c >= 'A' && c <= 'Z')
            c = static_cast<char16_t>(c + 32);
        return (h ^ c) * 1099511628211ULL;
    }
    const char16_t* name(int d) const { return stack_.entries[d - 1].meta.c_str(); }
    bool current(const Entry& e) const {
        return e.depth <= indexed_ && stack_.entries[e.depth - 1].start == e.start;
    }

    void add(int d) {
        const CMarkup::NodePos& open = stack_.entries[d - 1];
        const Entry entry{d, open.start};
        std::uint64_t h = kSeed;
        for (const char16_t c : open.meta) {
            if (c < 128 && (kCharClass.v[c] & CC_NAME_CONT))
                table_[h].push_back(entry);
            h = step(h, c);
        }
        table_[h].push_back(entry);
    }

    int lookup(const CMarkup::TokenPos& token) {
        std::uint64_t h = kSeed;
        for (int i = token.left; i <= token.right; ++i)
            h = step(h, token.text[i]);
        const auto it = table_.find(h);
        if (it == table_.end())
            return 0;
        // Current entries lie in increasing depth along the list (an element is entered only
        // above every element already entered and still open), so the first one from the back
        // that matches is the innermost. Another name with the same hash is passed over.
        std::vector<Entry>& list = it->second;
        for (std::size_t i = list.size(); i-- > 0;) {
            const Entry e = list[i];
            if (!current(e)) {
                if (i + 1 == list.size())
                    list.pop_back();
                continue;
            }
            if (token.MatchName(name(e.depth)))
                return e.depth;
        }
        return 0;
    }

    const NodeStack& stack_;
    const bool fold_;
    int indexed_ = 0;  // open elements at depths 1..indexed_ are in the table
    std::unordered_map<std::uint64_t, std::vector<Entry>> table_;
};

}  // namespace

int CMarkup::x_ParseElem(int parentIndex, TokenPos& token) {
    token.next = 0;
    resultText.clear();
    NodeStack stack;
    OpenNameIndex openNames(stack, (token.tokenFlags & DOC_IGNORE_CASE) != 0);
    int depth = 0;
    int open = parentIndex;
    const int rootLevel = ELEM(parentIndex).Level();
    int first = 0;
    // Set when levels are no longer depth-exact: children moved up by a repair, or nesting
    // beyond the 16-bit level. The levels are then set again from the tree in one pass.
    bool relevel = false;

    // Gives up the whole run: the records made so far are released and nothing is linked under
    // parentIndex, so no record ever holds a value cut to its field.
    auto refuse = [&](const std::u16string& message) {
        for (int i = first; first && i < freePos; ++i)
            x_ReleasePos(i);
        ElemPos& p = ELEM(parentIndex);
        p.child = 0;
        p.flags = (p.flags & ~ELEM_HAS_LONE_END) | ELEM_ILL_FORMED;
        resultText = message;
        return -1;
    };

    // Closes every element open below depth keepDepth without an end tag. Taken innermost
    // first, each one's children move up to follow it under its parent; done in one pass, every
    // element open at depth keepDepth + 1 .. depth and every child of one of them ends up a
    // child of the element open at keepDepth, in document order, each element visited once.
    std::vector<int> chain;
    auto unendBelow = [&](int keepDepth, const TokenPos* endTag, int endTagStart) {
        if (depth <= keepDepth)
            return;
        ELEM(parentIndex).flags |= ELEM_ILL_FORMED;
        if (resultText.empty()) {
            // The innermost element is reported.
            const std::u16string& name = stack.entries[depth - 1].meta;
            if (endTag) {
                const std::u16string endName = x_GetToken(*endTag);
                resultText = nxFormatString(
                    u"End tag '%s' at offset %d does not match start tag '%s' at offset %d",
                    endName.c_str(), endTagStart + 1, name.c_str(), ELEM(open).start);
            } else {
                resultText = nxFormatString(u"Element '%s' at offset %d not ended", name.c_str(),
                                            ELEM(open).start);
            }
        }
        const int count = depth - keepDepth;
        chain.assign(static_cast<std::size_t>(count), 0);
        int index = open;
        for (int i = count - 1; i >= 0; --i) {
            chain[static_cast<std::size_t>(i)] = index;
            index = ELEM(index).parent;
        }
        const int parent = index;  // the element open at keepDepth (or parentIndex)
        const int level = ELEM(chain[0]).Level();
        bool lone = false;
        int last = chain[static_cast<std::size_t>(count - 1)];
        for (int i = 0; i < count; ++i) {
            const int e = chain[static_cast<std::size_t>(i)];
            ElemPos& rec = ELEM(e);
            rec.SetEndTagLen(0);
            rec.flags |= ELEM_UNENDED;
            rec.length = rec.StartTagLen();
            rec.parent = parent;
            rec.SetLevel(level);
            if (rec.flags & ELEM_HAS_LONE_END) {
                rec.flags &= ~ELEM_HAS_LONE_END;
                lone = true;
            }
            const int firstChild = rec.child;
            rec.child = 0;
            rec.next = firstChild;  // an open element is its parent's last child
            if (!firstChild)
                continue;
            const int next = i + 1 < count ? chain[static_cast<std::size_t>(i + 1)] : 0;
            if (!next)
                last = ELEM(firstChild).prev;
            ELEM(firstChild).flags &= ~ELEM_FIRST;
            ELEM(firstChild).prev = e;
            for (int c = firstChild; c && c != next; c = ELEM(c).next)
                ELEM(c).parent = parent;
            relevel = true;  // the moved children's subtrees are one or more levels too deep
        }
        ELEM(ELEM(parent).child).prev = last;
        if (lone)
            ELEM(parent).flags |= ELEM_HAS_LONE_END;
        open = parent;
        depth = keepDepth;
    };

    for (;;) {
        NodePos& node = stack.entries[depth];
        const int type = x_ParseNode(token, node);
        if (type == NODE_ELEMENT) {
            if (node.length > kMaxStartTagLen)
                return refuse(nxFormatString(u"Element tag at offset %d longer than %d units",
                                             node.start, kMaxStartTagLen));
            if (freePos >= kMaxRecords)
                return refuse(nxFormatString(u"Element tag at offset %d exceeds %d elements",
                                             node.start, kMaxRecords));
            const int index = x_GetFreePos();
            if (!first)
                first = index;
            ElemPos& e = ELEM(index);
            ElemPos& p = ELEM(open);
            if (p.child) {
                ElemPos& firstChild = ELEM(p.child);
                const int last = firstChild.prev;
                ELEM(last).next = index;
                e.prev = last;
                firstChild.prev = index;
                e.flags = 0;
            } else {
                p.child = index;
                e.prev = index;
                e.flags = ELEM_FIRST;
            }
            e.parent = open;
            e.child = 0;
            e.next = 0;
            // Deeper than the field holds: a later repair may still bring it up, the final
            // pass decides.
            if (rootLevel + depth > kMaxLevel)
                relevel = true;
            e.SetLevel(rootLevel + depth);
            e.start = node.start;
            e.SetStartTagLen(node.length);
            e.SetEndTagLen(0);
            e.length = node.length;
            if (!(node.nodeFlags & NODE_EMPTY_ELEMENT)) {
                ++depth;
                open = index;
                stack.ensure(depth);
            }
        } else if (type == 0) {
            // An end tag: find the open element it closes, innermost first (tried here, the
            // usual case, before the search). An end tag too long for the record's 10-bit
            // end-tag length closes nothing.
            int d = 0;
            if (node.length <= kMaxEndTagLen)
                d = depth && token.MatchName(stack.entries[depth - 1].meta.c_str())
                        ? depth
                        : openNames.find(token, depth);
            if (d == 0) {
                ELEM(parentIndex).flags |= ELEM_ILL_FORMED;
                ELEM(open).flags |= ELEM_HAS_LONE_END;
                if (resultText.empty()) {
                    const std::u16string endName = x_GetToken(token);
                    resultText = nxFormatString(u"No start tag for end tag '%s' at offset %d",
                                                endName.c_str(), node.start);
                }
            } else {
                int match = open;
                for (int k = depth; k > d; --k)
                    match = ELEM(match).parent;
                const int endStart = node.start;
                const int endLen = node.length;
                unendBelow(d, &token, endStart);
                ElemPos& m = ELEM(match);
                m.length = endStart - m.start + endLen;
                m.SetEndTagLen(endLen);
                open = m.parent;
                --depth;
                openNames.closedBelow(depth);
            }
        } else if (type == -1) {
            ELEM(parentIndex).flags |= ELEM_ILL_FORMED;
            ELEM(open).flags |= ELEM_HAS_LONE_END;
            if (resultText.empty())
                resultText = node.meta;
        } else if (type == -2) {
            unendBelow(0, nullptr, 0);
            break;
        }
    }

    // Every parent was made before its children (a repair only ever moves an element up to an
    // ancestor), so one pass in index order sets each level from its parent's.
    if (relevel) {
        for (int i = first; first && i < freePos; ++i) {
            ElemPos& e = ELEM(i);
            const int level = e.parent == parentIndex ? rootLevel : ELEM(e.parent).Level() + 1;
            if (level > kMaxLevel)
                return refuse(nxFormatString(u"Element at offset %d nested more than %d elements deep",
                                             e.start, kMaxLevel + 1));
            e.SetLevel(level);
        }
    }
    return first;
}

// ---- the document --------------------------------------------------------------------------

bool CMarkup::x_ParseDoc() {
    std::u16string kept;
    kept.swap(resultText);
    x_SetPos(0, 0, 0);
    savedPositions.RemoveAll();
    freePos = 1;
    const std::size_t sizing = docText.size() > static_cast<std::size_t>(kMaxTextLength)
                                   ? 0
                                   : docText.size();
    x_AllocPosArray(toInt(sizing / 64 + 8));
    releasedPos = 0;
    ELEM(0).ClearVirtualParent();
    if (docText.empty()) {
        resultText = u"Empty document";
    } else if (docText.size() > static_cast<std::size_t>(kMaxTextLength)) {
        // Offsets are ints: such a text is not kept, nothing could address it.
        docText.clear();
        docText.shrink_to_fit();
        ELEM(0).flags |= ELEM_ILL_FORMED;
        resultText = nxFormatString(u"Document longer than %d units", kMaxTextLength);
    } else {
        TokenPos token(docText.c_str(), docFlags);
        const int first = x_ParseElem(0, token);
        ELEM(0).length = toInt(docText.size());
        if (first < 0) {
            // Refused: no element is indexed, and the records are free for the next parse.
            freePos = 1;
            releasedPos = 0;
        } else if (!first) {
            resultText = u"No root element";
        } else {
            ELEM(0).child = first;
            if (ELEM(first).next)
                resultText = u"Root element has sibling";
        }
    }
    x_SetPos(0, 0, 0);
    if (!kept.empty()) {
        if (resultText.empty())
            resultText.swap(kept);
        else
            resultText = kept + u", " + resultText;
    }
    return IsWellFormed();
}

bool CMarkup::IsWellFormed() {
    if (positions.GetSize() == 0)
        return false;
    const ElemPos& root = ELEM(0);
    return !(root.flags & ELEM_ILL_FORMED) && root.child && !ELEM(root.child).next;
}

// ---- tokens --------------------------------------------------------------------------------

bool CMarkup::x_FindAny(const char16_t* text, int& n) {
    while (isSpace(text[n]))
        ++n;
    return text[n] != 0;
}

bool CMarkup::x_FindName(TokenPos& token) {
    const char16_t* s = token.text;
    int n = token.next;
    const bool any = x_FindAny(s, n);
    token.left = n;
    if (any) {
        const int from = n;
        while (s[n] && !(charClass(s[n]) & CC_TOKEN_END))
            ++n;
        if (n == from)
            ++n;
    }
    token.next = n;
    token.right = n - 1;
    return any;
}

std::u16string CMarkup::x_GetToken(const TokenPos& token) {
    if (token.right < token.left)
        return std::u16string();
    return std::u16string(token.text + token.left, static_cast<std::size_t>(token.Length()));
}

bool CMarkup::TokenPos::MatchName(const char16_t* tagName) const {
    if (!tagName)
        return false;
    const int len = right < left ? 0 : right - left + 1;
    const char16_t* t = text + left;
    const bool fold = (tokenFlags & DOC_IGNORE_CASE) != 0;
    for (int i = 0; i < len; ++i) {
        const char16_t c = tagName[i];
        if (c == t[i] && c)
            continue;
        if (!c || !fold || !unitsEqual(t + i, tagName + i, 1, true))
            return false;
    }
    const char16_t after = tagName[len];
    return after == 0 || (after < 128 && (kCharClass.v[after] & CC_NAME_CONT));
}

