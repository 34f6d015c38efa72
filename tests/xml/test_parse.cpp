// The parser: node scanning, element building with repair of damaged structure, and the
// messages (with offsets) that describe the first problem of a document.
#include "markup_check.h"
#include "support/test_support.h"
#include "xml/parse_node.h"
#include "xml/xml_internal.h"

#include <gtest/gtest.h>

#include <random>

using nxtest::MarkupInspector;
using nxtest::narrow;

namespace {

struct ScannedNode {
    int result;
    int start;
    int length;
    int flags;
    std::u16string meta;
};

std::vector<ScannedNode> scanAll(const std::u16string& text, bool fast = true) {
    std::vector<ScannedNode> out;
    MarkupInspector::TokenPos token(text.c_str(), 0);
    for (;;) {
        MarkupInspector::NodePos node;
        const int r = fast ? nxxml::parseNodeImpl<true>(token, node)
                           : nxxml::parseNodeImpl<false>(token, node);
        if (r == -2)
            break;
        out.push_back({r, node.start, node.length, node.nodeFlags, node.meta});
        if (node.length == 0)
            break;
    }
    return out;
}

std::string describe(const std::vector<ScannedNode>& nodes) {
    std::string s;
    for (const ScannedNode& n : nodes)
        s += std::to_string(n.result) + "@" + std::to_string(n.start) + "+" +
             std::to_string(n.length) + ((n.flags & CMarkup::NODE_EMPTY_ELEMENT) ? "e" : "") +
             (n.result == -1 ? "(" + narrow(n.meta) + ")" : "") + " ";
    return s;
}

}  // namespace

