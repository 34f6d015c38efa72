// The parser: node scanning, element building with repair of damaged structure, the messages
// (with offsets) for the first problem of a document, and the attribute tokenizer.
#include "markup_check.h"
#include "support/test_support.h"
#include "xml/parse_node.h"
#include "xml/xml_internal.h"

#include <gtest/gtest.h>

#include <iterator>
#include <vector>
#include <random>
#include <tuple>
#include <utility>

using nxtest::MarkupInspector;
using nxtest::narrow;
using Token = CMarkup::TokenPos;

namespace {

// The scanner's forms: with fast runs, one character at a time, and as the parser runs it (the
// start tag's name left in the token).
enum class Form { Fast, OneChar, Parser };

// Every node of the text as "type@start+length", "e" for an empty element, the element or PI
// name or the message of a failed node in parentheses, and where the scan went on.
// The parser's form leaves no name of a construct nested in a DOCTYPE: hideDoctypeNames shows
// none for every form.
std::string scanAll(const std::u16string& text, Form form = Form::Fast,
                    bool hideDoctypeNames = false) {
    std::string s;
    Token token(text.c_str(), 0);
    for (;;) {
        CMarkup::NodePos n;
        const int r = form == Form::Fast      ? nxxml::parseNodeImpl<true>(token, n)
                      : form == Form::OneChar ? nxxml::parseNodeImpl<false>(token, n)
                                              : nxxml::scanNodeNameInToken(token, n);
        if (r == -2)
            break;
        if (form == Form::Parser && r == CMarkup::NODE_ELEMENT)
            n.meta.assign(text, static_cast<std::size_t>(token.left),
                          static_cast<std::size_t>(token.right - token.left + 1));
        s += std::to_string(r) + "@" + std::to_string(n.start) + "+" + std::to_string(n.length) +
             ((n.nodeFlags & CMarkup::NODE_EMPTY_ELEMENT) ? "e" : "") +
             (n.meta.empty() || (hideDoctypeNames && r == CMarkup::NODE_DOCUMENT_TYPE)
                  ? ""
                  : "(" + narrow(n.meta) + ")") +
             " ";
        if (n.length == 0)
            break;
    }
    return s + "next " + std::to_string(token.next);
}

}  // namespace

TEST(XmlNodeScanner, SplitsTextIntoTypedNodesAndDescribesFailedOnes) {
    const std::pair<std::u16string, const char*> cases[] = {
        {u"<a>x>y</a>", "1@0+3(a) 2@3+2 2@5+1 0@6+4 "}, {u"  \r\n<a/>", "4@0+4 1@4+4e(a) "},
        {u"<!-- c --><?pi x?><![CDATA[<]]>", "32@0+10 16@10+8(pi) 8@18+13 "},
        {u"<a x=1/>", "1@0+8(a) "}, {u"<a x='>' y=\">\"/><b />", "1@0+16e(a) 1@16+5e(b) "},
        {u"<!DOCTYPE r [ <!ENTITY e \"a>b\"> ]><r/>", "64@0+34 1@34+4e(r) "},
        {u"<!DOCTYPE r SYSTEM \"a>b\">", "64@0+22 2@22+3 "}, {u"<!ELEMENT x>", "64@0+12 "},
        {u"<!-->", "32@0+5 "}, {u"</a >", "0@0+5 "}, {u"<?>", "16@0+3 "},
        // A quote opens after "=" even inside a name; "<!--" and "]]>" may share their units.
        {u"<a=\"b c>\">", "1@0+10(a=\"b) "}, {u"<![CDATA]]>", "8@0+11 "},
        {u"<!ATTLIST a b CDATA \">\">", "64@0+24 "}, {u"x>y", "2@0+2 2@2+1 "},
        {u"  >x<a/>", "2@0+4 1@4+4e(a) "},
        {u"<r><!-x></r>", "1@0+3(r) -1@3+5(Incorrect comment tag at offset 3) 0@8+4 "},
        {u"<>x<a/>", "-1@0+3(Incorrect tag name character at offset 0) 1@3+4e(a) "},
        {u"<!x>", "-1@0+4(Incorrect ! tag at offset 0) "},
        {u"<![x>", "-1@0+5(Incorrect tag at offset 0) "},
        {u"<r><![CDATA[x", "1@0+3(r) -1@3+10(CDATA Section at offset 3 unterminated) "},
        {u"<a", "-1@0+2(Element tag at offset 0 unterminated) "},
        {u"</a", "-1@0+3(Element end tag at offset 0 unterminated) "},
        {u"<?x", "-1@0+3(Processing instruction at offset 0 unterminated) "},
        {u"<!--", "-1@0+4(Comment at offset 0 unterminated) "},
        {u"<!DOCTYPE", "-1@0+9(Doctype at offset 0 unterminated) "},
        {u"<", "-1@0+1(tag at offset 0 unterminated) "},
    };
    for (const auto& [text, nodes] : cases)
        EXPECT_EQ(scanAll(text), nodes + ("next " + std::to_string(text.size()))) << narrow(text);
}

