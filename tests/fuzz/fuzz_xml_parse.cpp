// Fuzz target of the XML parser: arbitrary bytes are read as UTF-8, parsed, and the index is
// checked against the text; the node scanner's fast runs are compared with the one-character
// form, and a node walk and a few edits run on whatever was parsed.
#include "fuzz_util.h"
#include "xml/markup_check.h"
#include "xml/parse_node.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string text = nxfuzz::converted<std::u16string>([&](char16_t* out, int) {
        return CMarkup::UTF8To16(out, reinterpret_cast<const char*>(data), static_cast<int>(size));
    });

    // Both forms of the scanner split the text into the same nodes.
    CMarkup::TokenPos fast(text.c_str(), 0), slow(text.c_str(), 0);
    for (;;) {
        CMarkup::NodePos a, b;
        const int ra = nxxml::parseNodeImpl<true>(fast, a);
        if (ra != nxxml::parseNodeImpl<false>(slow, b) || a.start != b.start ||
            a.length != b.length || a.nodeFlags != b.nodeFlags || a.meta != b.meta ||
            fast.next != slow.next)
            nxfuzz::fail("scanner forms disagree", std::to_string(a.start));
        if (ra == -2 || a.length == 0)
            break;
    }

    nxtest::MarkupInspector doc(size && (data[0] & 1) ? CMarkup::DOC_IGNORE_CASE : 0);
    doc.SetDoc(text);
    std::string problem = doc.CheckIndex();
    if (!problem.empty())
        nxfuzz::fail("index after parse", problem);

    // Walk every node of the top level and of the first element, then edit a little.
    for (int i = 0; i < 64 && doc.FindNode(); ++i)
        doc.GetTagName();
    doc.ResetPos();
    if (doc.FindElem()) {
        doc.GetData();
        doc.GetAttribName(0);
        doc.IntoElem();
        for (int i = 0; i < 64 && doc.FindNode(); ++i)
            doc.GetData();
        doc.OutOfElem();
        doc.SetAttrib(u"fz", u"1<\"");
        doc.AddChildElem(u"added", u"x&y");
        problem = doc.CheckIndex();
        if (!problem.empty())
            nxfuzz::fail("index after edits", problem);
    }
    return 0;
}
