// Random sequences of finds and edits on random documents (seeded, reproducible): after every
// step the index must agree with the text, and a fresh parse of the text must give the same
// element structure as the index the edits maintained.
#include "markup_check.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <random>

using nxtest::MarkupInspector;
using nxtest::narrow;

namespace {

const char16_t* const kNames[] = {u"a", u"b", u"item", u"x:y", u"c_1"};
const char16_t* const kData[] = {u"", u"x", u"a b", u"1<2", u"&amp;", u"q\"t'", u"]]>", u"\u00e9\u4e2d"};
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
        if (below(3) == 0)
            out += u"\r\n<!--tail-->";
        return out;
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
        for (int i = below(5); i > 0; --i) {
            switch (below(5)) {
            case 0: out += u"\r\n"; break;
            case 1: out += u"t&lt;"; break;
            case 2: out += u"<!--n-->"; break;
            case 3: out += u"<![CDATA[<d>]]>"; break;
            default: element(out, depth + 1); break;
            }
        }
        out += u"</" + name + u">";
    }

    // One random find or edit; returns its name for failure messages.
    const char* step(MarkupInspector& doc) {
        const int flags = (below(3) == 0 ? CMarkup::OPT_NO_LINES : 0) |
                          (below(4) == 0 ? CMarkup::OPT_CDATA : 0) |
                          (below(4) == 0 ? CMarkup::OPT_XHTML_SPACE : 0);
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
            std::u16string name = u"u";
            name += static_cast<char16_t>(u'A' + n % 26);
            name += static_cast<char16_t>(u'A' + n / 26 % 26);
            doc.AddElem(name, MCD_CSTR(), CMarkup::OPT_NO_END | (flags & CMarkup::OPT_NO_LINES));
            return "AddElem NO_END";
        }
        case 11: doc.SetAttrib(u"k1", pick(kData)); return "SetAttrib";
        case 12: doc.SetChildAttrib(u"n", below(1000)); return "SetChildAttrib";
        case 13:
            if (doc.GetNodeType() != CMarkup::NODE_DOCUMENT_TYPE &&
                doc.GetNodeType() != CMarkup::NODE_PROCESSING_INSTRUCTION)
                doc.SetData(pick(kData), flags & CMarkup::OPT_CDATA);
            return "SetData";
        case 14: doc.SetChildData(pick(kData), flags & CMarkup::OPT_CDATA); return "SetChildData";
        case 15: doc.SetElemContent(pick(kContent)); return "SetElemContent";
        case 16: doc.AddSubDoc(u"<s k='1'><t/>x</s>"); return "AddSubDoc";
        case 17: doc.InsertChildSubDoc(u"<s/><s2>y</s2>"); return "InsertChildSubDoc";
        case 18: {
            const int types[] = {CMarkup::NODE_COMMENT, CMarkup::NODE_TEXT, CMarkup::NODE_CDATA_SECTION,
                                 CMarkup::NODE_PROCESSING_INSTRUCTION, CMarkup::NODE_ELEMENT,
                                 CMarkup::NODE_WHITESPACE};
            const char16_t* texts[] = {u"c", u"a&b", u"d", u"pi x", u"e", u" "};
            const int k = below(6);
            if (below(2))
                doc.AddNode(types[k], texts[k]);
            else
                doc.InsertNode(types[k], texts[k]);
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
            ASSERT_EQ(doc.CheckIndex(), "") << where();
            const MarkupInspector fresh(MCD_CSTR(doc.GetDoc()));
            ASSERT_EQ(fresh.Structure(), doc.Structure()) << where();
        }
    }
}
