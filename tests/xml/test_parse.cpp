// The parser: node scanning, element building with repair of damaged structure, the messages
// (with offsets) for the first problem of a document, and the attribute tokenizer.
#include "markup_check.h"
#include "support/test_support.h"
#include "xml/parse_node.h"
#include "xml/xml_internal.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <tuple>
#include <utility>

using nxtest::MarkupInspector;
using nxtest::narrow;
using Token = CMarkup::TokenPos;

namespace {

// Every node of the text as "type@start+length", "e" for an empty element, the element or PI
// name or the message of a failed node in parentheses, and where the scan went on.
std::string scanAll(const std::u16string& text, bool fast = true) {
    std::string s;
    Token token(text.c_str(), 0);
    for (;;) {
        CMarkup::NodePos n;
        const int r =
            fast ? nxxml::parseNodeImpl<true>(token, n) : nxxml::parseNodeImpl<false>(token, n);
        if (r == -2)
            break;
        s += std::to_string(r) + "@" + std::to_string(n.start) + "+" + std::to_string(n.length) +
             ((n.nodeFlags & CMarkup::NODE_EMPTY_ELEMENT) ? "e" : "") +
             (n.meta.empty() ? "" : "(" + narrow(n.meta) + ")") + " ";
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
        {u"<!-->", "32@0+5 "}, {u"</a >", "0@0+5 "},
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
        ASSERT_EQ(scanAll(text, true), scanAll(text, false)) << narrow(text);
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

TEST(XmlElementBuilder, RepairsDeepNestingAndOversizedEndTags) {
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