TEST(XmlNodeScanner, FastRunsGiveTheSameNodesAsOneCharacterAtATime) {
    const std::u16string alphabet = u"<<>>//!!?" u"?--[[]]==''\"\"  \n\tabAZ_:CDEN\u00e9x&;";
    std::mt19937 rng(1234);
    for (int round = 0; round < 20000; ++round) {
        std::u16string text;
        for (int i = 1 + static_cast<int>(rng() % 40); i > 0; --i)
            text += alphabet[rng() % alphabet.size()];
        const std::string nodes = scanAll(text, Form::OneChar);
        ASSERT_EQ(scanAll(text, Form::Fast), nodes) << narrow(text);
        ASSERT_EQ(scanAll(text, Form::Parser, true), scanAll(text, Form::OneChar, true))
            << narrow(text);
    }
}

// Rows: document flags, text, structure, the error ("": well-formed).
TEST(XmlElementBuilder, BuildsTheTreeAndRepairsDamagedStructure) {
    const std::tuple<int, const char16_t*, const char*, const char*> cases[] = {
        {0, u"<?xml version=\"1.0\"?>\r\n<!DOCTYPE r [ <!ELEMENT r ANY> ]>\r\n"
            u"<r>\r\n <a><b/><b>t</b></a>\r\n <!-- c --> <c x=\"1\"/>\r\n</r>\r\n",
         "r@58+55[3/4]{a@64+19[3/4]{b@67+4[4/0] b@71+8[3/4] } c@97+10[10/0] } ", ""},
        {0, u"<a/><b/>", "a@0+4[4/0] b@4+4[4/0] ", "Root element has sibling"},
        {0, u"text only", "", "No root element"},
        {0, u"<!-x>", "", "No root element"},
        {0, u"", "", "Empty document"},
        {0, u"<a x=1/>", "a@0+8[8/0]! ", "Element 'a' at offset 0 not ended"},
        {0, u"<r><![CDATA[x", "r@0+3[3/0]! ", "CDATA Section at offset 3 unterminated"},
        {0, u"<A></a>", "A@0+3[3/0]! ", "No start tag for end tag 'a' at offset 3"},
        {CMarkup::DOC_IGNORE_CASE, u"<A></a>", "A@0+7[3/4] ", ""},
        // A lone end tag marks its parent; an unended parent hands the mark on to its own
        // parent with its children, in document order.
        {0, u"<r><a></x></a></r>", "r@0+18[3/4]{a@3+11[3/4]~ } ",
         "No start tag for end tag 'x' at offset 6"},
        {0, u"<a><b><c/></b2></a>", "a@0+19[3/4]~{b@3+3[3/0]! c@6+4[4/0] } ",
         "No start tag for end tag 'b2' at offset 10"},
        {0, u"<r><a>1<b>2<c/><d>3<e/></r>",
         "r@0+27[3/4]{a@3+3[3/0]! b@7+3[3/0]! c@11+4[4/0] d@15+3[3/0]! e@19+4[4/0] } ",
         "End tag 'r' at offset 24 does not match start tag 'd' at offset 15"},
    };
    for (const auto& [flags, text, structure, error] : cases) {
        SCOPED_TRACE(narrow(text));
        MarkupInspector doc(flags);
        EXPECT_EQ(doc.SetDoc(text), !*error);
        EXPECT_EQ(doc.Structure(), structure);
        EXPECT_EQ(narrow(doc.GetError()), error);
        EXPECT_EQ(doc.CheckIndex(), "");
        EXPECT_EQ(doc.GetDocFlags(), flags);
    }
}

