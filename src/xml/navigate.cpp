// The read side of the cursor: finding elements and nodes, stepping in and out, and reading
// names, attributes, data, raw content and sub-documents at the main or child position.
#include "xml/xml_internal.h"
#include "format/format.h"

using namespace nxxml;

namespace {

std::u16string slice(const std::u16string& text, int offset, int length) {
    if (length <= 0 || offset < 0 || offset >= toInt(text.size()))
        return std::u16string();
    return text.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
}

}  // namespace

int CMarkup::x_FindElem(int parentIndex, int index, const char16_t* tagName) const {
    int pos = index ? ELEM(index).next : ELEM(parentIndex).child;
    if (!tagName || !*tagName)
        return pos;
    TokenPos token(docText.c_str(), docFlags);
    for (; pos; pos = ELEM(pos).next) {
        token.next = ELEM(pos).start + 1;
        x_FindName(token);
        if (token.MatchName(tagName))
            return pos;
    }
    return 0;
}

bool CMarkup::FindElem(MCD_CSTR tagName) {
    if (positions.GetSize() == 0)
        return false;
    const int found = x_FindElem(parentPos, mainPos, tagName.pcsz);
    if (!found)
        return false;
    x_SetPos(ELEM(found).parent, found, 0);
    return true;
}

bool CMarkup::FindChildElem(MCD_CSTR tagName) {
    if (positions.GetSize() == 0)
        return false;
    if (!mainPos)
        FindElem();
    if (!mainPos)
        return false;
    const int found = x_FindElem(mainPos, childPos, tagName.pcsz);
    if (!found)
        return false;
    x_SetPos(ELEM(mainPos).parent, mainPos, found);
    return true;
}

bool CMarkup::IntoElem() {
    if (!mainPos || nodeType != NODE_ELEMENT)
        return false;
    x_SetPos(mainPos, childPos, 0);
    return true;
}

bool CMarkup::OutOfElem() {
    if (!parentPos)
        return false;
    x_SetPos(ELEM(parentPos).parent, parentPos, mainPos);
    return true;
}

int CMarkup::FindNode(int typeMask) {
    if (positions.GetSize() == 0)
        return 0;
    TokenPos token(docText.c_str(), docFlags);
    if (nodeLength && nodeType != NODE_ELEMENT)
        token.next = nodeOffset + nodeLength;
    else if (mainPos)
        token.next = ELEM(mainPos).StartAfter();
    else if (parentPos) {
        if (ELEM(parentPos).IsEmptyElement())
            return 0;
        token.next = ELEM(parentPos).StartContent();
    }
    const int parentEnd = parentPos ? ELEM(parentPos).StartAfter() - ELEM(parentPos).EndTagLen() : -1;
    int before = mainPos;  // the element that precedes the scan position
    NodePos node;
    for (;;) {
        int type = x_ParseNode(token, node);
        if (type == SCAN_END_OF_TEXT)
            return 0;
        if (type == SCAN_END_TAG) {
            if (node.start == parentEnd)
                return 0;
            type = NODE_LONE_END_TAG;
        } else if (type == SCAN_ERROR) {
            type = NODE_ERROR;
        } else if (type == NODE_ELEMENT) {
            const int elem = before ? ELEM(before).next : ELEM(parentPos).child;
            if (!elem)
                return 0;
            if (!typeMask || (typeMask & NODE_ELEMENT)) {
                x_SetPos(parentPos, elem, 0);
                return NODE_ELEMENT;
            }
            before = elem;
            token.next = ELEM(elem).StartAfter();
            continue;
        }
        if (!typeMask || (typeMask & type)) {
            mainPos = before;
            childPos = 0;
            nodeOffset = node.start;
            nodeLength = node.length;
            nodeType = type;
            return type;
        }
    }
}

std::u16string CMarkup::x_GetTagName(int index) const {
    if (!index)
        return std::u16string();
    TokenPos token(docText.c_str(), docFlags);
    token.next = ELEM(index).start + 1;
    x_FindName(token);
    return x_GetToken(token);
}

std::u16string CMarkup::GetTagName() const {
    if (nodeType == 0 || nodeType == NODE_ELEMENT)
        return x_GetTagName(mainPos);
    TokenPos token(docText.c_str(), docFlags);
    switch (nodeType) {
    case NODE_TEXT:
    case NODE_WHITESPACE:
        return u"#text";
    case NODE_CDATA_SECTION:
        return u"#cdata-section";
    case NODE_COMMENT:
        return u"#comment";
    case NODE_PROCESSING_INSTRUCTION:
    case NODE_LONE_END_TAG:
        token.next = nodeOffset + 2;
        x_FindName(token);
        return x_GetToken(token);
    case NODE_DOCUMENT_TYPE:
        // The declared name follows the keyword.
        token.next = nodeOffset + 2;
        x_FindName(token);
        x_FindName(token);
        return x_GetToken(token);
    default:
        return std::u16string();
    }
}

