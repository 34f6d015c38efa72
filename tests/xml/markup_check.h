// Test access to CMarkup's index, an index-consistency checker and a structure dump, shared by
// the XML suites and the parser's fuzz target.
#ifndef NXUTIL_TESTS_XML_MARKUP_CHECK_H
#define NXUTIL_TESTS_XML_MARKUP_CHECK_H

#include "xml/xml.h"

#include <cstdio>
#include <string>
#include <vector>

namespace nxtest {

/// CMarkup with its protected members opened for tests.
class MarkupInspector : public CMarkup {
public:
    using CMarkup::CMarkup;
    using CMarkup::ElemPos;
    using CMarkup::NodePos;
    using CMarkup::TokenPos;
    using CMarkup::x_AllocPosArray;
    using CMarkup::x_FindAttrib;
    using CMarkup::x_FindName;
    using CMarkup::x_GetPath;
    using CMarkup::x_GetToken;
    using CMarkup::x_ParseNode;
    using CMarkup::x_CheckSavedPos;
    using CMarkup::x_AddElem;

    ElemPos& Elem(int i) const { return ELEM(i); }
    const PosArray& Positions() const { return positions; }
    const SavedPosMap& SavedPositions() const { return savedPositions; }
    int ParentPos() const { return parentPos; }
    int MainPos() const { return mainPos; }
    int ChildPos() const { return childPos; }
    int FreePos() const { return freePos; }
    int NodeOffset() const { return nodeOffset; }
    int NodeLength() const { return nodeLength; }

    /// An empty string when the index agrees with the text, else the first inconsistency.
    std::string CheckIndex() const {
        char buf[200];
        const int textLen = static_cast<int>(docText.size());
        if (positions.GetSize() < freePos || freePos < 1)
            return "record count below freePos";
        const ElemPos& root = ELEM(0);
        if (root.start != 0 || root.StartTagLen() != 0 || root.EndTagLen() != 0 ||
            root.length != textLen)
            return "virtual root does not span the text";
        std::vector<char> seen(static_cast<std::size_t>(freePos), 0);
        // Depth-first over the tree with an explicit stack of parents.
        std::vector<int> stack{0};
        while (!stack.empty()) {
            const int parent = stack.back();
            stack.pop_back();
            const ElemPos& p = ELEM(parent);
            const int contentStart = parent ? p.StartContent() : 0;
            const int contentEnd = parent ? p.start + p.length - p.EndTagLen() : textLen;
            const int first = p.child;
            if (!first)
                continue;
            int prev = ELEM(first).prev;  // the last child
            int last = 0;
            int prevEnd = contentStart;
            for (int i = first; i; i = ELEM(i).next) {
                if (i < 1 || i >= freePos)
                    return "link out of range";
                if (seen[i]++)
                    return "record reached twice";
                const ElemPos& e = ELEM(i);
                std::snprintf(buf, sizeof buf, "record %d (start %d length %d tags %d/%d): ", i,
                              e.start, e.length, e.StartTagLen(), e.EndTagLen());
                const std::string at = buf;
                if (e.flags & ELEM_DELETED)
                    return at + "released record is linked";
                if (e.parent != parent)
                    return at + "parent link";
                if (((e.flags & ELEM_FIRST) != 0) != (i == first))
                    return at + "first-child flag";
                if (i != first && e.prev != prev)
                    return at + "prev link";
                const int expectLevel = parent ? (p.Level() + 1) & 0xFFFF : p.Level();
                if (parent && e.Level() != expectLevel)
                    return at + "level";
                if (e.StartTagLen() < 2 || e.EndTagLen() < 0 ||
                    e.StartTagLen() + e.EndTagLen() > e.length)
                    return at + "tag lengths";
                if (e.start < prevEnd || e.start + e.length > contentEnd)
                    return at + "outside its parent's content or before its previous sibling";
                if (docText[e.start] != u'<' || docText[e.start + e.StartTagLen() - 1] != u'>')
                    return at + "start tag does not match the text";
                if (e.EndTagLen() &&
                    (docText[e.start + e.length - e.EndTagLen()] != u'<' ||
                     docText[e.start + e.length - 1] != u'>'))
                    return at + "end tag does not match the text";
                prevEnd = e.start + e.length;
                prev = i;
                last = i;
                stack.push_back(i);
            }
            if (ELEM(first).prev != last)
                return "first child's prev does not name the last child";
        }
        for (int i = 1; i < freePos; ++i)
            if (!seen[i] && ELEM(i).flags != ELEM_DELETED) {
                std::snprintf(buf, sizeof buf, "record %d neither linked nor released", i);
                return buf;
            }
        if (mainPos && (mainPos >= freePos || ELEM(mainPos).parent != parentPos))
            return "main position is not a child of the parent position";
        if (childPos && (childPos >= freePos || ELEM(childPos).parent != mainPos))
            return "child position is not a child of the main position";
        return std::string();
    }

    /// The element tree as text: name@start+length[startTagLen/endTagLen]{children}, with "!"
    /// after unended elements.
    std::string Structure() const {
        std::string out;
        appendChildren(0, out);
        return out;
    }

private:
    void appendChildren(int parent, std::string& out) const {
        for (int i = ELEM(parent).child; i; i = ELEM(i).next) {
            const ElemPos& e = ELEM(i);
            TokenPos token(docText.c_str(), docFlags);
            token.next = e.start + 1;
            x_FindName(token);
            for (char16_t c : x_GetToken(token))
                out += c < 128 ? static_cast<char>(c) : '?';
            char buf[80];
            std::snprintf(buf, sizeof buf, "@%d+%d[%d/%d]%s", e.start, e.length, e.StartTagLen(),
                          e.EndTagLen(), (e.flags & ELEM_UNENDED) ? "!" : "");
            out += buf;
            if (e.child) {
                out += '{';
                appendChildren(i, out);
                out += '}';
            }
            out += ' ';
        }
    }
};

}  // namespace nxtest

#endif
