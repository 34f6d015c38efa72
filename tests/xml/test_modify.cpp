// Edits: the exact text each operation writes, the positions it leaves and the index it keeps.
#include "markup_check.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using nxtest::MarkupInspector;
using nxtest::narrow;

namespace {

// Every edit test ends with the index agreeing with the text and with a fresh parse of it.
void expectConsistent(const MarkupInspector& doc) {
    EXPECT_EQ(doc.CheckIndex(), "");
    MarkupInspector fresh(MCD_CSTR(doc.GetDoc()));
    EXPECT_EQ(fresh.Structure(), doc.Structure()) << narrow(doc.GetDoc());
}

}  // namespace

TEST(XmlAddElem, WritesElementsWithLineBreaksOrWithout) {
    MarkupInspector doc(MCD_CSTR(u"<r/>"));
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.AddChildElem(u"b"));
    EXPECT_EQ(narrow(doc.GetDoc()), "<r>\r\n<b/>\r\n</r>");
    EXPECT_EQ(doc.Elem(doc.MainPos()).StartTagLen(), 3);
    EXPECT_EQ(doc.Elem(doc.MainPos()).EndTagLen(), 4);
    EXPECT_EQ(doc.Elem(doc.ChildPos()).start, 5);
    EXPECT_EQ(narrow(doc.GetChildTagName()), "b");
    expectConsistent(doc);
    ASSERT_TRUE(doc.AddChildElem(u"c", u"1"));
    ASSERT_TRUE(doc.InsertChildElem(u"a", 7));
    EXPECT_EQ(narrow(doc.GetDoc()), "<r>\r\n<b/>\r\n<a>7</a>\r\n<c>1</c>\r\n</r>");
    expectConsistent(doc);

    MarkupInspector flat(MCD_CSTR(u"<r/>"));
    flat.FindElem();
    ASSERT_TRUE(flat.AddChildElem(u"b", MCD_CSTR(), CMarkup::OPT_NO_LINES));
    EXPECT_EQ(narrow(flat.GetDoc()), "<r><b/></r>");
    EXPECT_EQ(flat.Elem(flat.ChildPos()).start, 3);
    expectConsistent(flat);

    // A new document from nothing.
    MarkupInspector fresh;
    ASSERT_TRUE(fresh.AddElem(u"root"));
    ASSERT_TRUE(fresh.IntoElem());
    ASSERT_TRUE(fresh.AddElem(u"x", u"1"));
    ASSERT_TRUE(fresh.AddElem(u"y"));
    ASSERT_TRUE(fresh.InsertElem(u"w"));
    EXPECT_EQ(narrow(fresh.GetDoc()), "<root>\r\n<x>1</x>\r\n<w/>\r\n<y/>\r\n</root>\r\n");
    expectConsistent(fresh);
}

TEST(XmlAddElem, EscapesOrWrapsDataAndHonoursElementOptions) {
    struct Case {
        const char16_t* data;
        int flags;
        const char* doc;
    } cases[] = {
        {u"x<y", 0, "<a>x&lt;y</a>\r\n"},
        {u"x<y", CMarkup::OPT_CDATA, "<a><![CDATA[x<y]]></a>\r\n"},
        {u"1]]>2", CMarkup::OPT_CDATA, "<a><![CDATA[1]]]]><![CDATA[>2]]></a>\r\n"},
        {u"&amp;\"", CMarkup::OPT_KEEP_REFS | CMarkup::OPT_ESCAPE_QUOTES, "<a>&amp;&quot;</a>\r\n"},
        {nullptr, CMarkup::OPT_XHTML_SPACE, "<a />\r\n"},
        {nullptr, CMarkup::OPT_NO_END, "<a>\r\n"},
        {u"", CMarkup::OPT_NO_LINES, "<a/>"},
    };
    for (const Case& c : cases) {
        MarkupInspector doc;
        ASSERT_TRUE(doc.AddElem(u"a", c.data, c.flags));
        EXPECT_EQ(narrow(doc.GetDoc()), c.doc);
        expectConsistent(doc);
    }
    MarkupInspector doc;
    EXPECT_FALSE(doc.AddElem(u"a", u"data", CMarkup::OPT_NO_END));
    EXPECT_FALSE(doc.AddChildElem(u"a"));  // no main position
    EXPECT_FALSE(doc.AddElem(MCD_CSTR()));
    EXPECT_EQ(doc.GetDoc(), u"");
}