TEST(XmlNodeScanner, SplitsTextIntoTypedNodes) {
    struct Case {
        const char16_t* text;
        const char* nodes;
    } cases[] = {
        {u"<a>x>y</a>", "1@0+3 2@3+2 2@5+1 0@6+4 "},
        {u"  \r\n<a/>", "4@0+4 1@4+4e "},
        {u"<!-- c --><?pi x?><![CDATA[<]]>", "32@0+10 16@10+8 8@18+13 "},
        {u"<a x=1/>", "1@0+8 "},
        {u"<a x='1'/><b />", "1@0+10e 1@10+5e "},
        {u"<a x='>'/>", "1@0+10e "},
        {u"<a x=\">\" y>", "1@0+11 "},
        {u"<!DOCTYPE r [ <!ELEMENT r ANY> ]>", "64@0+33 "},
        {u"<!DOCTYPE r [ <!ENTITY e \"a>b\"> ]><r/>", "64@0+34 1@34+4e "},
        {u"<!DOCTYPE r SYSTEM \"a>b\">", "64@0+22 2@22+3 "},
        {u"<!ELEMENT x>", "64@0+12 "},
        {u"ab  c", "2@0+5 "},
        {u"<!-->", "32@0+5 "},
        {u"</a >", "0@0+5 "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(describe(scanAll(c.text)), c.nodes) << narrow(c.text);
}

TEST(XmlNodeScanner, ReportsFailedAndUnterminatedNodes) {
    struct Case {
        const char16_t* text;
        const char* nodes;
    } cases[] = {
        {u"<r><!-x></r>", "1@0+3 -1@3+5(Incorrect comment tag at offset 3) 0@8+4 "},
        {u"< a>", "-1@0+4(Incorrect tag name character at offset 0) "},
        {u"<>x<a/>", "-1@0+3(Incorrect tag name character at offset 0) 1@3+4e "},
        {u"<!x>", "-1@0+4(Incorrect ! tag at offset 0) "},
        {u"<![x>", "-1@0+5(Incorrect tag at offset 0) "},
        {u"<r><![CDATA[x", "1@0+3 -1@3+10(CDATA Section at offset 3 unterminated) "},
        {u"<a", "-1@0+2(Element tag at offset 0 unterminated) "},
        {u"</a", "-1@0+3(Element end tag at offset 0 unterminated) "},
        {u"<?x", "-1@0+3(Processing instruction at offset 0 unterminated) "},
        {u"<!--", "-1@0+4(Comment at offset 0 unterminated) "},
        {u"<!DOCTYPE", "-1@0+9(Doctype at offset 0 unterminated) "},
        {u"<", "-1@0+1(tag at offset 0 unterminated) "},
        {u"< x", "-1@0+3(tag at offset 0 unterminated) "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(describe(scanAll(c.text)), c.nodes) << narrow(c.text);
}

TEST(XmlNodeScanner, CollectsNamesOfStartTagsAndEndTags) {
    const std::u16string text = u"<item a='1'>";
    MarkupInspector::TokenPos token(text.c_str(), 0);
    MarkupInspector::NodePos node;
    EXPECT_EQ(MarkupInspector::x_ParseNode(token, node), CMarkup::NODE_ELEMENT);
    EXPECT_EQ(narrow(node.meta), "item");
    EXPECT_EQ(token.next, 12);

    const std::u16string end = u"</item>";
    MarkupInspector::TokenPos t2(end.c_str(), 0);
    EXPECT_EQ(MarkupInspector::x_ParseNode(t2, node), 0);
    EXPECT_EQ(narrow(MarkupInspector::x_GetToken(t2)), "item");
}

TEST(XmlNodeScanner, FastRunsGiveTheSameNodesAsOneCharacterAtATime) {
    const char16_t alphabet[] = u"<<>>//!!?" u"?--[[]]==''\"\"  \n\tabAZ_:CDEN\u00e9x&;";
    const int alphabetSize = static_cast<int>(sizeof(alphabet) / sizeof(alphabet[0])) - 1;
    std::mt19937 rng(1234);
    for (int round = 0; round < 20000; ++round) {
        std::u16string text;
        const int len = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < len; ++i)
            text += alphabet[rng() % alphabetSize];
        const std::string fast = describe(scanAll(text, true));
        const std::string slow = describe(scanAll(text, false));
        ASSERT_EQ(fast, slow) << narrow(text);
    }
}

TEST(XmlElementBuilder, RepairsUnendedElementsAndLoneEndTags) {
    struct Case {
        const char16_t* doc;
        const char* structure;
        bool wellFormed;
        const char* error;
    } cases[] = {
        {u"<a><b></a>", "a@0+10[3/4]{b@3+3[3/0]! } ", false,
         "End tag 'a' at offset 7 does not match start tag 'b' at offset 3"},
        {u"<a><b><c/></b2></a>", "a@0+19[3/4]{b@3+3[3/0]! c@6+4[4/0] } ", false,
         "No start tag for end tag 'b2' at offset 10"},
        {u"<a/><b/>", "a@0+4[4/0] b@4+4[4/0] ", false, "Root element has sibling"},
        {u"text only", "", false, "No root element"},
        {u"", "", false, "Empty document"},
        {u"<a x=1/>", "a@0+8[8/0]! ", false, "Element 'a' at offset 0 not ended"},
        {u"<a x='1'/>", "a@0+10[10/0] ", true, ""},
        {u"<r><!-x></r>", "r@0+12[3/4] ", false, "Incorrect comment tag at offset 3"},
        {u"<r><![CDATA[x", "r@0+3[3/0]! ", false, "CDATA Section at offset 3 unterminated"},
        {u"<!-x>", "", false, "No root element"},
        {u"<A></a>", "A@0+3[3/0]! ", false, "No start tag for end tag 'a' at offset 3"},
        {u"<r><a><b><c></r>", "r@0+16[3/4]{a@3+3[3/0]! b@6+3[3/0]! c@9+3[3/0]! } ", false,
         "End tag 'r' at offset 13 does not match start tag 'c' at offset 9"},
        {u"<r><a><b/><c></c></r>", "r@0+21[3/4]{a@3+3[3/0]! b@6+4[4/0] c@10+7[3/4] } ", false,
         "End tag 'r' at offset 18 does not match start tag 'a' at offset 3"},
    };
    for (const Case& c : cases) {
        MarkupInspector doc;
        EXPECT_EQ(doc.SetDoc(c.doc), c.wellFormed) << narrow(c.doc);
        EXPECT_EQ(doc.Structure(), c.structure) << narrow(c.doc);
        EXPECT_EQ(narrow(doc.GetError()), c.error) << narrow(c.doc);
        EXPECT_EQ(doc.CheckIndex(), "") << narrow(c.doc);
    }
}

TEST(XmlElementBuilder, FlattensNestedUnendedElementsInDocumentOrder) {
    MarkupInspector doc;
    EXPECT_FALSE(doc.SetDoc(u"<r><a>1<b>2<c/><d>3<e/></r>"));
    EXPECT_EQ(doc.Structure(),
              "r@0+27[3/4]{a@3+3[3/0]! b@7+3[3/0]! c@11+4[4/0] d@15+3[3/0]! e@19+4[4/0] } ");
    EXPECT_EQ(narrow(doc.GetError()),
              "End tag 'r' at offset 24 does not match start tag 'd' at offset 15");
    EXPECT_EQ(doc.CheckIndex(), "");

    // Deep nesting without end tags is repaired in one pass per mismatch, not once per level.
    std::u16string deep = u"<root>";
    for (int i = 0; i < 100000; ++i)
        deep += u"<a><x/>";
    deep += u"</root>";
    EXPECT_FALSE(doc.SetDoc(deep));
    EXPECT_EQ(doc.CheckIndex(), "");
    EXPECT_EQ(doc.FreePos(), 200002);
    std::u16string open;
    for (int i = 0; i < 100000; ++i)
        open += u"<a>";
    EXPECT_FALSE(doc.SetDoc(open));
    EXPECT_EQ(narrow(doc.GetError()), "Root element has sibling");  // all became top-level
    EXPECT_EQ(doc.CheckIndex(), "");
}

TEST(XmlElementBuilder, FlagsTheParentOfLoneEndTagsAndTheIllFormedRoot) {
    MarkupInspector doc;
    EXPECT_FALSE(doc.SetDoc(u"<r><a></x></a></r>"));
    const int r = doc.Elem(0).child;
    const int a = doc.Elem(r).child;
    EXPECT_TRUE(doc.Elem(a).flags & CMarkup::ELEM_HAS_LONE_END);
    EXPECT_FALSE(doc.Elem(r).flags & CMarkup::ELEM_HAS_LONE_END);
    EXPECT_TRUE(doc.Elem(0).flags & CMarkup::ELEM_ILL_FORMED);

    // An unended element hands its lone-end mark to its parent with its children.
    EXPECT_FALSE(doc.SetDoc(u"<r><a></x></r>"));
    const int r2 = doc.Elem(0).child;
    EXPECT_TRUE(doc.Elem(r2).flags & CMarkup::ELEM_HAS_LONE_END);
    EXPECT_FALSE(doc.Elem(doc.Elem(r2).child).flags & CMarkup::ELEM_HAS_LONE_END);
    EXPECT_EQ(doc.CheckIndex(), "");
}

TEST(XmlElementBuilder, MatchesNamesWithoutCaseOnlyWhenAsked) {
    CMarkup plain;
    EXPECT_FALSE(plain.SetDoc(u"<A></a>"));
    CMarkup folded(CMarkup::DOC_IGNORE_CASE);
    EXPECT_TRUE(folded.SetDoc(u"<A></a>"));
    EXPECT_EQ(folded.GetDocFlags(), CMarkup::DOC_IGNORE_CASE);
}

TEST(XmlElementBuilder, BuildsLevelsLinksAndDocumentTypes) {
    MarkupInspector doc;
    ASSERT_TRUE(doc.SetDoc(u"<?xml version=\"1.0\"?>\r\n<!DOCTYPE r [ <!ELEMENT r ANY> ]>\r\n"
                           u"<r>\r\n <a><b/><b>t</b></a>\r\n <!-- c --> <c x=\"1\"/>\r\n</r>\r\n"));
    EXPECT_EQ(doc.CheckIndex(), "");
    EXPECT_EQ(doc.Structure(),
              "r@58+55[3/4]{a@64+19[3/4]{b@67+4[4/0] b@71+8[3/4] } c@97+10[10/0] } ");
    EXPECT_EQ(doc.GetError(), u"");
    EXPECT_EQ(doc.FreePos(), 6);
    // a long end tag closes nothing (the record cannot hold it)
    std::u16string name(600, u'n');
    EXPECT_FALSE(doc.SetDoc(u"<" + name + u"></" + name + u">"));
    EXPECT_EQ(doc.CheckIndex(), "");
}

TEST(XmlElementBuilder, JoinsAKeptReportWithTheFirstParseMessage) {
    // A read report is joined to the parse message with ", " (see the file tests for Load).
    MarkupInspector doc;
    doc.SetDoc(u"<a>");
    EXPECT_EQ(narrow(doc.GetError()), "Element 'a' at offset 0 not ended");
}

TEST(XmlTokens, FindNamesAndAttributes) {
    const std::u16string tag = u"<item id='7' Name = \"x&lt;y\" bare other=v/w>";
    MarkupInspector::TokenPos token(tag.c_str(), 0);
    token.next = 1;
    ASSERT_TRUE(MarkupInspector::x_FindAttrib(token, u"id"));
    EXPECT_EQ(narrow(MarkupInspector::x_GetToken(token)), "7");
    EXPECT_TRUE(token.tokenFlags & CMarkup::TOKEN_QUOTED);

    token.next = 1;
    ASSERT_TRUE(MarkupInspector::x_FindAttrib(token, u"Name"));
    EXPECT_EQ(narrow(MarkupInspector::x_GetToken(token)), "x&lt;y");
    token.next = 1;
    EXPECT_FALSE(MarkupInspector::x_FindAttrib(token, u"name"));
    token.next = 1;
    ASSERT_TRUE(MarkupInspector::x_FindAttrib(token, u"bare"));
    EXPECT_EQ(narrow(MarkupInspector::x_GetToken(token)), "bare");
    token.next = 1;
    ASSERT_TRUE(MarkupInspector::x_FindAttrib(token, u"other"));
    EXPECT_EQ(narrow(MarkupInspector::x_GetToken(token)), "v/w");
    EXPECT_FALSE(token.tokenFlags & CMarkup::TOKEN_QUOTED);

    const char* names[] = {"id", "Name", "bare", "other", ""};
    for (int n = 0; n < 5; ++n) {
        token.next = 1;
        const bool found = MarkupInspector::x_FindAttrib(token, nullptr, n);
        EXPECT_EQ(found, n < 4);
        if (found) {
            EXPECT_EQ(narrow(MarkupInspector::x_GetToken(token)), names[n]);
        }
    }
    // A missing attribute leaves the cursor where a new one would go: before the space of "/>".
    const std::u16string empty = u"<a x='1' />";
    MarkupInspector::TokenPos t2(empty.c_str(), 0);
    t2.next = 1;
    EXPECT_FALSE(MarkupInspector::x_FindAttrib(t2, u"y"));
    EXPECT_EQ(t2.next, 8);
}

// The tight pass for name="value" tags must agree with the general tokenizer wherever it answers,
// on the whole token (value, next position, the space before the name, the quoted flag).
TEST(XmlTokens, QuickAttributeSearchAgreesWithTheTokenizer) {
    const char16_t* pieces[] = {u" ", u"  ", u"\t", u"\n", u"a", u"id", u"ID", u"i", u"=", u" = ",
                                u"\"", u"'", u"1", u"x y", u">", u"/", u"?", u"/>", u"\u00e9",
                                u"&amp;", u"<", u"[", u"-", u"id=\"7\"", u"a='q'"};
    const char16_t* names[] = {u"id", u"a", u"ID", u"i", u"id/x", u"a[1]", u"\u00e9", u"i d", u"id="};
    std::mt19937 rng(77);
    int answered = 0;
    for (int round = 0; round < 40000; ++round) {
        std::u16string tag = u"<e";
        const int n = static_cast<int>(rng() % 12);
        for (int i = 0; i < n; ++i)
            tag += pieces[rng() % (sizeof(pieces) / sizeof(pieces[0]))];
        if (rng() % 2)
            tag += u"/>";
        const char16_t* name = names[rng() % (sizeof(names) / sizeof(names[0]))];
        const int flags = (rng() % 4 == 0) ? int{CMarkup::DOC_IGNORE_CASE} : 0;
        MarkupInspector::TokenPos quick(tag.c_str(), flags);
        MarkupInspector::TokenPos general(tag.c_str(), flags);
        quick.next = general.next = 1;
        const nxxml::QuickFind answer = nxxml::quickFindAttrib(quick, name);
        const bool found = nxxml::findAttribByTokens(general, name, 0);
        if (answer == nxxml::QUICK_UNSURE) {
            EXPECT_EQ(quick.next, 1) << narrow(tag);
            continue;
        }
        ++answered;
        ASSERT_EQ(answer == nxxml::QUICK_FOUND, found) << narrow(tag) << " " << narrow(name);
        ASSERT_EQ(quick.next, general.next) << narrow(tag);
        if (found) {
            EXPECT_EQ(quick.left, general.left) << narrow(tag);
            EXPECT_EQ(quick.right, general.right) << narrow(tag);
            EXPECT_EQ(quick.tokenFlags, general.tokenFlags) << narrow(tag);
            EXPECT_EQ(quick.preSpaceStart, general.preSpaceStart) << narrow(tag);
            EXPECT_EQ(quick.preSpaceLength, general.preSpaceLength) << narrow(tag);
        }
    }
    EXPECT_GT(answered, 4000);  // the common shape is well represented
}

TEST(XmlTokens, MatchNameAcceptsPathContinuations) {
    const std::u16string text = u"item";
    MarkupInspector::TokenPos token(text.c_str(), 0);
    ASSERT_TRUE(MarkupInspector::x_FindName(token));
    EXPECT_TRUE(token.MatchName(u"item"));
    EXPECT_TRUE(token.MatchName(u"item[2]"));
    EXPECT_TRUE(token.MatchName(u"item/x"));
    EXPECT_TRUE(token.MatchName(u"item x"));
    EXPECT_FALSE(token.MatchName(u"items"));
    EXPECT_FALSE(token.MatchName(u"ite"));
    EXPECT_FALSE(token.MatchName(u"ITEM"));
    token.tokenFlags = CMarkup::DOC_IGNORE_CASE;
    EXPECT_TRUE(token.MatchName(u"ITEM"));

    const std::u16string delims = u"  </x";
    MarkupInspector::TokenPos t2(delims.c_str(), 0);
    ASSERT_TRUE(MarkupInspector::x_FindName(t2));
    EXPECT_EQ(narrow(MarkupInspector::x_GetToken(t2)), "<");
    ASSERT_TRUE(MarkupInspector::x_FindName(t2));
    EXPECT_EQ(narrow(MarkupInspector::x_GetToken(t2)), "/");
    ASSERT_TRUE(MarkupInspector::x_FindName(t2));
    EXPECT_EQ(narrow(MarkupInspector::x_GetToken(t2)), "x");
    EXPECT_FALSE(MarkupInspector::x_FindName(t2));
}
