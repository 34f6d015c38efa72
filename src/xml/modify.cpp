// The write side of the cursor: every edit builds its markup as text, splices it into the
// document at one place, shifts the records behind that place and links or releases records.
// Elements added with line breaks are followed by "\r\n"; content added to an element that had
// none goes on lines of its own.
#include "xml/xml_internal.h"
#include "format/format.h"

#include <charconv>
#include <initializer_list>
#include <new>
#include <string_view>

using namespace nxxml;

namespace {

// The longest end tag a record can hold is 511 units ("</" + name + ">").
constexpr int kMaxNameForEndTag = kMaxEndTagLen - 3;

// Can the text take `adding` more units and stay within what offsets address? The margin
// covers the line breaks and the end tag that an insertion may write besides its text.
bool roomFor(const std::u16string& doc, std::size_t adding) {
    const std::size_t limit = static_cast<std::size_t>(kMaxTextLength) - 1024;
    return doc.size() <= limit && adding <= limit - doc.size();
}

std::u16string text16(const char16_t* s) { return s ? std::u16string(s) : std::u16string(); }

// The decimal text of the int forms of the edits.
std::u16string decimal(int value) {
    char digits[16];
    char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return std::u16string(&digits[0], end);
}

// Concatenation by appending into one reserved string.
std::u16string join(std::initializer_list<std::u16string_view> parts) {
    std::size_t size = 0;
    for (std::u16string_view part : parts)
        size += part.size();
    std::u16string out;
    out.reserve(size);
    for (std::u16string_view part : parts)
        out.append(part.data(), part.size());
    return out;
}

// Can content go into `parent`? An empty parent gets an end tag, whose length must fit the
// record's 10-bit field.
bool canOpen(const CMarkup::ElemPos& parent, const std::u16string& text, int parentIndex) {
    if (!parentIndex || !parent.IsEmptyElement())
        return true;
    int n = parent.start + 1;
    while (n < static_cast<int>(text.size()) && text[n] != '>' && text[n] != '/' &&
           !isSpace(text[n]))
        ++n;
    return n - (parent.start + 1) <= kMaxNameForEndTag;
}

}  // namespace

void CMarkup::x_InsertionPlace(int options, int& parent, int& rel, NodePos& node) const {
    if (options & OPT_CHILD) {
        parent = mainPos;
        rel = childPos;
        return;
    }
    parent = parentPos;
    rel = mainPos;
    if (nodeLength && nodeType != NODE_ELEMENT) {
        node.start = nodeOffset;
        node.length = nodeLength;
    }
}

int CMarkup::x_InsertNew(int parentIndex, int& relIndex, NodePos& node) {
    const int flags = node.nodeFlags;
    const bool emptyParent = parentIndex && ELEM(parentIndex).IsEmptyElement();
    const bool contentless = parentIndex && ELEM(parentIndex).ContentLen() == 0;

    // 1. Where the markup goes.
    if (node.length) {
        if (!(flags & OPT_INSERT))
            node.start += node.length;
    } else if (relIndex) {
        node.start = ELEM(relIndex).start;
        if (!(flags & OPT_INSERT))
            node.start += ELEM(relIndex).length;
    } else if (emptyParent) {
        const ElemPos& p = ELEM(parentIndex);
        node.start = (p.flags & ELEM_UNENDED) ? p.StartAfter() : p.StartAfter() - 1;
    } else if (flags & (OPT_REPLACE | OPT_INSERT)) {
        node.start = ELEM(parentIndex).StartContent();
    } else {
        node.start = ELEM(parentIndex).StartAfter() - ELEM(parentIndex).EndTagLen();
    }

    // 2. Keep the layout: go past white space that only leads up to the next tag.
    if (!(flags & (OPT_REPLACE | OPT_NO_LINES)) && !emptyParent) {
        int p = node.start;
        if (!x_FindAny(docText.c_str(), p) || docText[p] == '<')
            node.start = p;
    }

    // 3. The sibling after which a new record is linked.
    if (!node.length) {
        if (flags & OPT_INSERT) {
            if (relIndex)
                relIndex = (ELEM(relIndex).flags & ELEM_FIRST) ? 0 : ELEM(relIndex).prev;
        } else if (!relIndex) {
            const int first = ELEM(parentIndex).child;
            if (first)
                relIndex = ELEM(first).prev;
        }
    }

    // 4. Line breaks.
    std::u16string& text = node.meta;
    int at = node.start;
    node.length = toInt(text.size());
    if (!(flags & OPT_NO_LINES)) {
        if (emptyParent || contentless)
            node.start += 2;
        text += u"\r\n";
    }

    // 5. The splice; node.meta ends up holding exactly the units inserted. Every allocation
    // comes before the first change to the index or the text, so an edit that runs out of
    // memory leaves the document as it was.
    int replaced = 0;
    std::u16string name;
    if (emptyParent) {
        name = x_GetTagName(parentIndex);
        std::u16string wrapped = (flags & OPT_NO_LINES) ? u">" : u">\r\n";
        wrapped += text;
        wrapped += u"</";
        wrapped += name;
        text.swap(wrapped);
    } else if (contentless && !(flags & OPT_REPLACE) && !(flags & OPT_NO_LINES)) {
        text.insert(0, u"\r\n");
    }
    docText.reserve(docText.size() + text.size());
    if (emptyParent) {
        ElemPos& p = ELEM(parentIndex);
        if (p.flags & ELEM_UNENDED) {
            p.flags &= ~ELEM_UNENDED;
            at = p.StartAfter() - 1;
        } else {
            at = p.StartAfter() - 2;
            replaced = 1;
            p.SetStartTagLen(p.StartTagLen() - 1);
        }
        p.SetEndTagLen(toInt(name.size()) + 3);
    } else if (flags & OPT_REPLACE) {
        replaced = ELEM(parentIndex).ContentLen();
    }
    x_DocChange(at, replaced, text);
    return replaced;
}

