// The tolerant parser of CMarkup: the element builder that links records and repairs damaged
// structure, the whole-document driver, and the token functions shared with the cursor and
// edit operations. The node scanner it runs is in scanner.cpp, the character table in
// char_table.h.
#include "xml/xml_internal.h"
#include "xml/parse_node.h"
#include "format/format.h"
#include "platform/file.h"

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace nxxml {

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

}  // namespace nxxml

using namespace nxxml;

// ---- the element builder -------------------------------------------------------------------

namespace nxxml {

// The open elements of one parse run: entry d - 1 holds the start tag of the element open at
// depth d, its name given by where it lies in the text.
struct OpenElem {
    int start;      // offset of the start tag's "<"
    int nameStart;  // offset of its name
    int nameLen;
};

class NodeStack {
public:
    NodeStack() = default;
    ~NodeStack() {
        if (entries != inline_)
            delete[] entries;
    }
    NodeStack(const NodeStack&) = delete;
    NodeStack& operator=(const NodeStack&) = delete;
    // Room for entries 0..top.
    void ensure(int top) {
        if (top < capacity)
            return;
        const int grown = 2 * capacity;
        OpenElem* bigger = new OpenElem[static_cast<std::size_t>(grown)];
        std::memcpy(bigger, entries, sizeof(OpenElem) * static_cast<std::size_t>(capacity));
        if (entries != inline_)
            delete[] entries;
        entries = bigger;
        capacity = grown;
    }

private:
    // Most documents nest no deeper than this: their stack takes no allocation.
    static constexpr int kInline = 32;
    OpenElem inline_[kInline];

public:
    OpenElem* entries = inline_;
    int capacity = kInline;
};

// Does the end-tag token match the name of len units at name? As TokenPos::MatchName on that
// name as a string: equal, or a prefix of it that one of " =/[]" follows.
bool matchOpenName(const CMarkup::TokenPos& token, const char16_t* name, int len) {
    const int tokenLen = token.right < token.left ? 0 : token.right - token.left + 1;
    if (tokenLen > len)
        return false;
    const char16_t* t = token.text + token.left;
    int i = 0;  // names are short: a plain loop beats a call
    while (i < tokenLen && t[i] == name[i])
        ++i;
    if (i < tokenLen && !((token.tokenFlags & CMarkup::DOC_IGNORE_CASE) &&
                          unitsEqual(t + i, name + i, tokenLen - i, true)))
        return false;
    if (tokenLen == len)
        return true;
    const char16_t after = name[tokenLen];
    return after < 128 && (kCharClass.v[after] & CC_NAME_CONT);
}

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
    OpenNameIndex(const NodeStack& stack, const char16_t* text, bool ignoreCase)
        : stack_(stack), text_(text), fold_(ignoreCase) {}

    // The depth (1 = outermost open element) of the innermost open element whose name the
    // end-tag token matches, or 0 when none does.
    int find(const CMarkup::TokenPos& token, int depth) {
        for (int d = depth; d > indexed_; --d)
            if (matches(token, d))
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
    bool matches(const CMarkup::TokenPos& token, int d) const {
        const OpenElem& open = stack_.entries[d - 1];
        return matchOpenName(token, text_ + open.nameStart, open.nameLen);
    }
    bool current(const Entry& e) const {
        return e.depth <= indexed_ && stack_.entries[e.depth - 1].start == e.start;
    }

    void add(int d) {
        const OpenElem& open = stack_.entries[d - 1];
        const Entry entry{d, open.start};
        std::uint64_t h = kSeed;
        for (int i = 0; i < open.nameLen; ++i) {
            const char16_t c = text_[open.nameStart + i];
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
            if (matches(token, e.depth))
                return e.depth;
        }
        return 0;
    }

    const NodeStack& stack_;
    const char16_t* text_;
    const bool fold_;
    int indexed_ = 0;  // open elements at depths 1..indexed_ are in the table
    std::unordered_map<std::uint64_t, std::vector<Entry>> table_;
};

}  // namespace nxxml

// Builds the records of the elements that one run of the scanner finds under parentIndex: each
// start tag's record is linked as the last child of the element open at the time, an end tag
// closes the open element it names (innermost first), and what does not nest is repaired.
class CMarkup::ElemBuilder {
public:
    ElemBuilder(CMarkup& doc, int parentIndex, TokenPos& token)
        : doc_(doc),
          token_(token),
          openNames_(stack_, token.text, (token.tokenFlags & DOC_IGNORE_CASE) != 0),
          parentIndex_(parentIndex),
          open_(parentIndex),
          rootLevel_(doc.ELEM(parentIndex).Level()) {}
    int run();

private:
    ElemPos& elem(int i) const { return doc_.ELEM(i); }
    bool openName(int d, const TokenPos& endTag) const {
        const OpenElem& open = stack_.entries[d - 1];
        return matchOpenName(endTag, endTag.text + open.nameStart, open.nameLen);
    }
    int refuse(const std::u16string& message);
    bool startTag(const NodePos& node);
    void endTag(const NodePos& node);
    void unendBelow(int keepDepth, const TokenPos* endTag, int endTagStart);
    void reportUnended(const TokenPos* endTag, int endTagStart);
    int setLevels();