TEST(XmlAddElem, RefusesToOpenAnElementWhoseEndTagWouldNotFit) {
    // A record holds end tags shorter than 512 units (found by fuzzing).
    const std::u16string name(600, u'n');
    MarkupInspector doc(MCD_CSTR(u"<" + name + u"/>"));
    ASSERT_TRUE(doc.FindElem());
    EXPECT_FALSE(doc.AddChildElem(u"c"));
    EXPECT_FALSE(doc.SetData(u"d"));
    EXPECT_FALSE(doc.SetElemContent(u"<x/>"));
    EXPECT_FALSE(doc.AddChildSubDoc(u"<x/>"));
    EXPECT_TRUE(doc.IntoElem());
    EXPECT_FALSE(doc.AddElem(u"c"));
    EXPECT_FALSE(doc.AddNode(CMarkup::NODE_COMMENT, u"c"));
    EXPECT_EQ(doc.GetDoc(), u"<" + name + u"/>");
    EXPECT_EQ(doc.CheckIndex(), "");
}

TEST(XmlAddElem, ClosesAnUnendedParentWhenAChildIsAdded) {
    MarkupInspector doc;
    ASSERT_TRUE(doc.AddElem(u"a", MCD_CSTR(), CMarkup::OPT_NO_END));
    EXPECT_TRUE(doc.Elem(doc.MainPos()).flags & CMarkup::ELEM_UNENDED);
    ASSERT_TRUE(doc.AddChildElem(u"b"));
    EXPECT_EQ(narrow(doc.GetDoc()), "<a>\r\n<b/>\r\n</a>\r\n");
    EXPECT_FALSE(doc.Elem(doc.MainPos()).flags & CMarkup::ELEM_UNENDED);
    expectConsistent(doc);
}

TEST(XmlSetAttrib, AddsOrReplacesQuotedValues) {
    MarkupInspector doc(MCD_CSTR(u"<a/>"));
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.SetAttrib(u"x", u"1"));
    ASSERT_TRUE(doc.SetAttrib(u"x", u"1"));
    EXPECT_EQ(narrow(doc.GetDoc()), "<a x=\"1\"/>");
    ASSERT_TRUE(doc.AddAttrib(u"y", u"say \"hi\" & <go>"));
    EXPECT_EQ(narrow(doc.GetDoc()), "<a x=\"1\" y=\"say &quot;hi&quot; &amp; &lt;go&gt;\"/>");
    EXPECT_EQ(narrow(doc.GetAttrib(u"y")), "say \"hi\" & <go>");
    ASSERT_TRUE(doc.SetAttrib(u"x", 42));
    EXPECT_EQ(narrow(doc.GetAttrib(u"x")), "42");
    expectConsistent(doc);

    MarkupInspector spaced(MCD_CSTR(u"<r><a v=1 b /><c/></r>"));
    spaced.FindElem();
    ASSERT_TRUE(spaced.FindChildElem(u"a"));
    ASSERT_TRUE(spaced.SetChildAttrib(u"v", u"two"));
    ASSERT_TRUE(spaced.SetChildAttrib(u"b", u"3"));
    ASSERT_TRUE(spaced.AddChildAttrib(u"n", -5));
    EXPECT_EQ(narrow(spaced.GetDoc()), "<r><a v=\"two\" b=\"3\" n=\"-5\" /><c/></r>");
    expectConsistent(spaced);

    // A processing instruction's pseudo-attributes.
    MarkupInspector pi(MCD_CSTR(u"<?xml version=\"1.0\"?><r/>"));
    ASSERT_EQ(pi.FindNode(), CMarkup::NODE_PROCESSING_INSTRUCTION);
    ASSERT_TRUE(pi.SetAttrib(u"encoding", u"UTF-8"));
    EXPECT_EQ(narrow(pi.GetDoc()), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r/>");
    EXPECT_EQ(pi.NodeLength(), 38);
    expectConsistent(pi);

    MarkupInspector none;
    EXPECT_FALSE(none.SetAttrib(u"x", u"1"));

    // An unquoted "=" swallows the ">" of a damaged tag; the search would end inside the next
    // tag, so nothing is changed (found by fuzzing).
    MarkupInspector damaged(MCD_CSTR(u"<a=><b/>text"));
    ASSERT_TRUE(damaged.FindElem());
    EXPECT_FALSE(damaged.SetAttrib(u"fz", u"1"));
    EXPECT_EQ(damaged.GetAttrib(u"b"), u"");
    EXPECT_EQ(narrow(damaged.GetDoc()), "<a=><b/>text");
    EXPECT_EQ(damaged.CheckIndex(), "");
}