TEST(XmlElementBuilder, RepairsDeepNestingAndRefusesWhatARecordCannotHold) {
    // Deep nesting without end tags is repaired in one pass per mismatch, not once per level.
    std::u16string deep = u"<root>", open;
    for (int i = 0; i < 100000; ++i) {
        deep += u"<a><x/>";
        open += u"<a>";
    }
    MarkupInspector doc;
    EXPECT_FALSE(doc.SetDoc(deep + u"</root>"));
    EXPECT_EQ(doc.CheckIndex(), "");
    EXPECT_EQ(doc.FreePos(), 200002);
    EXPECT_FALSE(doc.SetDoc(open));
    EXPECT_EQ(narrow(doc.GetError()), "Root element has sibling");  // all became top-level
    EXPECT_EQ(doc.CheckIndex(), "");
    // An end tag too long for a record closes nothing.
    const std::u16string name(600, u'n');
    EXPECT_FALSE(doc.SetDoc(u"<" + name + u"></" + name + u">"));
    EXPECT_EQ(doc.CheckIndex(), "");

    // A start tag of 4,194,303 units is the longest a record holds; one unit more and the
    // document is refused whole (no element indexed, the text kept), never indexed with a cut
    // length. Nesting: levels 0 to 65,535, so 65,536 elements deep at most; what a repair
    // brings back up (the 100,000 unclosed elements above) counts at its final depth.
    const auto tag = [](std::size_t units) {  // <e v="..." w="x"/> of that many units
        return u"<e v=\"" + std::u16string(units - 15, u'v') + u"\" w=\"x\"/>";
    };
    const std::tuple<std::u16string, bool, const char*> limits[] = {
        {u"<r>" + tag(4194303) + u"</r>", true, ""},
        {u"<r>" + tag(4194304) + u"</r>", false, "Element tag at offset 3 longer than 4194303 units"},
        {nxtest::nested(65536), true, ""},
        {nxtest::nested(65537), false, "Element at offset 196608 nested more than 65536 elements deep"},
    };
    for (const auto& [text, accepted, error] : limits) {
        SCOPED_TRACE(text.size());
        EXPECT_EQ(doc.SetDoc(text), accepted);
        EXPECT_EQ(narrow(doc.GetError()), error);
        EXPECT_EQ(doc.CheckIndex(), "");
        EXPECT_EQ(doc.GetDoc(), text);
        EXPECT_EQ(doc.FindElem(), accepted);
    }
    // The longest start tag is read exactly, also behind its 4 MiB value.
    ASSERT_TRUE(doc.SetDoc(u"<r>" + tag(4194303) + u"</r>") && doc.FindElem() && doc.IntoElem() &&
                doc.FindElem());
    EXPECT_EQ(doc.GetAttrib(u"w"), u"x");
    EXPECT_EQ(doc.GetAttrib(u"v").size(), 4194288u);
    EXPECT_EQ(doc.Elem(doc.MainPos()).StartTagLen(), 4194303);
    ASSERT_TRUE(doc.SetDoc(nxtest::nested(65536)));
    int deepest = 0;
    while (doc.FindElem()) {
        deepest = doc.MainPos();
        doc.IntoElem();
    }
    EXPECT_EQ(doc.Elem(deepest).Level(), 65535);
}