    CMarkup& doc_;
    TokenPos& token_;
    NodeStack stack_;
    NodePos node_;  // the node being read
    OpenNameIndex openNames_;
    std::vector<int> chain_;
    const int parentIndex_;
    int depth_ = 0;
    int open_;  // the element open at depth_ (parentIndex_ at depth 0)
    const int rootLevel_;
    int first_ = 0;  // the first record made, 0 while none
    // Set when levels are no longer depth-exact: children moved up by a repair, or nesting
    // beyond the 16-bit level. The levels are then set again from the tree in one pass.
    bool relevel_ = false;
};

int CMarkup::x_ParseElem(int parentIndex, TokenPos& token) {
    token.next = 0;
    resultText.clear();
    return ElemBuilder(*this, parentIndex, token).run();
}

int CMarkup::ElemBuilder::run() {
    NodePos& node = node_;
    for (;;) {
        const int type = scanNodeNameInToken(token_, node);
        if (type == NODE_ELEMENT) {
            if (!startTag(node))
                return -1;
        } else if (type == SCAN_END_TAG) {
            endTag(node);
        } else if (type == SCAN_ERROR) {
            elem(parentIndex_).flags |= ELEM_ILL_FORMED;
            elem(open_).flags |= ELEM_HAS_LONE_END;
            if (doc_.resultText.empty())
                doc_.resultText = node.meta;
        } else if (type == SCAN_END_OF_TEXT) {
            unendBelow(0, nullptr, 0);
            break;
        }
    }
    return relevel_ ? setLevels() : first_;
}

// Gives up the whole run: the records made so far are released and nothing is linked under
// parentIndex, so no record ever holds a value cut to its field.
int CMarkup::ElemBuilder::refuse(const std::u16string& message) {
    for (int i = first_; first_ && i < doc_.freePos; ++i)
        doc_.x_ReleasePos(i);
    ElemPos& p = elem(parentIndex_);
    p.child = 0;
    p.flags = (p.flags & ~ELEM_HAS_LONE_END) | ELEM_ILL_FORMED;
    doc_.resultText = message;
    return -1;
}

// A start tag: its record becomes the last child of the open element, and the element open
// unless the tag ended with "/>". False when the run is refused.
bool CMarkup::ElemBuilder::startTag(const NodePos& node) {
    if (node.length > kMaxStartTagLen)
        return refuse(nxFormatString(u"Element tag at offset %d longer than %d units", node.start,
                                     kMaxStartTagLen)) > 0;
    if (doc_.freePos >= kMaxRecords)
        return refuse(nxFormatString(u"Element tag at offset %d exceeds %d elements", node.start,
                                     kMaxRecords)) > 0;
    const int index = doc_.x_GetFreePos();
    if (!first_)
        first_ = index;
    ElemPos& e = elem(index);
    ElemPos& p = elem(open_);
    if (p.child) {
        ElemPos& firstChild = elem(p.child);
        const int last = firstChild.prev;
        elem(last).next = index;
        e.prev = last;
        firstChild.prev = index;
        e.flags = 0;
    } else {
        p.child = index;
        e.prev = index;
        e.flags = ELEM_FIRST;
    }
    e.parent = open_;
    e.child = 0;
    e.next = 0;
    // Deeper than the field holds: a later repair may still bring it up, the final pass decides.
    if (rootLevel_ + depth_ > kMaxLevel)
        relevel_ = true;
    e.SetLevel(rootLevel_ + depth_);
    e.start = node.start;
    e.SetStartTagLen(node.length);
    e.SetEndTagLen(0);
    e.length = node.length;
    if (!(node.nodeFlags & NODE_EMPTY_ELEMENT)) {
        stack_.ensure(depth_);
        stack_.entries[depth_] = OpenElem{node.start, token_.left, token_.right - token_.left + 1};
        ++depth_;
        open_ = index;
    }
    return true;
}

// An end tag: finds the open element it closes, innermost first (tried here, the usual case,
// before the search). An end tag too long for the record's 10-bit end-tag length closes nothing.
void CMarkup::ElemBuilder::endTag(const NodePos& node) {
    int d = 0;
    if (node.length <= kMaxEndTagLen)
        d = depth_ && openName(depth_, token_) ? depth_ : openNames_.find(token_, depth_);
    if (d == 0) {
        elem(parentIndex_).flags |= ELEM_ILL_FORMED;
        elem(open_).flags |= ELEM_HAS_LONE_END;
        if (doc_.resultText.empty()) {
            const std::u16string endName = x_GetToken(token_);
            doc_.resultText = nxFormatString(u"No start tag for end tag '%s' at offset %d",
                                             endName.c_str(), node.start);
        }
        return;
    }
    int match = open_;
    for (int k = depth_; k > d; --k)
        match = elem(match).parent;
    const int endStart = node.start;
    const int endLen = node.length;
    unendBelow(d, &token_, endStart);
    ElemPos& m = elem(match);
    m.length = endStart - m.start + endLen;
    m.SetEndTagLen(endLen);
    open_ = m.parent;
    --depth_;
    openNames_.closedBelow(depth_);
}