TEST(XmlSetData, ReplacesDataOfElementsAndNodes) {
    MarkupInspector doc(MCD_CSTR(u"<r><a/><b><c/></b><d>old &amp; stale</d></r>"));
    doc.FindElem();
    doc.IntoElem();
    ASSERT_TRUE(doc.FindElem(u"a"));
    ASSERT_TRUE(doc.SetData(u"data"));
    ASSERT_TRUE(doc.FindElem(u"b"));
    EXPECT_FALSE(doc.SetData(u"x"));
    ASSERT_TRUE(doc.FindElem(u"d"));
    ASSERT_TRUE(doc.SetData(u"a]]>b", CMarkup::OPT_CDATA));
    EXPECT_EQ(narrow(doc.GetData()), "a]]>b");
    EXPECT_EQ(narrow(doc.GetDoc()),
              "<r><a>data</a><b><c/></b><d><![CDATA[a]]]]><![CDATA[>b]]></d></r>");
    ASSERT_TRUE(doc.SetData(12));
    EXPECT_EQ(narrow(doc.GetDoc()), "<r><a>data</a><b><c/></b><d>12</d></r>");
    expectConsistent(doc);
    doc.OutOfElem();
    doc.ResetChildPos();
    ASSERT_TRUE(doc.FindChildElem(u"a"));
    ASSERT_TRUE(doc.SetChildData(u"<x>"));
    EXPECT_EQ(narrow(doc.GetChildData()), "<x>");
    expectConsistent(doc);

    MarkupInspector nodes(MCD_CSTR(u"<r><!--c--><![CDATA[d]]></r>"));
    nodes.FindElem();
    nodes.IntoElem();
    ASSERT_EQ(nodes.FindNode(), CMarkup::NODE_COMMENT);
    ASSERT_TRUE(nodes.SetData(u"longer comment"));
    ASSERT_EQ(nodes.FindNode(), CMarkup::NODE_CDATA_SECTION);
    EXPECT_FALSE(nodes.SetData(u"]]>"));
    ASSERT_TRUE(nodes.SetData(u"e"));
    EXPECT_EQ(narrow(nodes.GetDoc()), "<r><!--longer comment--><![CDATA[e]]></r>");
    expectConsistent(nodes);
}