bool CMarkup::x_AddElem(const char16_t* tagName, const char16_t* value, int options) try {
    if ((options & OPT_CHILD) && !mainPos)
        return false;
    const bool hasValue = value && *value;
    if ((options & OPT_NO_END) && hasValue)
        return false;
    if (!tagName || !*tagName)
        return false;
    const std::u16string name = tagName;
    const int nameLen = toInt(name.size());
    if (nameLen > kMaxNameForEndTag)
        return false;

    int parent;
    int rel;
    NodePos node(options);
    x_InsertionPlace(options, parent, rel, node);

    if (!canOpen(ELEM(parent), docText, parent) || !x_RoomForElement(parent))
        return false;

    int startTagLen;
    int endTagLen = 0;
    int length;
    if (!hasValue) {
        if (options & OPT_NO_END) {
            node.meta = join({u"<", name, u">"});
            startTagLen = nameLen + 2;
        } else if (options & OPT_XHTML_SPACE) {
            node.meta = join({u"<", name, u" />"});
            startTagLen = nameLen + 4;
        } else {
            node.meta = join({u"<", name, u"/>"});
            startTagLen = nameLen + 3;
        }
        length = startTagLen;
    } else {
        const std::u16string data =
            (options & OPT_CDATA) ? x_EncodeCDATASection(value) : EscapeText(value, options);
        node.meta = join({u"<", name, u">", data, u"</", name, u">"});
        if (!roomFor(docText, data.size() + 2 * name.size()))
            return false;
        startTagLen = nameLen + 2;
        endTagLen = nameLen + 3;
        length = toInt(data.size()) + 2 * nameLen + 5;
    }

    const int index = x_GetFreePos();
    const int replaced = x_InsertNew(parent, rel, node);
    ElemPos& e = ELEM(index);
    e.start = node.start;
    e.length = length;
    e.SetStartTagLen(startTagLen);
    e.SetEndTagLen(endTagLen);
    e.flags = (options & OPT_NO_END) ? static_cast<int>(ELEM_UNENDED) : 0;
    e.child = 0;
    x_LinkElem(parent, rel, index);
    x_Adjust(index, toInt(node.meta.size()) - replaced);

    if (options & OPT_CHILD)
        x_SetPos(parentPos, mainPos, index);
    else
        x_SetPos(parent, index, 0);
    return true;
} catch (const std::bad_alloc&) {
    return x_NoMemory();
}

bool CMarkup::x_AddElem(const char16_t* tagName, int value, int options) {
    const std::u16string text = decimal(value);
    return x_AddElem(tagName, text.c_str(), options);
}

