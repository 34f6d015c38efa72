// Edits: the exact text each operation writes, the positions it leaves and the index it keeps.
#include "markup_check.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>

using nxtest::MarkupInspector;
using nxtest::narrow;

namespace {

// The text of an edited document, after checking that the index agrees with it and with a
// fresh parse of it.
std::string checkedText(const MarkupInspector& doc) {
    EXPECT_EQ(doc.CheckIndex(), "") << narrow(doc.GetDoc());
    EXPECT_EQ(MarkupInspector(MCD_CSTR(doc.GetDoc())).Structure(), doc.Structure())
        << narrow(doc.GetDoc());
    return narrow(doc.GetDoc());
}

}  // namespace

TEST(XmlAddElem, WritesElementsWithLineBreaksOrWithout) {
    MarkupInspector doc(MCD_CSTR(u"<r/>"));
    ASSERT_TRUE(doc.FindElem() && doc.AddChildElem(u"b"));
    EXPECT_EQ(checkedText(doc), "<r>\r\n<b/>\r\n</r>");
    EXPECT_EQ(narrow(doc.GetChildTagName()), "b");
    ASSERT_TRUE(doc.AddChildElem(u"c", u"1") && doc.InsertChildElem(u"a", 7));  // a before c
    EXPECT_EQ(checkedText(doc), "<r>\r\n<b/>\r\n<a>7</a>\r\n<c>1</c>\r\n</r>");

    MarkupInspector flat(MCD_CSTR(u"<r/>"));
    ASSERT_TRUE(flat.FindElem() && flat.AddChildElem(u"b", MCD_CSTR(), CMarkup::OPT_NO_LINES));
    EXPECT_EQ(checkedText(flat), "<r><b/></r>");

    MarkupInspector fresh;  // a new document from nothing
    ASSERT_TRUE(fresh.AddElem(u"root") && fresh.IntoElem());
    ASSERT_TRUE(fresh.AddElem(u"x", u"1") && fresh.AddElem(u"y") && fresh.InsertElem(u"w"));
    EXPECT_EQ(checkedText(fresh), "<root>\r\n<x>1</x>\r\n<w/>\r\n<y/>\r\n</root>\r\n");
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
        ASSERT_TRUE(doc.AddElem(u"a", c.data, c.flags)) << c.doc;
        EXPECT_EQ(checkedText(doc), c.doc);
    }
    MarkupInspector doc;
    EXPECT_FALSE(doc.AddElem(u"a", u"data", CMarkup::OPT_NO_END));
    EXPECT_FALSE(doc.AddChildElem(u"a"));  // no main position
    EXPECT_FALSE(doc.AddElem(MCD_CSTR()));
    EXPECT_EQ(doc.GetDoc(), u"");
    // A child added to an element without an end tag gives it one.
    ASSERT_TRUE(doc.AddElem(u"a", MCD_CSTR(), CMarkup::OPT_NO_END));
    EXPECT_TRUE(doc.Elem(doc.MainPos()).flags & CMarkup::ELEM_UNENDED);
    ASSERT_TRUE(doc.AddChildElem(u"b"));
    EXPECT_EQ(checkedText(doc), "<a>\r\n<b/>\r\n</a>\r\n");
    EXPECT_FALSE(doc.Elem(doc.MainPos()).flags & CMarkup::ELEM_UNENDED);
}

// A record holds end tags shorter than 512 units, so names up to 508 units can be given an end
// tag; an empty element with a longer name cannot get content (found by fuzzing).
TEST(XmlAddElem, OpensAnElementOnlyWhenItsEndTagFits) {
    const std::function<bool(CMarkup&)> edits[] = {
        [](CMarkup& d) { return d.AddChildElem(u"c"); },
        [](CMarkup& d) { return d.SetData(u"d"); },
        [](CMarkup& d) { return d.SetElemContent(u"<x/>"); },
        [](CMarkup& d) { return d.AddChildSubDoc(u"<x/>"); },
        [](CMarkup& d) { return d.IntoElem() && d.AddElem(u"c"); },
        [](CMarkup& d) { return d.IntoElem() && d.AddNode(CMarkup::NODE_COMMENT, u"c"); },
    };
    for (int len : {508, 509, 600}) {
        const std::u16string name(static_cast<std::size_t>(len), u'n'), text = u"<" + name + u"/>";
        for (std::size_t e = 0; e < sizeof edits / sizeof edits[0]; ++e) {
            SCOPED_TRACE("name length " + std::to_string(len) + ", edit " + std::to_string(e));
            MarkupInspector doc{MCD_CSTR(text)};
            ASSERT_TRUE(doc.FindElem());
            EXPECT_EQ(edits[e](doc), len <= 508);
            const std::string after = checkedText(doc);
            if (len > 508) {
                EXPECT_EQ(after, narrow(text));
            }
        }
        EXPECT_EQ(MarkupInspector().AddElem(name), len <= 508) << len;
    }
}

