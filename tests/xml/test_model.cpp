// The document model and its cursor: construction and copy, documents over more than one
// segment of records, element and node finds, the queries at the main and child positions, and
// saved positions with their buckets.
#include "markup_check.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

using nxtest::MarkupInspector;
using nxtest::narrow;

TEST(XmlModel, StartsEmptyAndCopiesAreIndependentOverAnyNumberOfSegments) {
    CMarkup empty;
    EXPECT_EQ(narrow(empty.GetError()), "Empty document");
    EXPECT_FALSE(empty.IsWellFormed());
    EXPECT_FALSE(empty.FindElem() || empty.FindChildElem() || empty.FindNode());

    MarkupInspector source(MCD_CSTR(u"<r><a/></r>"));
    source.SavePos(u"p");
    MarkupInspector copy(source);
    ASSERT_TRUE(copy.FindElem() && copy.IntoElem() && copy.FindElem());
    ASSERT_TRUE(copy.SetAttrib(u"k", u"v"));
    EXPECT_EQ(narrow(copy.GetDoc()), "<r><a k=\"v\"/></r>");
    EXPECT_EQ(narrow(source.GetDoc()), "<r><a/></r>");
    EXPECT_EQ(source.Structure(), "r@0+11[3/4]{a@3+4[4/0] } ");
    MarkupInspector& self = copy;
    copy = self;  // self-assignment changes nothing
    EXPECT_EQ(copy.CheckIndex(), "");
    EXPECT_TRUE(copy.RestorePos(u"p"));
    EXPECT_EQ(copy.GetTagName(), u"");
    EXPECT_FALSE(copy.SetDoc(static_cast<const char16_t*>(nullptr)));  // null empties the text
    EXPECT_EQ(copy.GetDoc(), u"");

    // Documents over more than one segment of records; a copy holds exactly those handed out.
    std::u16string text = u"<r>";
    for (int i = 0; i < 150000; ++i)
        text += u"<e/>";
    MarkupInspector doc;
    ASSERT_TRUE(doc.SetDoc(text + u"</r>"));
    ASSERT_GE(doc.Positions().SegsUsed(), 3);
    EXPECT_EQ(doc.CheckIndex(), "");
    MarkupInspector big(doc);
    EXPECT_EQ(big.Positions().GetSize(), 150000 + 2);
    EXPECT_EQ(big.CheckIndex(), "");
}

TEST(XmlNavigate, FindsElementsAndChildElementsBySiblingOrderAndName) {
    CMarkup doc(MCD_CSTR(u"<r><a/><b/><a x='1'/></r>"));
    EXPECT_TRUE(doc.FindElem());
    EXPECT_FALSE(doc.FindElem());  // the root has no sibling
    EXPECT_EQ(narrow(doc.GetTagName()), "r");
    EXPECT_TRUE(doc.IntoElem() && doc.FindElem(u"a") && doc.GetAttrib(u"x").empty());
    EXPECT_TRUE(doc.FindElem(u"a"));
    EXPECT_FALSE(doc.FindElem(u"a"));
    EXPECT_EQ(doc.GetAttrib(u"x"), u"1");  // the position stayed on the second a
    doc.ResetMainPos();
    EXPECT_TRUE(doc.FindElem(u"a[3]") && doc.FindElem(u"b/c"));  // the rest of a path is ignored
    EXPECT_EQ(narrow(doc.GetTagName()), "b");
    EXPECT_TRUE(doc.OutOfElem());
    EXPECT_FALSE(doc.OutOfElem());
    EXPECT_EQ(narrow(doc.GetTagName()), "r");
    doc.ResetPos();
    EXPECT_EQ(doc.GetTagName(), u"");
    EXPECT_FALSE(doc.IntoElem());

    // A name matches whole, what may follow it in a path (" =/[]") aside; case only when asked.
    const std::tuple<const char16_t*, int, bool> names[] = {
        {u"item x", 0, true}, {u"items", 0, false}, {u"ite", 0, false}, {u"ITEM", 0, false},
        {u"ITEM", CMarkup::DOC_IGNORE_CASE, true}};
    for (const auto& [name, flags, found] : names) {
        CMarkup item(flags);
        item.SetDoc(u"<item/>");
        EXPECT_EQ(item.FindElem(name), found) << narrow(name) << " flags " << flags;
    }

    CMarkup kid(MCD_CSTR(u"<r><a>1</a><b>2</b></r>"));
    EXPECT_TRUE(kid.FindChildElem(u"b"));  // moves to the root first
    EXPECT_FALSE(kid.FindChildElem(u"a"));
    EXPECT_EQ(narrow(kid.GetTagName() + u"/" + kid.GetChildTagName() + u"=" + kid.GetChildData()),
              "r/b=2");
    kid.ResetChildPos();
    EXPECT_TRUE(kid.FindChildElem() && kid.IntoElem());
    EXPECT_EQ(narrow(kid.GetData()), "1");
}