bool CMarkup::x_CreateNode(std::u16string& nodeString, int type, const char16_t* nodeText) {
    const std::u16string text = text16(nodeText);
    switch (type) {
    case NODE_ELEMENT:
        nodeString = join({u"<", text, u"/>"});
        return true;
    case NODE_TEXT:
    case NODE_WHITESPACE:
        nodeString = EscapeText(text);
        return true;
    case NODE_CDATA_SECTION:
        if (text.find(u"]]>") != std::u16string::npos)
            return false;
        nodeString = join({u"<![CDATA[", text, u"]]>"});
        return true;
    case NODE_PROCESSING_INSTRUCTION:
        nodeString = join({u"<?", text, u"?>"});
        return true;
    case NODE_COMMENT:
        nodeString = join({u"<!--", text, u"-->"});
        return true;
    case NODE_DOCUMENT_TYPE:
        nodeString = text;
        return true;
    case NODE_LONE_END_TAG:
        return false;
    default:
        nodeString.clear();
        return true;
    }
}

std::u16string CMarkup::x_EncodeCDATASection(const char16_t* data) {
    std::u16string out = u"<![CDATA[";
    const std::u16string text = text16(data);
    std::size_t from = 0;
    for (std::size_t hit; (hit = text.find(u"]]>", from)) != std::u16string::npos; from = hit + 3) {
        out.append(text, from, hit - from);
        out += u"]]]]><![CDATA[>";
    }
    out.append(text, from, std::u16string::npos);
    out += u"]]>";
    return out;
}

bool CMarkup::x_AddNode(int type, const char16_t* nodeText, int options) try {
    if (!(type & (NODE_PROCESSING_INSTRUCTION | NODE_COMMENT | NODE_DOCUMENT_TYPE)))
        options |= OPT_NO_LINES;
    NodePos node(options);
    if (!x_CreateNode(node.meta, type, nodeText))
        return false;
    if (type == NODE_ELEMENT && node.meta.size() < 4)
        return false;  // "<" + "/>" with no name is not an element
    const int parent = parentPos;
    if (!canOpen(ELEM(parent), docText, parent) || !roomFor(docText, node.meta.size()))
        return false;
    // An element's whole text is its start tag.
    if (type == NODE_ELEMENT &&
        (node.meta.size() > static_cast<std::size_t>(kMaxStartTagLen) || !x_RoomForElement(parent)))
        return false;
    int rel = mainPos;
    if (nodeLength && nodeType != NODE_ELEMENT) {
        node.start = nodeOffset;
        node.length = nodeLength;
    }
    const int index = type == NODE_ELEMENT ? x_GetFreePos() : 0;
    const int replaced = x_InsertNew(parent, rel, node);
    const int shift = toInt(node.meta.size()) - replaced;
    if (type == NODE_ELEMENT) {
        ElemPos& e = ELEM(index);
        e.start = node.start;
        e.length = node.length;
        e.SetStartTagLen(node.length);
        e.SetEndTagLen(0);
        e.flags = 0;
        e.child = 0;
        x_LinkElem(parent, rel, index);
        x_AdjustForNode(parent, index, shift);
        x_SetPos(parent, index, 0);
        return true;
    }
    x_AdjustForNode(parent, rel, shift);
    mainPos = rel;
    childPos = 0;
    nodeType = type;
    nodeOffset = node.start;
    nodeLength = node.length;
    return true;
} catch (const std::bad_alloc&) {
    return x_NoMemory();
}