TEST(XmlSetAttrib, AddsOrReplacesQuotedValues) {
    MarkupInspector doc(MCD_CSTR(u"<a/>"));
    ASSERT_TRUE(doc.FindElem() && doc.SetAttrib(u"x", u"1") && doc.SetAttrib(u"x", u"1"));
    EXPECT_EQ(checkedText(doc), "<a x=\"1\"/>");
    ASSERT_TRUE(doc.AddAttrib(u"y", u"say \"hi\" & <go>"));
    EXPECT_EQ(checkedText(doc), "<a x=\"1\" y=\"say &quot;hi&quot; &amp; &lt;go&gt;\"/>");
    EXPECT_EQ(narrow(doc.GetAttrib(u"y")), "say \"hi\" & <go>");
    ASSERT_TRUE(doc.SetAttrib(u"x", 42));
    EXPECT_EQ(checkedText(doc), "<a x=\"42\" y=\"say &quot;hi&quot; &amp; &lt;go&gt;\"/>");

    // Unquoted and bare values are replaced whole; a new one goes before the space of " />".
    MarkupInspector spaced(MCD_CSTR(u"<r><a v=1 b /><c/></r>"));
    ASSERT_TRUE(spaced.FindChildElem(u"a"));
    ASSERT_TRUE(spaced.SetChildAttrib(u"v", u"two") && spaced.SetChildAttrib(u"b", u"3"));
    ASSERT_TRUE(spaced.AddChildAttrib(u"n", -5));
    EXPECT_EQ(checkedText(spaced), "<r><a v=\"two\" b=\"3\" n=\"-5\" /><c/></r>");

    // A processing instruction's pseudo-attributes.
    MarkupInspector pi(MCD_CSTR(u"<?xml version=\"1.0\"?><r/>"));
    ASSERT_EQ(pi.FindNode(), CMarkup::NODE_PROCESSING_INSTRUCTION);
    ASSERT_TRUE(pi.SetAttrib(u"encoding", u"UTF-8"));
    EXPECT_EQ(checkedText(pi), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r/>");
    EXPECT_EQ(pi.NodeLength(), 38);

    EXPECT_FALSE(MarkupInspector().SetAttrib(u"x", u"1"));
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
    ASSERT_TRUE(doc.FindElem() && doc.IntoElem() && doc.FindElem(u"a") && doc.SetData(u"data"));
    ASSERT_TRUE(doc.FindElem(u"b"));
    EXPECT_FALSE(doc.SetData(u"x"));  // b has a child element
    ASSERT_TRUE(doc.FindElem(u"d") && doc.SetData(u"a]]>b", CMarkup::OPT_CDATA));
    EXPECT_EQ(narrow(doc.GetData()), "a]]>b");
    EXPECT_EQ(checkedText(doc),
              "<r><a>data</a><b><c/></b><d><![CDATA[a]]]]><![CDATA[>b]]></d></r>");
    ASSERT_TRUE(doc.SetData(12));
    EXPECT_EQ(checkedText(doc), "<r><a>data</a><b><c/></b><d>12</d></r>");
    doc.OutOfElem();
    doc.ResetChildPos();
    ASSERT_TRUE(doc.FindChildElem(u"a") && doc.SetChildData(u"<x>"));
    EXPECT_EQ(narrow(doc.GetChildData()), "<x>");
    EXPECT_EQ(checkedText(doc), "<r><a>&lt;x&gt;</a><b><c/></b><d>12</d></r>");

    MarkupInspector nodes(MCD_CSTR(u"<r><!--c--><![CDATA[d]]></r>"));
    ASSERT_TRUE(nodes.FindElem() && nodes.IntoElem());
    ASSERT_EQ(nodes.FindNode(), CMarkup::NODE_COMMENT);
    ASSERT_TRUE(nodes.SetData(u"longer comment"));
    ASSERT_EQ(nodes.FindNode(), CMarkup::NODE_CDATA_SECTION);
    EXPECT_FALSE(nodes.SetData(u"]]>"));
    ASSERT_TRUE(nodes.SetData(u"e"));
    EXPECT_EQ(checkedText(nodes), "<r><!--longer comment--><![CDATA[e]]></r>");
}

TEST(XmlSetElemContent, ReplacesContentWithParsedMarkup) {
    MarkupInspector doc(MCD_CSTR(u"<r><a><old/></a><z/></r>"));
    ASSERT_TRUE(doc.FindElem() && doc.IntoElem() && doc.FindElem(u"a"));
    ASSERT_TRUE(doc.IntoElem() && doc.FindElem(u"old") && doc.SavePos(u"old") && doc.OutOfElem());
    ASSERT_TRUE(doc.SetElemContent(u"<x k='1'>t</x><y/>"));
    EXPECT_EQ(checkedText(doc), "<r><a><x k='1'>t</x><y/></a><z/></r>");
    EXPECT_FALSE(doc.RestorePos(u"old"));
    ASSERT_TRUE(doc.FindChildElem(u"y"));
    EXPECT_FALSE(doc.SetElemContent(u"<p><q></p>"));  // written, but not well-formed
    EXPECT_EQ(narrow(doc.GetDoc()), "<r><a><p><q></p></a><z/></r>");
    EXPECT_EQ(doc.CheckIndex(), "");
    ASSERT_TRUE(doc.FindElem(u"z") && doc.SetElemContent(u"text"));
    EXPECT_EQ(checkedText(doc), "<r><a><p><q></p></a><z>text</z></r>");
    EXPECT_FALSE(CMarkup().SetElemContent(u"x"));
}

TEST(XmlAddNode, WritesEachNodeType) {
    MarkupInspector doc(MCD_CSTR(u"<r><a/></r>"));
    ASSERT_TRUE(doc.FindElem() && doc.IntoElem() && doc.FindElem(u"a"));
    ASSERT_TRUE(doc.AddNode(CMarkup::NODE_COMMENT, u"c"));
    EXPECT_EQ(checkedText(doc), "<r><a/><!--c-->\r\n</r>");
    EXPECT_EQ(doc.GetNodeType(), CMarkup::NODE_COMMENT);
    ASSERT_TRUE(doc.AddNode(CMarkup::NODE_TEXT, u"a&b"));
    // Text goes right after the comment, before the comment's line break.
    EXPECT_EQ(checkedText(doc), "<r><a/><!--c-->a&amp;b\r\n</r>");
    ASSERT_TRUE(doc.InsertNode(CMarkup::NODE_CDATA_SECTION, u"x"));
    ASSERT_TRUE(doc.AddNode(CMarkup::NODE_ELEMENT, u"e"));
    EXPECT_EQ(checkedText(doc), "<r><a/><!--c--><![CDATA[x]]><e/>a&amp;b\r\n</r>");
    EXPECT_EQ(narrow(doc.GetTagName()), "e");
    EXPECT_FALSE(doc.AddNode(CMarkup::NODE_LONE_END_TAG, u"x"));
    EXPECT_FALSE(doc.AddNode(CMarkup::NODE_CDATA_SECTION, u"]]>"));

    MarkupInspector empty;
    ASSERT_TRUE(empty.AddNode(CMarkup::NODE_PROCESSING_INSTRUCTION, u"xml version=\"1.0\""));
    ASSERT_TRUE(empty.AddNode(CMarkup::NODE_DOCUMENT_TYPE, u"<!DOCTYPE r>") && empty.AddElem(u"r"));
    EXPECT_EQ(checkedText(empty), "<?xml version=\"1.0\"?>\r\n<!DOCTYPE r>\r\n<r/>\r\n");
}

TEST(XmlAddSubDoc, InsertsParsedElementsAndReportsWellFormedness) {
    MarkupInspector doc(MCD_CSTR(u"<r><a/></r>"));
    ASSERT_TRUE(doc.FindElem() && doc.AddChildSubDoc(u" <s><t/></s> "));
    EXPECT_EQ(checkedText(doc), "<r><a/><s><t/></s>\r\n</r>");
    EXPECT_EQ(narrow(doc.GetChildTagName()), "s");
    EXPECT_FALSE(doc.InsertChildSubDoc(u"<x/><y/>"));  // two elements: written, not well-formed
    EXPECT_EQ(checkedText(doc), "<r><a/><x/><y/>\r\n<s><t/></s>\r\n</r>");
    EXPECT_EQ(narrow(doc.GetChildTagName()), "x");
    EXPECT_FALSE(doc.AddChildSubDoc(u"plain"));
    EXPECT_EQ(narrow(doc.GetDoc()), "<r><a/><x/>plain<y/>\r\n<s><t/></s>\r\n</r>");
    EXPECT_EQ(doc.CheckIndex(), "");

    MarkupInspector top;
    ASSERT_TRUE(top.AddSubDoc(u"<a><b/></a>") && top.IntoElem() && top.InsertSubDoc(u"<z/>"));
    EXPECT_EQ(checkedText(top), "<a><z/>\r\n<b/></a>\r\n");
}

TEST(XmlRemove, RemovesElementsWithTheirLineBreak) {
    MarkupInspector doc(MCD_CSTR(u"<r>\r\n<a/>\r\n<b><c/></b>\r\n<d/>\r\n</r>"));
    ASSERT_TRUE(doc.FindElem() && doc.IntoElem() && doc.FindElem(u"b"));
    ASSERT_TRUE(doc.IntoElem() && doc.FindElem(u"c") && doc.SavePos(u"c") && doc.OutOfElem());
    ASSERT_TRUE(doc.RemoveElem());
    EXPECT_EQ(checkedText(doc), "<r>\r\n<a/>\r\n<d/>\r\n</r>");
    EXPECT_EQ(narrow(doc.GetTagName()), "a");  // the previous sibling takes its place
    EXPECT_FALSE(doc.RestorePos(u"c"));
    doc.OutOfElem();
    doc.ResetChildPos();
    ASSERT_TRUE(doc.FindChildElem(u"a") && doc.RemoveChildElem());
    EXPECT_EQ(doc.ChildPos(), 0);
    EXPECT_EQ(checkedText(doc), "<r>\r\n<d/>\r\n</r>");
    EXPECT_FALSE(doc.RemoveChildElem());
    doc.ResetPos();
    EXPECT_FALSE(doc.RemoveElem());
}

TEST(XmlRemove, RemovesNodesAndClearsTheLoneEndMark) {
    MarkupInspector doc(MCD_CSTR(u"<r><a/>t<!--c--></x></r>"));
    const int r = doc.Elem(0).child;
    EXPECT_TRUE(doc.Elem(r).flags & CMarkup::ELEM_HAS_LONE_END);
    ASSERT_TRUE(doc.FindElem() && doc.IntoElem());
    ASSERT_EQ(doc.FindNode(CMarkup::NODE_LONE_END_TAG), CMarkup::NODE_LONE_END_TAG);
    ASSERT_TRUE(doc.RemoveNode());
    EXPECT_EQ(narrow(doc.GetDoc()), "<r><a/>t<!--c--></r>");
    EXPECT_FALSE(doc.Elem(r).flags & CMarkup::ELEM_HAS_LONE_END);
    // Each removal makes the node before current.
    using M = CMarkup;
    for (int type : {int{M::NODE_COMMENT}, int{M::NODE_TEXT}, int{M::NODE_ELEMENT}, 0}) {
        EXPECT_EQ(doc.GetNodeType(), type);
        EXPECT_EQ(doc.RemoveNode(), type != 0) << type;
    }
    EXPECT_EQ(checkedText(doc), "<r></r>");
}