namespace {

// The element builder in its first, straightforward form, kept as the reference for the one in
// the library: every end tag walks the open elements from the innermost outward, and every
// repair lowers the levels of each moved subtree at once. Both are quadratic on long runs of
// stray end tags under deep nesting; the library's builder must give the same records.
class ReferenceBuilder : public MarkupInspector {
public:
    // Indexes `text` under the virtual root, given the level `rootLevel`, with the library's
    // builder or the reference; the builder's result.
    int Build(const std::u16string& text, int flags, int rootLevel, bool reference) {
        docText = text;
        docFlags = flags;
        freePos = 1;
        x_AllocPosArray(static_cast<int>(text.size() / 64 + 8));
        ELEM(0).ClearVirtualParent();
        ELEM(0).SetLevel(rootLevel);
        TokenPos token(docText.c_str(), docFlags);
        return reference ? ParseElem(0, token) : x_ParseElem(0, token);
    }
    // Every field of every record handed out, then the message.
    std::vector<std::vector<int>> Records() const {
        std::vector<std::vector<int>> all;
        for (int i = 0; i < freePos; ++i) {
            const ElemPos& e = ELEM(i);
            all.push_back({i, e.start, e.length, e.StartTagLen(), e.EndTagLen(), e.flags, e.parent,
                           e.child, e.next, e.prev});
        }
        all.push_back(std::vector<int>(resultText.begin(), resultText.end()));
        return all;
    }

private:
    int ParseElem(int parentIndex, TokenPos& token) {
        resultText.clear();
        std::vector<NodePos> stack(1);
        int depth = 0, open = parentIndex, first = 0;
        const int rootLevel = ELEM(parentIndex).Level();
        const auto unendBelow = [&](int keepDepth, const TokenPos* endTag, int endTagStart) {
            if (depth <= keepDepth)
                return;
            ELEM(parentIndex).flags |= ELEM_ILL_FORMED;
            if (resultText.empty()) {
                const std::u16string& name = stack[depth - 1].meta;
                resultText = endTag ? u"End tag '" + x_GetToken(*endTag) + u"' at offset " +
                                          num(endTagStart + 1) + u" does not match start tag '" +
                                          name + u"' at offset " + num(ELEM(open).start)
                                    : u"Element '" + name + u"' at offset " +
                                          num(ELEM(open).start) + u" not ended";
            }
            for (; depth > keepDepth; --depth) {  // innermost first
                const int e = open;
                ElemPos& rec = ELEM(e);
                const int parent = rec.parent;
                rec.SetEndTagLen(0);
                rec.flags |= ELEM_UNENDED;
                rec.length = rec.StartTagLen();
                if (rec.flags & ELEM_HAS_LONE_END) {
                    rec.flags &= ~ELEM_HAS_LONE_END;
                    ELEM(parent).flags |= ELEM_HAS_LONE_END;
                }
                if (const int firstChild = rec.child) {
                    const int last = ELEM(firstChild).prev;
                    for (int c = firstChild; c; c = ELEM(c).next) {
                        ELEM(c).parent = parent;
                        lowerLevels(c);
                    }
                    rec.child = 0;
                    rec.next = firstChild;
                    ELEM(firstChild).flags &= ~ELEM_FIRST;
                    ELEM(firstChild).prev = e;
                    ELEM(ELEM(parent).child).prev = last;
                }
                open = parent;
            }
        };
        // A lone end tag or a failed node marks the open element.
        const auto loneEnd = [&](const std::u16string& message) {
            ELEM(parentIndex).flags |= ELEM_ILL_FORMED;
            ELEM(open).flags |= ELEM_HAS_LONE_END;
            if (resultText.empty())
                resultText = message;
        };
        for (;;) {
            NodePos& node = stack[static_cast<std::size_t>(depth)];
            const int type = x_ParseNode(token, node);
            if (type == NODE_ELEMENT) {
                const int index = x_GetFreePos();
                first = first ? first : index;
                ElemPos& e = ELEM(index);
                ElemPos& p = ELEM(open);
                if (p.child) {
                    const int last = ELEM(p.child).prev;
                    ELEM(last).next = index;
                    e.prev = last;
                    ELEM(p.child).prev = index;
                    e.flags = 0;
                } else {
                    p.child = index;
                    e.prev = index;
                    e.flags = ELEM_FIRST;
                }
                e.parent = open;
                e.child = e.next = 0;
                e.SetLevel(rootLevel + depth);
                e.start = node.start;
                e.SetStartTagLen(node.length);
                e.SetEndTagLen(0);
                e.length = node.length;
                if (!(node.nodeFlags & NODE_EMPTY_ELEMENT)) {
                    ++depth;
                    open = index;
                    stack.resize(static_cast<std::size_t>(depth) + 1);
                }
            } else if (type == 0) {
                int match = open, d = node.length < 512 ? depth : 0;  // longer ones match nothing
                for (; d > 0; --d, match = ELEM(match).parent)
                    if (token.MatchName(stack[static_cast<std::size_t>(d) - 1].meta.c_str()))
                        break;
                if (d == 0) {
                    loneEnd(u"No start tag for end tag '" + x_GetToken(token) + u"' at offset " +
                            num(node.start));
                } else {
                    const int endStart = node.start, endLen = node.length;
                    unendBelow(d, &token, endStart);
                    ElemPos& m = ELEM(match);
                    m.length = endStart - m.start + endLen;
                    m.SetEndTagLen(endLen);
                    open = m.parent;
                    --depth;
                }
            } else if (type == -1) {
                loneEnd(node.meta);
            } else if (type == -2) {
                unendBelow(0, nullptr, 0);
                return first;
            }
        }
    }
    // An element moved up one level, with its subtree.
    void lowerLevels(int index) {
        ELEM(index).SetLevel(ELEM(index).Level() - 1);
        for (int c = ELEM(index).child; c; c = ELEM(c).next)
            lowerLevels(c);
    }
    static std::u16string num(int n) {
        const std::string s = std::to_string(n);
        return std::u16string(s.begin(), s.end());
    }
};

}  // namespace

