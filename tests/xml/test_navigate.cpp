// The cursor: element and node finds, stepping in and out, and the queries at the main and
// child positions.
#include "markup_check.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using nxtest::MarkupInspector;
using nxtest::narrow;

TEST(XmlNavigate, FindsElementsBySiblingOrderAndName) {
    CMarkup doc(MCD_CSTR(u"<r><a/><b/><a x='1'/></r>"));
    EXPECT_TRUE(doc.FindElem());
    EXPECT_EQ(narrow(doc.GetTagName()), "r");
    EXPECT_FALSE(doc.FindElem());  // the root has no sibling
    EXPECT_TRUE(doc.IntoElem());
    EXPECT_TRUE(doc.FindElem(u"a"));
    EXPECT_EQ(doc.GetAttrib(u"x"), u"");
    EXPECT_TRUE(doc.FindElem(u"a"));
    EXPECT_EQ(doc.GetAttrib(u"x"), u"1");
    EXPECT_FALSE(doc.FindElem(u"a"));
    EXPECT_EQ(doc.GetAttrib(u"x"), u"1");  // the position stayed on the second a
    doc.ResetMainPos();
    EXPECT_TRUE(doc.FindElem(u"a[3]"));  // the rest of a path is ignored
    EXPECT_TRUE(doc.FindElem(u"b/c"));
    EXPECT_EQ(narrow(doc.GetTagName()), "b");
    EXPECT_TRUE(doc.OutOfElem());
    EXPECT_EQ(narrow(doc.GetTagName()), "r");
    EXPECT_FALSE(doc.OutOfElem());
    doc.ResetPos();
    EXPECT_EQ(doc.GetTagName(), u"");
    EXPECT_FALSE(doc.IntoElem());

    CMarkup empty;
    EXPECT_FALSE(empty.FindElem());
    EXPECT_FALSE(empty.FindChildElem());
    EXPECT_EQ(empty.FindNode(), 0);
}

TEST(XmlNavigate, FindsChildElementsFromTheRoot) {
    MarkupInspector doc(MCD_CSTR(u"<r><a>1</a><b>2</b></r>"));
    EXPECT_TRUE(doc.FindChildElem(u"b"));  // moves to the root first
    EXPECT_EQ(narrow(doc.GetTagName()), "r");
    EXPECT_EQ(narrow(doc.GetChildTagName()), "b");
    EXPECT_EQ(narrow(doc.GetChildData()), "2");
    EXPECT_FALSE(doc.FindChildElem(u"a"));
    doc.ResetChildPos();
    EXPECT_TRUE(doc.FindChildElem());
    EXPECT_EQ(narrow(doc.GetChildData()), "1");
    EXPECT_TRUE(doc.IntoElem());
    EXPECT_EQ(narrow(doc.GetData()), "1");
    EXPECT_EQ(narrow(doc.GetSubDoc()), "<a>1</a>");
    EXPECT_EQ(doc.CheckIndex(), "");
}

TEST(XmlNavigate, ReadsDataAttributesAndContent) {
    struct Case {
        const char16_t* doc;
        const char* data;
    } cases[] = {
        {u"<a>x &amp; y</a>", "x & y"},
        {u"<a>1<!--c-->2<![CDATA[<3>]]></a>", "12<3>"},
        {u"<a><b/></a>", ""},
        {u"<a/>", ""},
        {u"<a> <?p?> t </a>", " t "},
    };
    for (const Case& c : cases) {
        CMarkup doc(MCD_CSTR(c.doc));
        ASSERT_TRUE(doc.FindElem());
        EXPECT_EQ(narrow(doc.GetData()), c.data) << narrow(c.doc);
    }

    CMarkup doc(MCD_CSTR(u"<a one='&lt;' two=\"2\" three>in<b/>side</a>"));
    ASSERT_TRUE(doc.FindElem());
    EXPECT_EQ(narrow(doc.GetAttrib(u"one")), "<");
    EXPECT_EQ(narrow(doc.GetAttrib(u"three")), "three");
    EXPECT_EQ(narrow(doc.GetAttribName(0)), "one");
    EXPECT_EQ(narrow(doc.GetAttribName(2)), "three");
    EXPECT_EQ(doc.GetAttribName(3), u"");
    EXPECT_EQ(narrow(doc.GetElemContent()), "in<b/>side");
    EXPECT_EQ(doc.GetAttrib(MCD_CSTR()), u"");
    EXPECT_EQ(doc.GetChildAttrib(u"one"), u"");
}

