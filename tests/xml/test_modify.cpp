// Edits: the exact text each operation writes, the positions it leaves and the index it keeps;
// then random sequences of finds and edits on random documents (seeded, reproducible), after
// every step of which the index must agree with the text and with a fresh parse of it.
#include "markup_check.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <random>
#include <tuple>

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

TEST(XmlAddElem, WritesElementsWithLineBreaksOrWithoutEscapedDataAndOptions) {
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

    // Data escaped or wrapped, and the element options.
    const std::tuple<const char16_t*, int, const char*> cases[] = {
        {u"x<y", 0, "<a>x&lt;y</a>\r\n"},
        {u"x<y", CMarkup::OPT_CDATA, "<a><![CDATA[x<y]]></a>\r\n"},
        {u"&amp;\"", CMarkup::OPT_KEEP_REFS | CMarkup::OPT_ESCAPE_QUOTES, "<a>&amp;&quot;</a>\r\n"},
        {nullptr, CMarkup::OPT_XHTML_SPACE, "<a />\r\n"},
        {nullptr, CMarkup::OPT_NO_END, "<a>\r\n"},
        {u"", CMarkup::OPT_NO_LINES, "<a/>"},
    };
    for (const auto& [data, flags, text] : cases) {
        MarkupInspector added;
        ASSERT_TRUE(added.AddElem(u"a", data, flags)) << text;
        EXPECT_EQ(checkedText(added), text);
    }
    MarkupInspector blank;
    EXPECT_FALSE(blank.AddElem(u"a", u"data", CMarkup::OPT_NO_END));
    EXPECT_FALSE(blank.AddChildElem(u"a"));  // no main position
    EXPECT_FALSE(blank.AddElem(MCD_CSTR()));
    EXPECT_EQ(blank.GetDoc(), u"");
    // A child added to an element without an end tag gives it one (and clears its "!").
    ASSERT_TRUE(blank.AddElem(u"a", MCD_CSTR(), CMarkup::OPT_NO_END) && blank.AddChildElem(u"b"));
    EXPECT_EQ(checkedText(blank), "<a>\r\n<b/>\r\n</a>\r\n");
}

// A record holds end tags shorter than 512 units, start tags up to 4,194,303 units and levels
// up to 65,535: an empty element named with over 508 units cannot get content (found by
// fuzzing), nor can one at the deepest level get a child element, nor may a start tag grow
// past the limit. Such edits return false and change nothing; the largest that fits works.
TEST(XmlAddElem, RefusesEditsARecordCannotHold) {
    // Rows: the edit, whether it works ('+') at each limit below, in order.
    const std::pair<std::function<bool(CMarkup&)>, const char*> edits[] = {
        {[](CMarkup& d) { return d.AddChildElem(u"c"); }, "+-+-"},
        {[](CMarkup& d) { return d.SetData(u"d"); }, "+--+"},  // not over a child element
        {[](CMarkup& d) { return d.SetElemContent(u"<x/>"); }, "+-+-"},
        {[](CMarkup& d) { return d.SetElemContent(u"t"); }, "+-++"},
        {[](CMarkup& d) { return d.AddChildSubDoc(u"<x/>"); }, "+-+-"},
        {[](CMarkup& d) { return d.IntoElem() && d.AddElem(u"c"); }, "+-+-"},
        {[](CMarkup& d) { return d.IntoElem() && d.AddNode(CMarkup::NODE_COMMENT, u"c"); }, "+-++"},
        {[](CMarkup& d) { return d.IntoElem() && d.AddNode(CMarkup::NODE_ELEMENT, u"x"); }, "+-+-"},
    };
    const std::u16string deepest = nxtest::nested(65536);
    const int limits[] = {508, 509, 65535, 65536};  // name length, or the main element's level + 1
    for (int at = 0; at < 4; ++at) {
        const int limit = limits[at];
        const bool deep = limit > 509;
        const std::u16string text =
            deep ? deepest : u"<" + std::u16string(static_cast<std::size_t>(limit), u'n') + u"/>";
        for (std::size_t e = 0; e < std::size(edits); ++e) {
            SCOPED_TRACE("limit " + std::to_string(limit) + ", edit " + std::to_string(e));
            MarkupInspector doc{MCD_CSTR(text)};
            for (int level = 0; level < (deep ? limit : 1); ++level)
                ASSERT_TRUE(doc.FindElem() && (level + 1 == limit || !deep || doc.IntoElem()));
            const bool done = edits[e].first(doc);
            EXPECT_EQ(done, edits[e].second[at] == '+');
            EXPECT_EQ(doc.CheckIndex(), "");
            EXPECT_TRUE(done || doc.GetDoc() == text);
            if (!deep)  // a fresh parse of the deepest document is checked by the parser's tests
                checkedText(doc);
        }
        if (!deep) {
            EXPECT_EQ(MarkupInspector().AddElem(text.substr(1, text.size() - 3)), limit == 508);
        }
    }
    // Setting content over the deepest element, from its parent, is refused with a message.
    MarkupInspector doc(MCD_CSTR(deepest.c_str()));
    while (doc.FindElem() && doc.IntoElem()) {
    }
    EXPECT_FALSE(doc.OutOfElem() && doc.SetElemContent(u"<x/>"));
    EXPECT_EQ(narrow(doc.GetError()), "Element at offset 0 nested more than 65536 elements deep");
    EXPECT_TRUE(doc.SetElemContent(u"text"));
    EXPECT_EQ(doc.GetData(), u"text");

    const auto units = [](std::size_t n) { return std::u16string(n, u'v'); };
    // Rows: the value's length that just fits, then one unit more.
    const std::pair<std::function<bool(CMarkup&, std::size_t)>, std::size_t> tags[] = {
        {[&](CMarkup& d, std::size_t n) { return d.SetAttrib(u"a", units(n).c_str()); },
         4194303 - 9},  // <r a="..."/>
        {[&](CMarkup& d, std::size_t n) {
             return d.IntoElem() && d.AddNode(CMarkup::NODE_ELEMENT, units(n).c_str());
         },
         4194303 - 3},  // <...vvv/>
    };
    for (const auto& [edit, fits] : tags) {
        for (std::size_t n : {fits, fits + 1}) {
            MarkupInspector tag(MCD_CSTR(u"<r a=\"1\"/>"));
            ASSERT_TRUE(tag.FindElem());
            EXPECT_EQ(edit(tag, n), n == fits) << n;
            EXPECT_EQ(tag.CheckIndex(), "");
            EXPECT_TRUE(n == fits || narrow(tag.GetDoc()) == "<r a=\"1\"/>") << n;
        }
    }
}