bool CMarkup::x_SetAttrib(int index, const char16_t* attribName, const char16_t* value) try {
    TokenPos token(docText.c_str(), docFlags);
    bool inInstruction = false;
    int limit;  // the tag's closing ">" (or "?>"): every change stays before it
    if (index && nodeType == NODE_ELEMENT) {
        token.next = ELEM(index).start + 1;
        limit = ELEM(index).start + ELEM(index).StartTagLen() - 1;
    } else if (index == mainPos && nodeType == NODE_PROCESSING_INSTRUCTION && nodeLength) {
        token.next = nodeOffset + 2;
        limit = nodeOffset + nodeLength - 2;
        inInstruction = true;
    } else {
        return false;
    }
    if (!attribName || !*attribName)
        return false;
    // Before the quoted value: nothing when a value is replaced, "=" after a bare name and
    // " name=" for a new attribute.
    std::u16string lead;
    int at;
    int replaced;
    if (x_FindAttrib(token, attribName)) {
        if (token.tokenFlags & TOKEN_QUOTED) {
            at = token.left - 1;
            replaced = token.next - at;
        } else if (token.left == token.preSpaceStart + token.preSpaceLength) {
            // A bare name: keep it and give it the value.
            at = token.right + 1;
            replaced = 0;
            lead = u"=";
        } else {
            at = token.left;
            replaced = token.Length();
        }
    } else {
        lead = join({u" ", attribName, u"="});
        at = token.next;
        replaced = 0;
    }
    const std::u16string text = join({lead, u"\"", EscapeText(value, OPT_ESCAPE_QUOTES), u"\""});
    // A damaged tag (such as an unquoted value that swallows the ">") can lead the search past
    // the tag; nothing is changed then.
    if (at + replaced > limit || !roomFor(docText, text.size()))
        return false;
    // The start tag may not outgrow its record's 22-bit length.
    if (!inInstruction && static_cast<long long>(ELEM(index).StartTagLen()) +
                                  static_cast<long long>(text.size()) - replaced >
                              kMaxStartTagLen)
        return false;
    x_DocChange(at, replaced, text);
    const int shift = toInt(text.size()) - replaced;
    if (inInstruction) {
        x_AdjustForNode(parentPos, mainPos, shift);
        nodeLength += shift;
    } else {
        ElemPos& e = ELEM(index);
        e.SetStartTagLen(e.StartTagLen() + shift);
        e.length += shift;
        x_Adjust(index, shift, false);
    }
    return true;
} catch (const std::bad_alloc&) {
    return x_NoMemory();
}

bool CMarkup::x_SetAttrib(int index, const char16_t* attribName, int value) {
    const std::u16string text = decimal(value);
    return x_SetAttrib(index, attribName, text.c_str());
}

bool CMarkup::x_SetData(int index, const char16_t* data, int options) try {
    if (index == mainPos && nodeLength && nodeType != NODE_ELEMENT) {
        std::u16string text;
        if (!x_CreateNode(text, nodeType, data) || !roomFor(docText, text.size()))
            return false;
        x_DocChange(nodeOffset, nodeLength, text);
        x_AdjustForNode(parentPos, mainPos, toInt(text.size()) - nodeLength);
        nodeLength = toInt(text.size());
        return true;
    }
    if (!index || ELEM(index).child || !canOpen(ELEM(index), docText, index))
        return false;
    NodePos node(OPT_REPLACE | OPT_NO_LINES);
    node.meta = (options & OPT_CDATA) ? x_EncodeCDATASection(data) : EscapeText(data, options);
    if (!roomFor(docText, node.meta.size()))
        return false;
    int rel = 0;
    const int replaced = x_InsertNew(index, rel, node);
    const int shift = toInt(node.meta.size()) - replaced;
    x_Adjust(index, shift, true);
    ElemPos& e = ELEM(index);
    e.length += shift;
    e.flags &= ~ELEM_HAS_LONE_END;
    return true;
} catch (const std::bad_alloc&) {
    return x_NoMemory();
}

bool CMarkup::x_SetData(int index, int value) {
    const std::u16string text = decimal(value);
    return x_SetData(index, text.c_str(), 0);
}

bool CMarkup::x_RoomForElement(int parentIndex) const {
    return freePos < kMaxRecords && (!parentIndex || ELEM(parentIndex).Level() < kMaxLevel);
}

int CMarkup::x_SubDocParent(int level) {
    const int temp = x_GetFreePos();
    ELEM(temp).ClearVirtualParent();
    ELEM(temp).SetLevel(level);  // cut when too deep; x_SubDocFits then refuses any element
    return temp;
}

bool CMarkup::x_SubDocFits(int temp, int first, int level) {
    if (first > 0 && level > kMaxLevel) {
        for (int i = first; i < freePos; ++i)
            x_ReleasePos(i);
        resultText = nxFormatString(u"Element at offset %d nested more than %d elements deep",
                                    ELEM(first).start, kMaxLevel + 1);
        first = -1;
    }
    if (first >= 0)
        return true;
    x_ReleasePos(temp);
    return false;
}

