// The document model and its cursor: construction and copy, documents over more than one
// segment of records, element and node finds, the queries at the main and child positions, and
// saved positions with their buckets.
#include "markup_check.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using nxtest::MarkupInspector;
using nxtest::narrow;

namespace {

// Counts the used entries of a saved-position bucket.
class ModelProbe : public MarkupInspector {
public:
    using MarkupInspector::MarkupInspector;
    int BucketUsed(const char16_t* name) const {
        const int bucket = SavedPosMap::Hash(name);
        const SavedPosEntry* b = savedPositions.table ? savedPositions.table[bucket] : nullptr;
        int n = 0;
        for (; b && (b[n].entryFlags & SAVED_USED); ++n)
            if (b[n].entryFlags & SAVED_LAST)
                return n + 1;
        return n;
    }
};

}  // namespace

TEST(XmlModel, StartsEmptyAndCopiesAreIndependent) {
    CMarkup empty;
    EXPECT_EQ(narrow(empty.GetError()), "Empty document");
    EXPECT_FALSE(empty.IsWellFormed());
    EXPECT_FALSE(empty.FindElem() || empty.FindChildElem() || empty.FindNode());

    MarkupInspector source(MCD_CSTR(u"<r><a/></r>"));
    source.SavePos(u"p");
    MarkupInspector copy(source);
    EXPECT_EQ(copy.Structure(), source.Structure());
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
}

TEST(XmlModel, ParsesAndCopiesDocumentsWithMoreThanOneSegmentOfElements) {
    const int count = 150000;
    std::u16string text = u"<r>";
    for (int i = 0; i < count; ++i)
        text += u"<e/>";
    MarkupInspector doc;
    ASSERT_TRUE(doc.SetDoc(text + u"</r>"));
    ASSERT_GE(doc.Positions().SegsUsed(), 3);
    EXPECT_EQ(doc.CheckIndex(), "");
    const int r = doc.Elem(0).child;
    EXPECT_EQ(doc.Elem(doc.Elem(doc.Elem(r).child).prev).start, 3 + 4 * (count - 1));
    MarkupInspector copy(doc);  // holds exactly the records handed out
    EXPECT_EQ(copy.Positions().GetSize(), count + 2);
    EXPECT_EQ(copy.CheckIndex(), "");
}

TEST(XmlNavigate, FindsElementsBySiblingOrderAndName) {
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
    const struct {
        const char16_t* name;
        int flags;
        bool found;
    } names[] = {{u"item", 0, true},     {u"item[2]", 0, true}, {u"item/x", 0, true},
                 {u"item x", 0, true},   {u"items", 0, false},  {u"ite", 0, false},
                 {u"ITEM", 0, false},    {u"ITEM", CMarkup::DOC_IGNORE_CASE, true}};
    for (const auto& n : names) {
        CMarkup item(n.flags);
        item.SetDoc(u"<item/>");
        EXPECT_EQ(item.FindElem(n.name), n.found) << narrow(n.name) << " flags " << n.flags;
    }
}

TEST(XmlNavigate, FindsChildElementsFromTheRoot) {
    MarkupInspector doc(MCD_CSTR(u"<r><a>1</a><b>2</b></r>"));
    EXPECT_TRUE(doc.FindChildElem(u"b"));  // moves to the root first
    EXPECT_FALSE(doc.FindChildElem(u"a"));
    EXPECT_EQ(narrow(doc.GetTagName() + u"/" + doc.GetChildTagName() + u"=" + doc.GetChildData()),
              "r/b=2");
    doc.ResetChildPos();
    EXPECT_TRUE(doc.FindChildElem() && doc.IntoElem());
    EXPECT_EQ(narrow(doc.GetData()), "1");
    EXPECT_EQ(doc.CheckIndex(), "");
}

