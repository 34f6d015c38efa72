// Test access to CMarkup's index, an index-consistency checker and a structure dump, shared by
// the XML suites and the parser's fuzz target.
#ifndef NXUTIL_TESTS_XML_MARKUP_CHECK_H
#define NXUTIL_TESTS_XML_MARKUP_CHECK_H

#include "xml/xml.h"

#include <cstdio>
#include <string>
#include <vector>

namespace nxtest {

/// `depth` elements <a>, each the only child of the one before.
inline std::u16string nested(int depth) {
    std::u16string s;
    for (int i = 0; i < depth; ++i)
        s += u"<a>";
    for (int i = 0; i < depth; ++i)
        s += u"</a>";
    return s;
}

/// CMarkup with its protected members opened for tests.
class MarkupInspector : public CMarkup {
public:
    using CMarkup::CMarkup;
    using CMarkup::x_GetPath;

    ElemPos& Elem(int i) const { return ELEM(i); }
    const PosArray& Positions() const { return positions; }
    int MainPos() const { return mainPos; }
    int ChildPos() const { return childPos; }
    int FreePos() const { return freePos; }
    int NodeLength() const { return nodeLength; }

    /// An empty string when the index agrees with the text, else the first inconsistency.
    std::string CheckIndex() const {
        const int textLen = static_cast<int>(docText.size());
        if (positions.GetSize() < freePos || freePos < 1)
            return "record count below freePos";
        const ElemPos& root = ELEM(0);
        if (root.start || root.StartTagLen() || root.EndTagLen() || root.length != textLen)
            return "virtual root does not span the text";
        std::vector<char> seen(static_cast<std::size_t>(freePos), 0);
        std::vector<int> stack{0};  // depth-first, with an explicit stack of parents
        while (!stack.empty()) {
            const int parent = stack.back();
            stack.pop_back();
            const ElemPos& p = ELEM(parent);
            const int first = p.child;
            const int contentEnd = parent ? p.StartAfter() - p.EndTagLen() : textLen;
            int prevEnd = parent ? p.StartContent() : 0, prev = 0, last = 0;
            for (int i = first; i; i = ELEM(i).next) {
                if (i < 1 || i >= freePos)
                    return "link out of range";
                if (seen[i]++)
                    return "record reached twice";
                const ElemPos& e = ELEM(i);
                const int end = e.StartAfter(), endTag = e.EndTagLen();
                // In this order, so that the text is read only inside its bounds.
                const char* problem =
                    (e.flags & ELEM_DELETED) ? "released record is linked"
                    : e.parent != parent ? "parent link"
                    : ((e.flags & ELEM_FIRST) != 0) != (i == first) ? "first-child flag"
                    : (i != first && e.prev != prev) ? "prev link"
                    : (parent && e.Level() != ((p.Level() + 1) & 0xFFFF)) ? "level"
                    : (e.StartTagLen() < 2 || endTag < 0 || e.StartTagLen() + endTag > e.length)
                        ? "tag lengths"
                    : (e.start < prevEnd || end > contentEnd)
                        ? "outside its parent's content or before its previous sibling"
                    : (docText[e.start] != u'<' || docText[e.start + e.StartTagLen() - 1] != u'>')
                        ? "start tag does not match the text"
                    : (endTag && (docText[end - endTag] != u'<' || docText[end - 1] != u'>'))
                        ? "end tag does not match the text"
                        : nullptr;
                if (problem) {
                    char buf[200];
                    std::snprintf(buf, sizeof buf, "record %d (start %d length %d tags %d/%d): %s",
                                  i, e.start, e.length, e.StartTagLen(), endTag, problem);
                    return buf;
                }
                prevEnd = end;
                prev = last = i;
                stack.push_back(i);
            }
            if (first && ELEM(first).prev != last)  // the first child's prev names the last one
                return "first child's prev does not name the last child";
        }
        for (int i = 1; i < freePos; ++i)
            if (!seen[i] && ELEM(i).flags != ELEM_DELETED)
                return "record " + std::to_string(i) + " neither linked nor released";
        if (mainPos && (mainPos >= freePos || ELEM(mainPos).parent != parentPos))
            return "main position is not a child of the parent position";
        if (childPos && (childPos >= freePos || ELEM(childPos).parent != mainPos))
            return "child position is not a child of the main position";
        return std::string();
    }

    /// The element tree under `parent` as text: name@start+length[startTagLen/endTagLen]
    /// {children}, with "!" after unended elements and "~" after parents of lone end tags.
    std::string Structure(int parent = 0) const {
        std::string out;
        for (int i = ELEM(parent).child; i; i = ELEM(i).next) {
            const ElemPos& e = ELEM(i);
            TokenPos token(docText.c_str(), docFlags);
            token.next = e.start + 1;
            x_FindName(token);
            for (char16_t c : x_GetToken(token))
                out += c < 128 ? static_cast<char>(c) : '?';
            char buf[80];
            std::snprintf(buf, sizeof buf, "@%d+%d[%d/%d]%s%s", e.start, e.length, e.StartTagLen(),
                          e.EndTagLen(), (e.flags & ELEM_UNENDED) ? "!" : "",
                          (e.flags & ELEM_HAS_LONE_END) ? "~" : "");
            out += buf + (e.child ? "{" + Structure(i) + "}" : "") + " ";
        }
        return out;
    }
};

}  // namespace nxtest

#endif