bool CMarkup::x_SetElemContent(const char16_t* content) try {
    if (!mainPos || (nodeLength && nodeType != NODE_ELEMENT) ||
        !canOpen(ELEM(mainPos), docText, mainPos))
        return false;
    const int main = mainPos;
    const std::u16string text = text16(content);
    if (!roomFor(docText, text.size()))
        return false;

    // Parse the content on its own under a temporary record; offsets are relative to it.
    // Content the index cannot hold is refused before anything changes.
    const int temp = x_SubDocParent(ELEM(main).Level() + 1);
    TokenPos token(text.c_str(), docFlags);
    const int first = x_ParseElem(temp, token);
    if (!x_SubDocFits(temp, first, ELEM(main).Level() + 1))
        return false;
    if (int child = ELEM(main).child) {
        while (child)
            child = x_ReleaseSubDoc(child);
        ELEM(main).child = 0;
        x_CheckSavedPos();
    }
    const bool wellFormed = !(ELEM(temp).flags & ELEM_ILL_FORMED);
    if (ELEM(temp).flags & ELEM_HAS_LONE_END)
        ELEM(main).flags |= ELEM_HAS_LONE_END;
    else
        ELEM(main).flags &= ~ELEM_HAS_LONE_END;

    NodePos node(OPT_REPLACE | OPT_NO_LINES);
    node.meta = text;
    int rel = 0;
    const int replaced = x_InsertNew(main, rel, node);
    if (first) {
        ELEM(first).start += node.start;
        x_Adjust(first, node.start, false);
        for (int k = first; k; k = ELEM(k).next)
            ELEM(k).parent = main;
    }
    ELEM(main).child = first;
    x_ReleasePos(temp);
    const int shift = toInt(node.meta.size()) - replaced;
    x_Adjust(main, shift, true);
    ELEM(main).length += shift;
    x_SetPos(parentPos, main, 0);
    return wellFormed;
} catch (const std::bad_alloc&) {
    return x_NoMemory();
}

bool CMarkup::x_AddSubDoc(const char16_t* subDoc, int options) try {
    if ((options & OPT_CHILD) && !mainPos)
        return false;
    int parent;
    int rel;
    NodePos node(options);
    x_InsertionPlace(options, parent, rel, node);

    const std::u16string text = text16(subDoc);
    if (!canOpen(ELEM(parent), docText, parent) || !roomFor(docText, text.size()))
        return false;
    // Top-level elements stay at level 0: the virtual root's children are not one level down.
    const int baseLevel = parent ? ELEM(parent).Level() + 1 : 0;
    const int temp = x_SubDocParent(baseLevel);
    TokenPos token(text.c_str(), docFlags);
    const int first = x_ParseElem(temp, token);
    if (!x_SubDocFits(temp, first, baseLevel))
        return false;
    bool wellFormed = first && !(ELEM(temp).flags & ELEM_ILL_FORMED);
    if (ELEM(temp).flags & ELEM_HAS_LONE_END)
        ELEM(parent).flags |= ELEM_HAS_LONE_END;
    const int last = first ? ELEM(first).prev : 0;
    int stretchStart = 0;
    if (wellFormed) {
        stretchStart = ELEM(first).start;
        node.meta = text.substr(static_cast<std::size_t>(stretchStart),
                                static_cast<std::size_t>(ELEM(last).StartAfter() - stretchStart));
        if (ELEM(first).next)
            wellFormed = false;
    } else {
        node.meta = text;
        node.nodeFlags |= OPT_NO_LINES;
    }

    const int replaced = x_InsertNew(parent, rel, node);
    const int shift = toInt(node.meta.size()) - replaced;
    if (first) {
        const int delta = node.start - stretchStart;
        if (delta) {
            ELEM(first).start += delta;
            x_Adjust(first, delta, false);
        }
        int after = rel;
        for (int k = first; k;) {
            const int next = ELEM(k).next;
            x_LinkElem(parent, after, k);
            after = k;
            k = next;
        }
        x_ReleasePos(temp);
        x_Adjust(last, shift, true);
    } else {
        x_ReleasePos(temp);
        x_AdjustForNode(parent, rel, shift);
    }
    if (options & OPT_CHILD)
        x_SetPos(parentPos, mainPos, first);
    else
        x_SetPos(parent, first, 0);
    return wellFormed;
} catch (const std::bad_alloc&) {
    return x_NoMemory();
}