TEST(XmlNavigate, ReadsDataAttributesAndContent) {
    const std::pair<const char16_t*, const char*> cases[] = {
        {u"<a>x &amp; y</a>", "x & y"}, {u"<a>1<!--c-->2<![CDATA[<3>]]></a>", "12<3>"},
        {u"<a><b/></a>", ""}, {u"<a/>", ""}, {u"<a> <?p?> t </a>", " t "},
    };
    for (const auto& [text, data] : cases) {
        CMarkup doc{MCD_CSTR(text)};
        ASSERT_TRUE(doc.FindElem());
        EXPECT_EQ(narrow(doc.GetData()), data) << narrow(text);
    }
    // Attribute names match exactly; values are unescaped, a bare name is its own value.
    CMarkup doc(MCD_CSTR(u"<a id='7' Name = \"x&lt;y\" bare other=v/w>in<b/>side</a>"));
    ASSERT_TRUE(doc.FindElem());
    const std::pair<const char16_t*, const char*> attribs[] = {
        {u"id", "7"}, {u"Name", "x<y"}, {u"name", ""}, {u"bare", "bare"}, {u"other", "v/w"}};
    for (const auto& [name, value] : attribs)
        EXPECT_EQ(narrow(doc.GetAttrib(name)), value) << narrow(name);
    const char* names[] = {"id", "Name", "bare", "other", ""};
    for (int n = 0; n < 5; ++n)
        EXPECT_EQ(narrow(doc.GetAttribName(n)), names[n]) << n;
    EXPECT_EQ(narrow(doc.GetElemContent()), "in<b/>side");
    EXPECT_EQ(doc.GetAttrib(MCD_CSTR()), u"");
    EXPECT_EQ(doc.GetChildAttrib(u"id"), u"");
}

TEST(XmlNavigate, StepsThroughNodesOfEveryTypeOrOfTheTypesAsked) {
    CMarkup doc(MCD_CSTR(u"<?xml version='1.0'?><!DOCTYPE r><r>a<x/>b<!--1--><y><!--in--></y>"
                         u"<![CDATA[d]]></z><?p q?><!x></r>"));
    // `steps` finds of the node types in `mask`, each as "type tag data|". Types: 1 element,
    // 2 text, 8 CDATA, 16 processing instruction, 32 comment, 64 doctype, 128 lone end tag,
    // 32768 error.
    const auto walk = [&doc](int mask, int steps) {
        std::string s;
        while (steps--) {
            s += std::to_string(doc.FindNode(mask));
            s += " " + narrow(doc.GetTagName()) + " " + narrow(doc.GetData()) + "|";
        }
        return s;
    };
    EXPECT_EQ(walk(0, 3), "16 xml xml version='1.0'|64 r <!DOCTYPE r>|1 r |");
    ASSERT_TRUE(doc.IntoElem());
    // Elements are stepped over whole (y's comment is not visited); at the end the cursor stays
    // on the last node.
    EXPECT_EQ(walk(0, 10), "2 #text a|1 x |2 #text b|32 #comment 1|1 y |8 #cdata-section d|"
                           "128 z z|16 p p q|32768  <!x>|0  <!x>|");
    doc.ResetMainPos();
    EXPECT_EQ(walk(CMarkup::NODE_COMMENT, 1), "32 #comment 1|");
    EXPECT_EQ(walk(CMarkup::NODE_LONE_END_TAG, 1), "128 z z|");
    EXPECT_EQ(walk(CMarkup::NODE_COMMENT, 1), "0 z z|");
    // FindElem continues from the node's preceding element.
    doc.ResetMainPos();
    EXPECT_EQ(walk(CMarkup::NODE_TEXT, 1), "2 #text a|");
    EXPECT_TRUE(doc.FindElem());
    EXPECT_EQ(narrow(doc.GetTagName()), "x");
    doc.ResetPos();
    ASSERT_EQ(doc.FindNode(), CMarkup::NODE_PROCESSING_INSTRUCTION);
    EXPECT_EQ(narrow(doc.GetAttribName(0) + u"=" + doc.GetAttrib(u"version")), "version=1.0");
}

TEST(XmlNavigate, ReturnsSubDocumentsPathsAndDeclaredEncodings) {
    MarkupInspector doc(MCD_CSTR(u"<r><a><b/>\r\n<b/>\r\n</a><c/>text</r>"));
    ASSERT_TRUE(doc.FindElem() && doc.IntoElem() && doc.FindElem(u"a"));
    ASSERT_TRUE(doc.FindChildElem(u"b"));
    EXPECT_EQ(narrow(doc.GetChildSubDoc()), "<b/>\r\n");  // with its trailing line break
    ASSERT_TRUE(doc.FindChildElem(u"b"));
    EXPECT_EQ(narrow(doc.x_GetPath(doc.ChildPos())), "/r/a/b[2]");
    EXPECT_EQ(narrow(doc.x_GetPath(doc.MainPos())), "/r/a");
    EXPECT_EQ(doc.x_GetPath(0), u"");
    ASSERT_TRUE(doc.FindElem(u"c"));
    EXPECT_EQ(narrow(doc.GetSubDoc()), "<c/>");

    const std::pair<const char16_t*, const char*> encodings[] = {
        {u"<?xml version=\"1.0\" encoding=\"UTF-8\"?><r/>", "UTF-8"},
        {u"  <?xml encoding='latin'?>", "latin"}, {u"<r/><?xml encoding='x'?>", ""},
        {u"<?xml encoding='x'", ""}};
    for (const auto& [text, encoding] : encodings)
        EXPECT_EQ(narrow(CMarkup::GetDeclaredEncoding(text)), encoding) << narrow(text);
}