std::u16string CMarkup::x_GetAttrib(int index, const char16_t* attribName) const {
    TokenPos token(docText.c_str(), docFlags);
    int limit;  // attributes lie before the tag's end
    if (index && nodeType == NODE_ELEMENT) {
        token.next = ELEM(index).start + 1;
        limit = ELEM(index).start + ELEM(index).StartTagLen();
    } else if (index == mainPos && nodeType == NODE_PROCESSING_INSTRUCTION && nodeLength) {
        token.next = nodeOffset + 2;
        limit = nodeOffset + nodeLength;
    } else {
        return std::u16string();
    }
    if (!attribName || !x_FindAttrib(token, attribName) || token.right >= limit)
        return std::u16string();
    return UnescapeText(docText.c_str() + token.left, token.Length());
}

std::u16string CMarkup::GetAttribName(int n) const {
    TokenPos token(docText.c_str(), docFlags);
    int limit;
    if (mainPos && nodeType == NODE_ELEMENT) {
        token.next = ELEM(mainPos).start + 1;
        limit = ELEM(mainPos).start + ELEM(mainPos).StartTagLen();
    } else if (nodeType == NODE_PROCESSING_INSTRUCTION && nodeLength) {
        token.next = nodeOffset + 2;
        limit = nodeOffset + nodeLength;
    } else {
        return std::u16string();
    }
    if (!x_FindAttrib(token, nullptr, n) || token.right >= limit)
        return std::u16string();
    return x_GetToken(token);
}

std::u16string CMarkup::x_GetData(int index) const {
    if (index == mainPos && nodeLength && nodeType != NODE_ELEMENT) {
        switch (nodeType) {
        case NODE_COMMENT:
            return slice(docText, nodeOffset + 4, nodeLength - 7);
        case NODE_PROCESSING_INSTRUCTION:
            return slice(docText, nodeOffset + 2, nodeLength - 4);
        case NODE_CDATA_SECTION:
            return slice(docText, nodeOffset + 9, nodeLength - 12);
        case NODE_LONE_END_TAG:
            return slice(docText, nodeOffset + 2, nodeLength - 3);
        case NODE_TEXT:
            return UnescapeText(docText.c_str() + nodeOffset, nodeLength);
        default:
            return slice(docText, nodeOffset, nodeLength);
        }
    }
    if (!index)
        return std::u16string();
    const ElemPos& e = ELEM(index);
    if (e.child || e.IsEmptyElement())
        return std::u16string();
    const int from = e.StartContent();
    const int len = e.ContentLen();
    if (len <= 0)
        return std::u16string();
    const char16_t* s = docText.c_str();
    bool markup = false;
    for (int i = from; i < from + len && !markup; ++i)
        markup = s[i] == '<';
    if (!markup)
        return UnescapeText(s + from, len);
    // Mixed content: text unescaped and CDATA unwrapped; comments, PIs and white space left out.
    std::u16string out;
    TokenPos token(s, docFlags);
    token.next = from;
    NodePos node;
    while (token.next < from + len) {
        const int type = x_ParseNode(token, node);
        if (type == SCAN_END_OF_TEXT)
            break;
        if (type == NODE_TEXT)
            out += UnescapeText(s + node.start, node.length);
        else if (type == NODE_CDATA_SECTION && node.length >= 12)
            out.append(s + node.start + 9, static_cast<std::size_t>(node.length - 12));
    }
    return out;
}

std::u16string CMarkup::x_GetElemContent(int index) const {
    if (!index)
        return std::u16string();
    const ElemPos& e = ELEM(index);
    return slice(docText, e.StartContent(), e.ContentLen());
}

std::u16string CMarkup::x_GetSubDoc(int index) const {
    if (!index)
        return std::u16string();
    const ElemPos& e = ELEM(index);
    int end = e.StartAfter();
    int p = end;
    if (x_FindAny(docText.c_str(), p) == false || docText[p] == '<')
        end = p;
    return slice(docText, e.start, end - e.start);
}

std::u16string CMarkup::x_GetPath(int index) const {
    std::u16string path;
    for (int pos = index; pos; pos = ELEM(pos).parent) {
        const std::u16string name = x_GetTagName(pos);
        std::u16string part = u"/" + name;
        const int parent = ELEM(pos).parent;
        int number = 1;
        for (int p = x_FindElem(parent, 0, name.c_str()); p && p != pos;
             p = x_FindElem(parent, p, name.c_str()))
            ++number;
        if (number > 1)
            part += nxFormatString(u"[%d]", number);
        path = part + path;
    }
    return path;
}

std::u16string CMarkup::GetDeclaredEncoding(MCD_CSTR doc) {
    const char16_t* s = doc.pcsz;
    if (!s)
        return std::u16string();
    const char16_t* lt = s;
    while (*lt && *lt != '<')
        ++lt;
    if (lt[0] != '<' || lt[1] != '?')
        return std::u16string();
    const char16_t* end = lt + 2;
    while (*end && !(end[0] == '?' && end[1] == '>'))
        ++end;
    if (!*end)
        return std::u16string();
    CMarkup declaration(MCD_CSTR(std::u16string(lt, static_cast<std::size_t>(end + 2 - lt))));
    if (!declaration.FindNode(0))
        return std::u16string();
    return declaration.GetAttrib(u"encoding");
}