int CMarkup::x_RemoveElem(int index) {
    const ElemPos& e = ELEM(index);
    const int start = e.start;
    int length = e.length;
    int p = start + length;
    if (!x_FindAny(docText.c_str(), p) || docText[p] == '<')
        length = p - start;
    x_DocChange(start, length, std::u16string());
    x_Adjust(index, -length, true);
    const int prev = x_UnlinkElem(index);
    x_CheckSavedPos();
    return prev;
}

bool CMarkup::RemoveElem() try {
    if (!mainPos || nodeType != NODE_ELEMENT)
        return false;
    const int prev = x_RemoveElem(mainPos);
    x_SetPos(parentPos, prev, 0);
    return true;
} catch (const std::bad_alloc&) {
    return x_NoMemory();
}

bool CMarkup::RemoveChildElem() try {
    if (!childPos)
        return false;
    const int prev = x_RemoveElem(childPos);
    x_SetPos(parentPos, mainPos, prev);
    return true;
} catch (const std::bad_alloc&) {
    return x_NoMemory();
}

void CMarkup::x_RemoveNode(int parentIndex, int& index, int& type, int& offset, int& length) {
    int nodeStart;
    int nodeLen;
    const int removedType = type;
    if (type == NODE_ELEMENT) {
        nodeStart = ELEM(index).start;
        nodeLen = ELEM(index).length;
        index = x_UnlinkElem(index);
        x_CheckSavedPos();
    } else {
        nodeStart = offset;
        nodeLen = length;
    }

    // The node just before the removed one becomes current.
    TokenPos token(docText.c_str(), docFlags);
    token.next = index ? ELEM(index).StartAfter() : (parentIndex ? ELEM(parentIndex).StartContent() : 0);
    NodePos node;
    bool any = false;
    while (token.next < nodeStart) {
        int t = x_ParseNode(token, node);
        if (t == SCAN_END_OF_TEXT)
            break;
        // An end tag or a failed stretch is reported with the types FindNode gives them.
        if (t == SCAN_END_TAG)
            t = NODE_LONE_END_TAG;
        else if (t == SCAN_ERROR)
            t = NODE_ERROR;
        any = true;
        type = t;
        offset = node.start;
        length = node.length;
        if (offset + length > nodeStart) {
            // Character data running into the removed node (text written next to white space
            // by AddNode scans as one node): keep only the part before it.
            length = nodeStart - offset;
            int p = offset;
            while (p < nodeStart && isSpace(docText[p]))
                ++p;
            if (p == nodeStart)
                type = NODE_WHITESPACE;
        }
    }
    if (!any) {
        type = index ? static_cast<int>(NODE_ELEMENT) : 0;
        offset = 0;
        length = 0;
    }

    x_DocChange(nodeStart, nodeLen, std::u16string());
    x_AdjustForNode(parentIndex, index, -nodeLen);

    if (removedType == NODE_LONE_END_TAG) {
        // Clear the parent's mark when no other stray end tag or failed stretch is left.
        const ElemPos& p = ELEM(parentIndex);
        const int from = parentIndex ? p.StartContent() : 0;
        const int to = parentIndex ? p.StartAfter() - p.EndTagLen() : toInt(docText.size());
        token.next = from;
        int child = p.child;
        bool lone = false;
        while (token.next < to) {
            const int t = x_ParseNode(token, node);
            if (t == SCAN_END_OF_TEXT)
                break;
            if (t == NODE_ELEMENT && child) {
                token.next = ELEM(child).StartAfter();
                child = ELEM(child).next;
            } else if ((t == SCAN_END_TAG && node.start < to) || t == SCAN_ERROR) {
                lone = true;
                break;
            }
        }
        if (!lone)
            ELEM(parentIndex).flags &= ~ELEM_HAS_LONE_END;
    }
}

bool CMarkup::RemoveNode() try {
    const bool element = nodeType == NODE_ELEMENT && mainPos;
    if (!element && !(nodeLength && nodeType != NODE_ELEMENT))
        return false;
    int index = mainPos;
    int type = nodeType;
    int offset = nodeOffset;
    int length = nodeLength;
    x_RemoveNode(parentPos, index, type, offset, length);
    mainPos = index;
    childPos = 0;
    nodeType = type;
    nodeOffset = offset;
    nodeLength = length;
    return true;
} catch (const std::bad_alloc&) {
    return x_NoMemory();
}