TEST(XmlNavigate, StepsThroughNodesOfEveryType) {
    CMarkup doc(MCD_CSTR(u"<r>t<!--c--><?p q?></r>"));
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    EXPECT_EQ(doc.FindNode(), CMarkup::NODE_TEXT);
    EXPECT_EQ(narrow(doc.GetTagName()), "#text");
    EXPECT_EQ(doc.FindNode(), CMarkup::NODE_COMMENT);
    EXPECT_EQ(narrow(doc.GetTagName()), "#comment");
    EXPECT_EQ(narrow(doc.GetData()), "c");
    EXPECT_EQ(doc.FindNode(), CMarkup::NODE_PROCESSING_INSTRUCTION);
    EXPECT_EQ(narrow(doc.GetTagName()), "p");
    EXPECT_EQ(narrow(doc.GetData()), "p q");
    EXPECT_EQ(doc.FindNode(), 0);

    CMarkup mixed(MCD_CSTR(u"<?xml version='1.0'?><!DOCTYPE r><r>a<x/>b<!--1--><y><!--in--></y>"
                           u"<![CDATA[d]]></z><!--2--><!x></r>"));
    ASSERT_EQ(mixed.FindNode(), CMarkup::NODE_PROCESSING_INSTRUCTION);
    EXPECT_EQ(narrow(mixed.GetAttrib(u"version")), "1.0");
    EXPECT_EQ(narrow(mixed.GetAttribName(0)), "version");
    ASSERT_EQ(mixed.FindNode(), CMarkup::NODE_DOCUMENT_TYPE);
    EXPECT_EQ(narrow(mixed.GetTagName()), "r");
    ASSERT_EQ(mixed.FindNode(), CMarkup::NODE_ELEMENT);
    ASSERT_TRUE(mixed.IntoElem());
    // Comments only: elements, text and CDATA are skipped, y's content too.
    EXPECT_EQ(mixed.FindNode(CMarkup::NODE_COMMENT), CMarkup::NODE_COMMENT);
    EXPECT_EQ(narrow(mixed.GetData()), "1");
    EXPECT_EQ(mixed.FindNode(CMarkup::NODE_LONE_END_TAG), CMarkup::NODE_LONE_END_TAG);
    EXPECT_EQ(narrow(mixed.GetTagName()), "z");
    EXPECT_EQ(narrow(mixed.GetData()), "z");
    EXPECT_EQ(mixed.FindNode(CMarkup::NODE_COMMENT), CMarkup::NODE_COMMENT);
    EXPECT_EQ(mixed.FindNode(), CMarkup::NODE_ERROR);
    EXPECT_EQ(mixed.GetTagName(), u"");
    EXPECT_EQ(mixed.FindNode(), 0);
    // FindElem continues from the node's preceding element.
    mixed.ResetMainPos();
    EXPECT_EQ(mixed.FindNode(CMarkup::NODE_TEXT), CMarkup::NODE_TEXT);
    EXPECT_TRUE(mixed.FindElem());
    EXPECT_EQ(narrow(mixed.GetTagName()), "x");
}

TEST(XmlNavigate, ReturnsSubDocumentsPathsAndDeclaredEncodings) {
    MarkupInspector doc(MCD_CSTR(u"<r><a><b/>\r\n<b/>\r\n</a><c/>text</r>"));
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(u"a"));
    ASSERT_TRUE(doc.FindChildElem(u"b"));
    EXPECT_EQ(narrow(doc.GetChildSubDoc()), "<b/>\r\n");
    ASSERT_TRUE(doc.FindChildElem(u"b"));
    EXPECT_EQ(narrow(doc.x_GetPath(doc.ChildPos())), "/r/a/b[2]");
    EXPECT_EQ(narrow(doc.x_GetPath(doc.MainPos())), "/r/a");
    EXPECT_EQ(doc.x_GetPath(0), u"");
    ASSERT_TRUE(doc.FindElem(u"c"));
    EXPECT_EQ(narrow(doc.GetSubDoc()), "<c/>");

    EXPECT_EQ(narrow(CMarkup::GetDeclaredEncoding(u"<?xml version=\"1.0\" encoding=\"UTF-8\"?><r/>")),
              "UTF-8");
    EXPECT_EQ(CMarkup::GetDeclaredEncoding(u"<r/><?xml encoding='x'?>"), u"");
    EXPECT_EQ(CMarkup::GetDeclaredEncoding(u"<?xml encoding='x'"), u"");
    EXPECT_EQ(narrow(CMarkup::GetDeclaredEncoding(u"  <?xml encoding='latin'?>")), "latin");
}

TEST(XmlNavigate, RestoresSavedMainChildAndParentPositions) {
    MarkupInspector doc(MCD_CSTR(u"<r><a><b/></a><c/></r>"));
    doc.FindElem();
    doc.FindChildElem(u"a");
    doc.SavePos(u"child");
    doc.IntoElem();
    doc.SavePos(u"main");
    doc.IntoElem();
    doc.SavePos(u"parent");
    doc.ResetPos();
    ASSERT_TRUE(doc.RestorePos(u"child"));
    EXPECT_EQ(narrow(doc.GetTagName()), "r");
    EXPECT_EQ(narrow(doc.GetChildTagName()), "a");
    ASSERT_TRUE(doc.RestorePos(u"main"));
    EXPECT_EQ(narrow(doc.GetTagName()), "a");
    EXPECT_EQ(doc.GetChildTagName(), u"");
    ASSERT_TRUE(doc.RestorePos(u"parent"));
    EXPECT_EQ(doc.GetTagName(), u"");
    EXPECT_TRUE(doc.FindElem(u"b"));
    EXPECT_EQ(doc.CheckIndex(), "");
}