TEST(XmlSetElemContent, ReplacesContentWithParsedMarkup) {
    MarkupInspector doc(MCD_CSTR(u"<r><a><old/></a><z/></r>"));
    doc.FindElem();
    doc.IntoElem();
    doc.FindElem(u"a");
    doc.IntoElem();
    doc.FindElem(u"old");
    doc.SavePos(u"old");
    doc.OutOfElem();
    ASSERT_TRUE(doc.SetElemContent(u"<x k='1'>t</x><y/>"));
    EXPECT_EQ(narrow(doc.GetDoc()), "<r><a><x k='1'>t</x><y/></a><z/></r>");
    EXPECT_FALSE(doc.RestorePos(u"old"));
    ASSERT_TRUE(doc.FindChildElem(u"y"));
    expectConsistent(doc);
    EXPECT_FALSE(doc.SetElemContent(u"<p><q></p>"));
    EXPECT_EQ(narrow(doc.GetDoc()), "<r><a><p><q></p></a><z/></r>");
    EXPECT_EQ(doc.CheckIndex(), "");
    ASSERT_TRUE(doc.FindElem(u"z"));
    ASSERT_TRUE(doc.SetElemContent(u"text"));
    EXPECT_EQ(narrow(doc.GetDoc()), "<r><a><p><q></p></a><z>text</z></r>");
    expectConsistent(doc);
    CMarkup none;
    EXPECT_FALSE(none.SetElemContent(u"x"));
}

TEST(XmlAddNode, WritesEachNodeType) {
    MarkupInspector doc(MCD_CSTR(u"<r><a/></r>"));
    doc.FindElem();
    doc.IntoElem();
    doc.FindElem(u"a");
    ASSERT_TRUE(doc.AddNode(CMarkup::NODE_COMMENT, u"c"));
    EXPECT_EQ(narrow(doc.GetDoc()), "<r><a/><!--c-->\r\n</r>");
    EXPECT_EQ(doc.GetNodeType(), CMarkup::NODE_COMMENT);
    ASSERT_TRUE(doc.AddNode(CMarkup::NODE_TEXT, u"a&b"));
    // Text goes right after the comment, before the comment's line break.
    EXPECT_EQ(narrow(doc.GetDoc()), "<r><a/><!--c-->a&amp;b\r\n</r>");
    ASSERT_TRUE(doc.InsertNode(CMarkup::NODE_CDATA_SECTION, u"x"));
    ASSERT_TRUE(doc.AddNode(CMarkup::NODE_ELEMENT, u"e"));
    EXPECT_EQ(narrow(doc.GetDoc()), "<r><a/><!--c--><![CDATA[x]]><e/>a&amp;b\r\n</r>");
    EXPECT_EQ(narrow(doc.GetTagName()), "e");
    expectConsistent(doc);
    EXPECT_FALSE(doc.AddNode(CMarkup::NODE_LONE_END_TAG, u"x"));
    EXPECT_FALSE(doc.AddNode(CMarkup::NODE_CDATA_SECTION, u"]]>"));

    MarkupInspector empty;
    ASSERT_TRUE(empty.AddNode(CMarkup::NODE_PROCESSING_INSTRUCTION, u"xml version=\"1.0\""));
    ASSERT_TRUE(empty.AddNode(CMarkup::NODE_DOCUMENT_TYPE, u"<!DOCTYPE r>"));
    ASSERT_TRUE(empty.AddElem(u"r"));
    EXPECT_EQ(narrow(empty.GetDoc()), "<?xml version=\"1.0\"?>\r\n<!DOCTYPE r>\r\n<r/>\r\n");
    expectConsistent(empty);
}