// Random damaged documents: start, end and empty tags over a few names that match each other in
// the ways end tags may (case, "[", "="), stray and oversized end tags, text and failed nodes.
TEST(XmlElementBuilder, RepairsExactlyAsTheStraightforwardBuilder) {
    const std::u16string longName(520, u'a');
    const std::u16string pieces[] = {
        u"<a>", u"<a>", u"<b>", u"<b>", u"<A>", u"<ab>", u"<a[1]>", u"<a=x>", u"<c d='1'>",
        u"</a>", u"</b>", u"</A>", u"</ab>", u"</a[1]>", u"</a[>", u"</c>", u"</d>", u"</>",
        u"<a/>", u"<b x=\"/>\"/>", u"t", u" ", u"<!--c-->", u"<>", u"<" + longName + u">",
        u"</" + longName + u">"};
    std::mt19937 rng(4711);
    for (int round = 0; round < 3000; ++round) {
        // Long runs of opening or closing pieces build deep nesting and long repairs.
        std::u16string text;
        const int length = static_cast<int>(rng() % (round % 10 == 0 ? 2000 : 80));
        const std::size_t half = std::size(pieces) / 2;
        for (int i = 0; i < length; ++i) {
            const bool opening = (i / (1 + round % 7)) % 2 == 0;
            text += pieces[rng() % 3 == 0 ? rng() % std::size(pieces)
                                          : (opening ? 0 : 9) + rng() % half % 9];
        }
        const int flags = rng() % 3 == 0 ? int{CMarkup::DOC_IGNORE_CASE} : 0;
        const int rootLevel = static_cast<int>(rng() % 4);
        ReferenceBuilder fast, reference;
        ASSERT_EQ(fast.Build(text, flags, rootLevel, false),
                  reference.Build(text, flags, rootLevel, true))
            << narrow(text);
        ASSERT_EQ(fast.Records(), reference.Records()) << narrow(text);
    }
}

// The tight pass for name="value" tags must agree with the general tokenizer wherever it answers,
// on the whole token (value, next position, the space before the name, the quoted flag).
TEST(XmlTokens, QuickAttributeSearchAgreesWithTheTokenizer) {
    const char16_t* pieces[] = {u" ", u"  ", u"\t", u"\n", u"a", u"id", u"ID", u"i", u"=", u" = ",
                                u"\"", u"'", u"1", u"x y", u">", u"/", u"?", u"/>", u"\u00e9",
                                u"&amp;", u"<", u"[", u"-", u"id=\"7\"", u"a='q'"};
    const char16_t* names[] = {u"id",   u"a",      u"ID",  u"i",  u"id/x",
                               u"a[1]", u"\u00e9", u"i d", u"id="};
    const auto whole = [](const Token& t) {
        return std::make_tuple(t.left, t.right, t.next, t.tokenFlags, t.preSpaceStart,
                               t.preSpaceLength);
    };
    std::mt19937 rng(77);
    int answered = 0;
    for (int round = 0; round < 40000; ++round) {
        std::u16string tag = u"<e";
        for (int i = static_cast<int>(rng() % 12); i > 0; --i)
            tag += pieces[rng() % std::size(pieces)];
        if (rng() % 2)
            tag += u"/>";
        const char16_t* name = names[rng() % std::size(names)];
        const int flags = (rng() % 4 == 0) ? int{CMarkup::DOC_IGNORE_CASE} : 0;
        Token quick(tag.c_str(), flags), general(tag.c_str(), flags);
        quick.next = general.next = 1;
        const nxxml::QuickFind answer = nxxml::quickFindAttrib(quick, name);
        const bool found = nxxml::findAttribByTokens(general, name, 0);
        const std::string at = narrow(tag) + " " + narrow(name);
        if (answer == nxxml::QUICK_UNSURE) {
            EXPECT_EQ(quick.next, 1) << at;  // untouched
            continue;
        }
        ++answered;
        ASSERT_EQ(answer == nxxml::QUICK_FOUND, found) << at;
        ASSERT_TRUE(found ? whole(quick) == whole(general) : quick.next == general.next) << at;
    }
    EXPECT_GT(answered, 4000);  // the common shape is well represented
}