TEST(XmlSetAttrib, AddsOrReplacesQuotedValues) {
    MarkupInspector doc(MCD_CSTR(u"<a/>"));
    ASSERT_TRUE(doc.FindElem() && doc.SetAttrib(u"x", u"1") && doc.SetAttrib(u"x", u"1"));
    EXPECT_EQ(checkedText(doc), "<a x=\"1\"/>");
    ASSERT_TRUE(doc.AddAttrib(u"y", u"say \"hi\" & <go>") && doc.SetAttrib(u"x", 42));
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

TEST(XmlRemove, RemovesElementsWithTheirLineBreakAndNodesWithTheLoneEndMark) {
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

    MarkupInspector nodes(MCD_CSTR(u"<r><a/>t<!--c--></x></r>"));
    EXPECT_EQ(nodes.Structure(), "r@0+24[3/4]~{a@3+4[4/0] } ");
    ASSERT_TRUE(nodes.FindElem() && nodes.IntoElem());
    ASSERT_EQ(nodes.FindNode(CMarkup::NODE_LONE_END_TAG), CMarkup::NODE_LONE_END_TAG);
    ASSERT_TRUE(nodes.RemoveNode());
    EXPECT_EQ(checkedText(nodes), "<r><a/>t<!--c--></r>");  // the mark goes with the tag
    // Each removal makes the node before current.
    using M = CMarkup;
    for (int type : {int{M::NODE_COMMENT}, int{M::NODE_TEXT}, int{M::NODE_ELEMENT}, 0}) {
        EXPECT_EQ(nodes.GetNodeType(), type);
        EXPECT_EQ(nodes.RemoveNode(), type != 0) << type;
    }
    EXPECT_EQ(checkedText(nodes), "<r></r>");
}

namespace {

const char16_t* const kNames[] = {u"a", u"b", u"item", u"x:y", u"c_1"};
const char16_t* const kData[] = {u"",      u"x",        u"a b", u"1<2",
                                 u"&amp;", u"q\"t'", u"]]>", u"\u00e9\u4e2d"};
const char16_t* const kContent[] = {u"", u"text", u"<p/>", u"<p a='1'>t</p><q/>", u"<!--c-->x"};

struct Walker {
    std::mt19937 rng;
    int unended = 0;  // element names without end tags handed out

    template <typename T, std::size_t N>
    T pick(T (&items)[N]) {
        return items[rng() % N];
    }
    int below(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }

    // A small well-formed document with attributes, text, comments, CDATA and line breaks.
    std::u16string document() {
        std::u16string out = below(3) == 0 ? u"<?xml version=\"1.0\"?>\r\n" : u"";
        element(out, 0);
        return below(3) == 0 ? out + u"\r\n<!--tail-->" : out;
    }

    void element(std::u16string& out, int depth) {
        const std::u16string name = pick(kNames);
        out += u"<" + name;
        for (int i = below(3); i > 0; --i)
            out += u" k" + std::u16string(1, static_cast<char16_t>(u'0' + i)) + u"=\"v\"";
        if (depth > 3 || below(4) == 0) {
            out += u"/>";
            return;
        }
        out += u">";
        const char16_t* pieces[] = {u"\r\n", u"t&lt;", u"<!--n-->", u"<![CDATA[<d>]]>"};
        for (int i = below(5); i > 0; --i) {
            const int k = below(5);
            if (k < 4)
                out += pieces[k];
            else
                element(out, depth + 1);
        }
        out += u"</" + name + u">";
    }

    // One random find or edit; returns its name for failure messages.
    const char* step(MarkupInspector& doc) {
        using M = CMarkup;
        const int flags = (below(3) == 0 ? M::OPT_NO_LINES : 0) |
                          (below(4) == 0 ? M::OPT_CDATA : 0) |
                          (below(4) == 0 ? M::OPT_XHTML_SPACE : 0);
        switch (below(24)) {
        case 0: doc.FindElem(below(2) ? pick(kNames) : nullptr); return "FindElem";
        case 1: doc.FindChildElem(below(2) ? pick(kNames) : nullptr); return "FindChildElem";
        case 2: doc.IntoElem(); return "IntoElem";
        case 3: doc.OutOfElem(); return "OutOfElem";
        case 4: doc.FindNode(below(2) ? 0 : 1 << below(8)); return "FindNode";
        case 5: if (below(4) == 0) doc.ResetPos(); else doc.ResetMainPos(); return "Reset";
        case 6: doc.AddElem(pick(kNames), pick(kData), flags); return "AddElem";
        case 7: doc.InsertElem(pick(kNames), pick(kData), flags); return "InsertElem";
        case 8: doc.AddChildElem(pick(kNames), pick(kData), flags); return "AddChildElem";
        case 9: doc.InsertChildElem(pick(kNames), below(100), flags); return "InsertChildElem";
        case 10: {
            // Unique names: a start tag without an end tag inside an element of the same name
            // would take that element's end tag in a fresh parse.
            const int n = unended++;
            const char16_t name[] = {u'u', static_cast<char16_t>(u'A' + n % 26),
                                     static_cast<char16_t>(u'A' + n / 26 % 26), 0};
            doc.AddElem(name, MCD_CSTR(), M::OPT_NO_END | (flags & M::OPT_NO_LINES));
            return "AddElem NO_END";
        }
        case 11: doc.SetAttrib(u"k1", pick(kData)); return "SetAttrib";
        case 12: doc.SetChildAttrib(u"n", below(1000)); return "SetChildAttrib";
        case 13:
            if (doc.GetNodeType() != M::NODE_DOCUMENT_TYPE &&
                doc.GetNodeType() != M::NODE_PROCESSING_INSTRUCTION)
                doc.SetData(pick(kData), flags & M::OPT_CDATA);
            return "SetData";
        case 14: doc.SetChildData(pick(kData), flags & M::OPT_CDATA); return "SetChildData";
        case 15: doc.SetElemContent(pick(kContent)); return "SetElemContent";
        case 16: doc.AddSubDoc(u"<s k='1'><t/>x</s>"); return "AddSubDoc";
        case 17: doc.InsertChildSubDoc(u"<s/><s2>y</s2>"); return "InsertChildSubDoc";
        case 18: {
            const int types[] = {M::NODE_COMMENT, M::NODE_TEXT, M::NODE_CDATA_SECTION,
                                 M::NODE_PROCESSING_INSTRUCTION, M::NODE_ELEMENT,
                                 M::NODE_WHITESPACE};
            const char16_t* texts[] = {u"c", u"a&b", u"d", u"pi x", u"e", u" "};
            const int k = below(6);
            (doc.*(below(2) ? &M::AddNode : &M::InsertNode))(types[k], texts[k]);
            return "AddNode";
        }
        case 19: doc.RemoveElem(); return "RemoveElem";
        case 20: doc.RemoveChildElem(); return "RemoveChildElem";
        case 21: doc.RemoveNode(); return "RemoveNode";
        case 22: doc.SavePos(pick(kNames)); return "SavePos";
        default: doc.RestorePos(pick(kNames)); return "RestorePos";
        }
    }
};

}  // namespace

TEST(XmlEditSequences, KeepTheIndexEqualToAFreshParse) {
    for (unsigned seed = 1; seed <= 3000; ++seed) {
        Walker walk{std::mt19937(seed)};
        MarkupInspector doc;
        doc.SetDoc(walk.document());
        ASSERT_EQ(doc.CheckIndex(), "") << "seed " << seed;
        for (int i = 0; i < 25; ++i) {
            const std::u16string before = doc.GetDoc();
            const char* op = walk.step(doc);
            const auto where = [&] {
                return "seed " + std::to_string(seed) + " step " + std::to_string(i) + " " + op +
                       "\nbefore: " + narrow(before) + "\nafter:  " + narrow(doc.GetDoc());
            };
            checkedText(doc);
            ASSERT_FALSE(HasFailure()) << where();
        }
    }
}