TEST(XmlAddSubDoc, InsertsParsedElementsAndReportsWellFormedness) {
    MarkupInspector doc(MCD_CSTR(u"<r><a/></r>"));
    doc.FindElem();
    ASSERT_TRUE(doc.AddChildSubDoc(u" <s><t/></s> "));
    EXPECT_EQ(narrow(doc.GetDoc()), "<r><a/><s><t/></s>\r\n</r>");
    EXPECT_EQ(narrow(doc.GetChildTagName()), "s");
    expectConsistent(doc);
    EXPECT_FALSE(doc.InsertChildSubDoc(u"<x/><y/>"));
    EXPECT_EQ(narrow(doc.GetDoc()), "<r><a/><x/><y/>\r\n<s><t/></s>\r\n</r>");
    EXPECT_EQ(narrow(doc.GetChildTagName()), "x");
    expectConsistent(doc);
    EXPECT_FALSE(doc.AddChildSubDoc(u"plain"));
    EXPECT_EQ(narrow(doc.GetDoc()), "<r><a/><x/>plain<y/>\r\n<s><t/></s>\r\n</r>");
    EXPECT_EQ(doc.CheckIndex(), "");

    MarkupInspector top;
    ASSERT_TRUE(top.AddSubDoc(u"<a><b/></a>"));
    ASSERT_TRUE(top.IntoElem());
    ASSERT_TRUE(top.InsertSubDoc(u"<z/>"));
    EXPECT_EQ(narrow(top.GetDoc()), "<a><z/>\r\n<b/></a>\r\n");
    expectConsistent(top);
}

TEST(XmlRemove, RemovesElementsWithTheirLineBreak) {
    MarkupInspector doc(MCD_CSTR(u"<r>\r\n<a/>\r\n<b><c/></b>\r\n<d/>\r\n</r>"));
    doc.FindElem();
    doc.IntoElem();
    doc.FindElem(u"b");
    doc.IntoElem();
    doc.FindElem(u"c");
    doc.SavePos(u"c");
    doc.OutOfElem();
    ASSERT_TRUE(doc.RemoveElem());
    EXPECT_EQ(narrow(doc.GetDoc()), "<r>\r\n<a/>\r\n<d/>\r\n</r>");
    EXPECT_EQ(narrow(doc.GetTagName()), "a");
    EXPECT_FALSE(doc.RestorePos(u"c"));
    expectConsistent(doc);
    doc.OutOfElem();
    doc.ResetChildPos();
    ASSERT_TRUE(doc.FindChildElem(u"a"));
    ASSERT_TRUE(doc.RemoveChildElem());
    EXPECT_EQ(doc.ChildPos(), 0);
    EXPECT_EQ(narrow(doc.GetDoc()), "<r>\r\n<d/>\r\n</r>");
    expectConsistent(doc);
    EXPECT_FALSE(doc.RemoveChildElem());
    doc.ResetPos();
    EXPECT_FALSE(doc.RemoveElem());
}

TEST(XmlRemove, RemovesNodesAndClearsTheLoneEndMark) {
    MarkupInspector doc(MCD_CSTR(u"<r><a/>t<!--c--></x></r>"));
    const int r = doc.Elem(0).child;
    EXPECT_TRUE(doc.Elem(r).flags & CMarkup::ELEM_HAS_LONE_END);
    doc.FindElem();
    doc.IntoElem();
    ASSERT_EQ(doc.FindNode(CMarkup::NODE_LONE_END_TAG), CMarkup::NODE_LONE_END_TAG);
    ASSERT_TRUE(doc.RemoveNode());
    EXPECT_EQ(narrow(doc.GetDoc()), "<r><a/>t<!--c--></r>");
    EXPECT_FALSE(doc.Elem(r).flags & CMarkup::ELEM_HAS_LONE_END);
    EXPECT_EQ(doc.GetNodeType(), CMarkup::NODE_COMMENT);  // the node before becomes current
    ASSERT_TRUE(doc.RemoveNode());
    EXPECT_EQ(doc.GetNodeType(), CMarkup::NODE_TEXT);
    ASSERT_TRUE(doc.RemoveNode());
    EXPECT_EQ(doc.GetNodeType(), CMarkup::NODE_ELEMENT);
    EXPECT_EQ(narrow(doc.GetTagName()), "a");
    ASSERT_TRUE(doc.RemoveNode());
    EXPECT_EQ(doc.GetNodeType(), 0);
    EXPECT_EQ(narrow(doc.GetDoc()), "<r></r>");
    EXPECT_FALSE(doc.RemoveNode());
    expectConsistent(doc);
}