TEST(XmlNavigate, ReadsDataAttributesAndContent) {
    struct Case {
        const char16_t* doc;
        const char* data;
    } cases[] = {
        {u"<a>x &amp; y</a>", "x & y"}, {u"<a>1<!--c-->2<![CDATA[<3>]]></a>", "12<3>"},
        {u"<a><b/></a>", ""}, {u"<a/>", ""}, {u"<a> <?p?> t </a>", " t "},
    };
    for (const Case& c : cases) {
        CMarkup doc(MCD_CSTR(c.doc));
        ASSERT_TRUE(doc.FindElem());
        EXPECT_EQ(narrow(doc.GetData()), c.data) << narrow(c.doc);
    }
    // Attribute names match exactly; values are unescaped, a bare name is its own value.
    CMarkup doc(MCD_CSTR(u"<a id='7' Name = \"x&lt;y\" bare other=v/w>in<b/>side</a>"));
    ASSERT_TRUE(doc.FindElem());
    const struct {
        const char16_t* name;
        const char* value;
    } attribs[] = {
        {u"id", "7"}, {u"Name", "x<y"}, {u"name", ""}, {u"bare", "bare"}, {u"other", "v/w"}};
    for (const auto& a : attribs)
        EXPECT_EQ(narrow(doc.GetAttrib(a.name)), a.value) << narrow(a.name);
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
    struct Step {
        int mask;
        int type;
        const char* tag;
        const char* data;
    };
    const auto walk = [&doc](const char* what, std::initializer_list<Step> steps) {
        int i = 0;
        for (const Step& s : steps) {
            SCOPED_TRACE(std::string(what) + " step " + std::to_string(i++));
            EXPECT_EQ(doc.FindNode(s.mask), s.type);
            EXPECT_EQ(narrow(doc.GetTagName()), s.tag);
            EXPECT_EQ(narrow(doc.GetData()), s.data);
        }
    };
    using M = CMarkup;
    walk("top", {{0, M::NODE_PROCESSING_INSTRUCTION, "xml", "xml version='1.0'"},
                 {0, M::NODE_DOCUMENT_TYPE, "r", "<!DOCTYPE r>"}, {0, M::NODE_ELEMENT, "r", ""}});
    ASSERT_TRUE(doc.IntoElem());
    // Elements are stepped over whole: y's comment is not visited.
    walk("all", {{0, M::NODE_TEXT, "#text", "a"}, {0, M::NODE_ELEMENT, "x", ""},
                 {0, M::NODE_TEXT, "#text", "b"}, {0, M::NODE_COMMENT, "#comment", "1"},
                 {0, M::NODE_ELEMENT, "y", ""}, {0, M::NODE_CDATA_SECTION, "#cdata-section", "d"},
                 {0, M::NODE_LONE_END_TAG, "z", "z"},
                 {0, M::NODE_PROCESSING_INSTRUCTION, "p", "p q"}, {0, M::NODE_ERROR, "", "<!x>"},
                 {0, 0, "", "<!x>"}});  // at the end the cursor stays on the last node
    doc.ResetMainPos();
    walk("masked", {{M::NODE_COMMENT, M::NODE_COMMENT, "#comment", "1"},
                    {M::NODE_LONE_END_TAG, M::NODE_LONE_END_TAG, "z", "z"},
                    {M::NODE_COMMENT, 0, "z", "z"}});
    // FindElem continues from the node's preceding element.
    doc.ResetMainPos();
    walk("text", {{M::NODE_TEXT, M::NODE_TEXT, "#text", "a"}});
    EXPECT_TRUE(doc.FindElem());
    EXPECT_EQ(narrow(doc.GetTagName()), "x");
    doc.ResetPos();
    ASSERT_EQ(doc.FindNode(), CMarkup::NODE_PROCESSING_INSTRUCTION);
    EXPECT_EQ(narrow(doc.GetAttrib(u"version")), "1.0");
    EXPECT_EQ(narrow(doc.GetAttribName(0)), "version");
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

    const struct {
        const char16_t* doc;
        const char* encoding;
    } cases[] = {{u"<?xml version=\"1.0\" encoding=\"UTF-8\"?><r/>", "UTF-8"},
                 {u"  <?xml encoding='latin'?>", "latin"},
                 {u"<r/><?xml encoding='x'?>", ""},
                 {u"<?xml encoding='x'", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(narrow(CMarkup::GetDeclaredEncoding(c.doc)), c.encoding) << narrow(c.doc);
}

TEST(XmlSavedPositions, RestoresMainChildAndParentPositions) {
    MarkupInspector doc(MCD_CSTR(u"<r><a><b/></a><c/></r>"));
    EXPECT_FALSE(doc.SavePos(MCD_CSTR(static_cast<const char16_t*>(nullptr))));
    EXPECT_FALSE(doc.RestorePos(u"nothing"));
    EXPECT_TRUE(doc.SavePos(u"top"));  // no main position: the virtual root
    ASSERT_TRUE(doc.FindElem() && doc.FindChildElem(u"a") && doc.SavePos(u"child"));
    ASSERT_TRUE(doc.IntoElem() && doc.SavePos(u"main") && doc.IntoElem() && doc.SavePos(u"parent"));
    doc.ResetPos();
    ASSERT_TRUE(doc.RestorePos(u"child"));
    EXPECT_EQ(narrow(doc.GetTagName() + u"/" + doc.GetChildTagName()), "r/a");
    ASSERT_TRUE(doc.RestorePos(u"main"));
    EXPECT_EQ(narrow(doc.GetTagName() + u"/" + doc.GetChildTagName()), "a/");
    ASSERT_TRUE(doc.RestorePos(u"parent"));
    EXPECT_EQ(doc.GetTagName(), u"");
    EXPECT_TRUE(doc.FindElem(u"b"));
    ASSERT_TRUE(doc.RestorePos(u"top"));
    EXPECT_TRUE(doc.FindElem(u"r"));
    EXPECT_FALSE(doc.RestorePos(u"Main"));  // names are case-sensitive
    doc.SetDoc(doc.GetDoc());  // a parse drops saved positions
    EXPECT_FALSE(doc.RestorePos(u"top"));
}

TEST(XmlSavedPositions, GrowingABucketKeepsEveryNameAndCopiesTakeTheUsedEntries) {
    ModelProbe doc(MCD_CSTR(u"<r/>"));
    // Names of one code unit each: 'a' + 7k all fall into the bucket of 'a'.
    std::u16string names[16];
    for (int i = 0; i < 16; ++i) {
        names[i] = std::u16string(1, static_cast<char16_t>(u'a' + 7 * i));
        ASSERT_EQ(CMarkup::SavedPosMap::Hash(names[i].c_str()), CMarkup::SavedPosMap::Hash(u"a"));
    }
    for (int i = 0; i < 15; ++i)
        doc.SavePos(names[i]);  // the bucket grows twice
    doc.SavePos(names[3]);      // overwrites, no new entry
    EXPECT_EQ(doc.BucketUsed(u"a"), 15);
    ModelProbe copy;
    static_cast<CMarkup&>(copy) = doc;
    EXPECT_EQ(copy.BucketUsed(u"a"), 15);
    for (int i = 0; i < 15; ++i) {
        EXPECT_TRUE(doc.RestorePos(names[i])) << i;
        EXPECT_TRUE(copy.RestorePos(names[i])) << i;
    }
    EXPECT_FALSE(doc.RestorePos(names[15]));
}

TEST(XmlSavedPositions, DropsPositionsOfRemovedElementsAndCompactsTheBucket) {
    ModelProbe doc(MCD_CSTR(u"<r><a/><b/><c/></r>"));
    ASSERT_TRUE(doc.FindElem() && doc.IntoElem() && doc.FindElem(u"a") && doc.SavePos(u"a"));
    // "h" and "o" ('a' + 7 and + 14) share the bucket of "a".
    ASSERT_TRUE(doc.FindElem(u"b") && doc.SavePos(u"b") && doc.SavePos(u"h"));
    ASSERT_TRUE(doc.FindElem(u"c") && doc.SavePos(u"o"));
    doc.ResetMainPos();
    ASSERT_TRUE(doc.FindElem(u"b") && doc.RemoveElem());
    EXPECT_EQ(doc.BucketUsed(u"a"), 2);
    const struct {
        const char16_t* name;
        const char* tag;  // null: dropped
    } cases[] = {{u"a", "a"}, {u"b", nullptr}, {u"h", nullptr}, {u"o", "c"}};
    for (const auto& c : cases) {
        EXPECT_EQ(doc.RestorePos(c.name), c.tag != nullptr) << narrow(c.name);
        if (c.tag) {
            EXPECT_EQ(narrow(doc.GetTagName()), c.tag);
        }
    }
}