TEST(XmlSavedPositions, RestoresMainChildAndParentPositions) {
    MarkupInspector doc(MCD_CSTR(u"<r><a><b/></a><c/></r>"));
    EXPECT_FALSE(doc.SavePos(MCD_CSTR(static_cast<const char16_t*>(nullptr))));
    EXPECT_FALSE(doc.RestorePos(u"nothing"));
    EXPECT_TRUE(doc.SavePos(u"top"));  // no main position: the virtual root
    ASSERT_TRUE(doc.FindElem() && doc.FindChildElem(u"a") && doc.SavePos(u"child"));
    ASSERT_TRUE(doc.IntoElem() && doc.SavePos(u"main") && doc.IntoElem() && doc.SavePos(u"parent"));
    doc.ResetPos();
    const auto at = [&doc] { return narrow(doc.GetTagName() + u"/" + doc.GetChildTagName()); };
    ASSERT_TRUE(doc.RestorePos(u"child"));
    EXPECT_EQ(at(), "r/a");
    ASSERT_TRUE(doc.RestorePos(u"main"));
    EXPECT_EQ(at(), "a/");
    ASSERT_TRUE(doc.RestorePos(u"parent"));
    EXPECT_EQ(at(), "/");
    EXPECT_TRUE(doc.FindElem(u"b"));
    ASSERT_TRUE(doc.RestorePos(u"top"));
    EXPECT_TRUE(doc.FindElem(u"r"));
    EXPECT_FALSE(doc.RestorePos(u"Main"));  // names are case-sensitive
    doc.SetDoc(doc.GetDoc());  // a parse drops saved positions
    EXPECT_FALSE(doc.RestorePos(u"top"));
}

// Names of one code unit each: 'a' + 7k all fall into one bucket, which grows, is copied as its
// used entries and is compacted when elements go.
TEST(XmlSavedPositions, SharedBucketsGrowCopyAndDropPositionsOfRemovedElements) {
    std::u16string names[17];
    for (int i = 0; i < 17; ++i) {
        names[i] = std::u16string(1, static_cast<char16_t>(u'a' + 7 * i));
        ASSERT_EQ(CMarkup::SavedPosMap::Hash(names[i].c_str()), CMarkup::SavedPosMap::Hash(u"a"));
    }
    CMarkup doc(MCD_CSTR(u"<r><a/><b/><c/></r>"));
    ASSERT_TRUE(doc.FindElem() && doc.IntoElem() && doc.FindElem(u"a"));
    for (int i = 0; i < 15; ++i)
        doc.SavePos(names[i]);  // the bucket grows twice
    ASSERT_TRUE(doc.FindElem(u"c") && doc.SavePos(names[3]));  // overwrites in place
    CMarkup copy;
    copy = doc;
    ASSERT_TRUE(copy.SavePos(names[15]));  // on c, the copied cursor; the full bucket grows
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        const char* tag = i == 3 || i == 15 ? "c" : "a";
        EXPECT_TRUE(copy.RestorePos(names[i]) && narrow(copy.GetTagName()) == tag);
        EXPECT_EQ(doc.RestorePos(names[i]) && narrow(doc.GetTagName()) == tag, i < 15);
    }
    EXPECT_FALSE(copy.RestorePos(names[16]));

    // Removing b drops the positions on it (the only one of bucket "b" too); those after them in
    // the bucket move up.
    doc.ResetMainPos();
    ASSERT_TRUE(doc.FindElem(u"b") && doc.SavePos(names[1]) && doc.SavePos(names[16]));
    ASSERT_TRUE(doc.SavePos(u"b") && doc.RemoveElem());
    EXPECT_FALSE(doc.RestorePos(u"b"));
    for (int i : {0, 1, 3, 14, 16}) {
        SCOPED_TRACE(i);
        const char* tag = i == 1 || i == 16 ? "" : i == 3 ? "c" : "a";
        EXPECT_EQ(doc.RestorePos(names[i]), *tag != 0);
        EXPECT_TRUE(!*tag || narrow(doc.GetTagName()) == tag);
    }
    ASSERT_TRUE(doc.SavePos(names[16]) && doc.RestorePos(names[16]));  // saving still works
}