// The first repair of a run is reported, naming the innermost element left without an end.
void CMarkup::ElemBuilder::reportUnended(const TokenPos* endTag, int endTagStart) {
    if (!doc_.resultText.empty())
        return;
    const OpenElem& open = stack_.entries[depth_ - 1];
    const std::u16string name(token_.text + open.nameStart, static_cast<std::size_t>(open.nameLen));
    if (endTag) {
        const std::u16string endName = x_GetToken(*endTag);
        doc_.resultText = nxFormatString(
            u"End tag '%s' at offset %d does not match start tag '%s' at offset %d",
            endName.c_str(), endTagStart + 1, name.c_str(), elem(open_).start);
    } else {
        doc_.resultText = nxFormatString(u"Element '%s' at offset %d not ended", name.c_str(),
                                         elem(open_).start);
    }
}

// Closes every element open below depth keepDepth without an end tag. Taken innermost first,
// each one's children move up to follow it under its parent; done in one pass, every element
// open at depth keepDepth + 1 .. depth and every child of one of them ends up a child of the
// element open at keepDepth, in document order, each element visited once.
void CMarkup::ElemBuilder::unendBelow(int keepDepth, const TokenPos* endTag, int endTagStart) {
    if (depth_ <= keepDepth)
        return;
    elem(parentIndex_).flags |= ELEM_ILL_FORMED;
    reportUnended(endTag, endTagStart);
    const int count = depth_ - keepDepth;
    chain_.assign(static_cast<std::size_t>(count), 0);
    int index = open_;
    for (int i = count - 1; i >= 0; --i) {
        chain_[static_cast<std::size_t>(i)] = index;
        index = elem(index).parent;
    }
    const int parent = index;  // the element open at keepDepth (or parentIndex)
    const int level = elem(chain_[0]).Level();
    bool lone = false;
    int last = chain_[static_cast<std::size_t>(count - 1)];
    for (int i = 0; i < count; ++i) {
        const int e = chain_[static_cast<std::size_t>(i)];
        ElemPos& rec = elem(e);
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
        const int next = i + 1 < count ? chain_[static_cast<std::size_t>(i + 1)] : 0;
        if (!next)
            last = elem(firstChild).prev;
        elem(firstChild).flags &= ~ELEM_FIRST;
        elem(firstChild).prev = e;
        for (int c = firstChild; c && c != next; c = elem(c).next)
            elem(c).parent = parent;
        relevel_ = true;  // the moved children's subtrees are one or more levels too deep
    }
    elem(elem(parent).child).prev = last;
    if (lone)
        elem(parent).flags |= ELEM_HAS_LONE_END;
    open_ = parent;
    depth_ = keepDepth;
}

// Every parent was made before its children (a repair only ever moves an element up to an
// ancestor), so one pass in index order sets each level from its parent's.
int CMarkup::ElemBuilder::setLevels() {
    for (int i = first_; first_ && i < doc_.freePos; ++i) {
        ElemPos& e = elem(i);
        const int level = e.parent == parentIndex_ ? rootLevel_ : elem(e.parent).Level() + 1;
        if (level > kMaxLevel)
            return refuse(nxFormatString(u"Element at offset %d nested more than %d elements deep",
                                         e.start, kMaxLevel + 1));
        e.SetLevel(level);
    }
    return first_;
}

// ---- the document --------------------------------------------------------------------------

namespace {

// The records are sized from the text's length before its elements are known, one per 64
// units; a text with fewer elements gives the room past its last record back (a shrinking
// reallocation of the last segment), keeping an eighth of that segment's records for edits.
// Without memory for that, the records stay as they were.
void trimRecords(CMarkup::PosArray& pa, int used) {
    using PA = CMarkup::PosArray;
    if (pa.size <= 0 || used <= 0)
        return;
    const int lastSeg = (pa.size - 1) >> PA::PA_SEGBITS;
    const int base = lastSeg * PA::PA_SEGSIZE;
    if (used <= base)
        return;
    const int count = pa.size - base;
    const int inLast = used - base;
    const int keep = std::min(count, inLast + inLast / 8 + 8);
    if (count - keep < count / 4)
        return;
    void* smaller = platform::resizeBuffer(pa.segs[lastSeg], sizeof(CMarkup::ElemPos) *
                                                                  static_cast<std::size_t>(keep));
    if (!smaller)
        return;
    pa.segs[lastSeg] = static_cast<CMarkup::ElemPos*>(smaller);
    pa.size = base + keep;
}

}  // namespace

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
    trimRecords(positions, freePos);
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

