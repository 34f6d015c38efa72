// The document model: construction and copy, growth of the segmented record array, saved
// positions and their buckets, and the offset walk after text edits.
#include "markup_check.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using nxtest::MarkupInspector;
using nxtest::narrow;

namespace {

// Exposes the record-array growth and the link and walk operations.
class ModelProbe : public MarkupInspector {
public:
    using MarkupInspector::MarkupInspector;
    void SetFreePos(int n) { freePos = n; }
    using CMarkup::x_Adjust;
    using CMarkup::x_DocChange;
    using CMarkup::x_GetFreePos;
    using CMarkup::x_LinkElem;
    using CMarkup::x_UnlinkElem;
    int BucketSize(int bucket) const {
        const SavedPosEntry* b = savedPositions.table ? savedPositions.table[bucket] : nullptr;
        if (!b)
            return 0;
        int n = 0;
        while (!(b[n].entryFlags & SAVED_LAST))
            ++n;
        return n + 1;
    }
    int BucketUsed(int bucket) const {
        const SavedPosEntry* b = savedPositions.table ? savedPositions.table[bucket] : nullptr;
        int n = 0;
        for (; b && (b[n].entryFlags & SAVED_USED); ++n)
            if (b[n].entryFlags & SAVED_LAST)
                return n + 1;
        return n;
    }
};

}  // namespace

TEST(XmlModel, StartsEmptyAndParsesOnConstruction) {
    CMarkup empty;
    EXPECT_EQ(empty.GetDoc(), u"");
    EXPECT_EQ(narrow(empty.GetError()), "Empty document");
    EXPECT_FALSE(empty.IsWellFormed());
    EXPECT_EQ(empty.GetNodeType(), 0);

    CMarkup doc(MCD_CSTR(u"<r><a/></r>"));
    EXPECT_TRUE(doc.IsWellFormed());
    EXPECT_EQ(doc.GetDocFlags(), 0);
    std::u16string text = u"<x/>";
    CMarkup fromString{MCD_CSTR(text)};
    EXPECT_TRUE(fromString.IsWellFormed());
    EXPECT_FALSE(doc.SetDoc(static_cast<const char16_t*>(nullptr)));
    EXPECT_EQ(doc.GetDoc(), u"");
}

TEST(XmlModel, GrowsTheRecordArrayOneSegmentAtATime) {
    ModelProbe doc;
    ASSERT_TRUE(doc.x_AllocPosArray(65530));
    EXPECT_EQ(doc.Positions().GetSize(), 65530);
    EXPECT_EQ(doc.Positions().SegsUsed(), 1);
    doc.Elem(65529).start = 42;
    ASSERT_TRUE(doc.x_AllocPosArray(200000));
    EXPECT_EQ(doc.Positions().GetSize(), 131072);
    EXPECT_EQ(doc.Positions().SegsUsed(), 2);
    EXPECT_EQ(doc.Elem(65529).start, 42);  // kept when segment 0 was completed
    doc.Elem(131071).start = 7;            // the last record of the new segment is usable
    ASSERT_TRUE(doc.x_AllocPosArray(100));
    EXPECT_EQ(doc.Positions().GetSize(), 131072);

    // Handing out indexes grows by half of the records in use.
    doc.SetFreePos(131072);
    EXPECT_EQ(doc.x_GetFreePos(), 131072);
    EXPECT_EQ(doc.Positions().GetSize(), 196608);
}

TEST(XmlModel, ParsesDocumentsWithMoreThanOneSegmentOfElements) {
    std::u16string text = u"<r>";
    const int count = 150000;
    for (int i = 0; i < count; ++i)
        text += u"<e/>";
    text += u"</r>";
    MarkupInspector doc;
    ASSERT_TRUE(doc.SetDoc(text));
    EXPECT_EQ(doc.FreePos(), count + 2);
    EXPECT_GE(doc.Positions().SegsUsed(), 3);
    EXPECT_EQ(doc.CheckIndex(), "");
    const int r = doc.Elem(0).child;
    const int last = doc.Elem(doc.Elem(r).child).prev;
    EXPECT_EQ(doc.Elem(last).start, 3 + 4 * (count - 1));

    // A copy holds exactly the records handed out.
    MarkupInspector copy(doc);
    EXPECT_EQ(copy.Positions().GetSize(), count + 2);
    EXPECT_EQ(copy.CheckIndex(), "");
}

TEST(XmlModel, SavesAndRestoresNamedPositions) {
    MarkupInspector doc;
    ASSERT_TRUE(doc.SetDoc(u"<r><a><b/></a><c/></r>"));
    const int r = doc.Elem(0).child;
    const int a = doc.Elem(r).child;
    const int b = doc.Elem(a).child;
    const int c = doc.Elem(a).next;

    EXPECT_FALSE(doc.SavePos(MCD_CSTR(static_cast<const char16_t*>(nullptr))));
    EXPECT_FALSE(doc.RestorePos(u"nothing"));
    EXPECT_TRUE(doc.SavePos(u"top"));  // no main position: the parent (virtual root)

    // main position
    EXPECT_TRUE(doc.RestorePos(u"top"));
    doc.SetDoc(doc.GetDoc());  // a parse drops saved positions
    EXPECT_FALSE(doc.RestorePos(u"top"));

    // Walk by hand with RestorePos of entries built through the three kinds.
    ModelProbe probe;
    ASSERT_TRUE(probe.SetDoc(u"<r><a><b/></a><c/></r>"));
    // Saved "main" position at a: parent r, main a.
    probe.SavePos(u"x");
    EXPECT_TRUE(probe.RestorePos(u"x"));
    EXPECT_EQ(probe.ParentPos(), 0);
    EXPECT_EQ(probe.MainPos(), 0);
    (void)b;
    (void)c;
    (void)a;
}

TEST(XmlModel, GrowsSavedPositionBucketsAndOverwritesNames) {
    ModelProbe doc;
    ASSERT_TRUE(doc.SetDoc(u"<r/>"));
    // Names of one code unit each: 'a' + 7k all fall into the bucket of 'a'.
    const int bucket = CMarkup::SavedPosMap::Hash(u"a");
    std::u16string names[16];
    for (int i = 0; i < 16; ++i)
        names[i] = std::u16string(1, static_cast<char16_t>(u'a' + 7 * i));
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(CMarkup::SavedPosMap::Hash(names[i].c_str()), bucket);
    doc.SavePos(names[0]);
    doc.SavePos(names[1]);
    EXPECT_EQ(doc.BucketSize(bucket), 2);
    doc.SavePos(names[2]);
    EXPECT_EQ(doc.BucketSize(bucket), 14);
    for (int i = 3; i < 14; ++i)
        doc.SavePos(names[i]);
    EXPECT_EQ(doc.BucketSize(bucket), 14);
    doc.SavePos(names[14]);
    EXPECT_EQ(doc.BucketSize(bucket), 38);
    EXPECT_EQ(doc.BucketUsed(bucket), 15);
    doc.SavePos(names[3]);  // overwrite, no new entry
    EXPECT_EQ(doc.BucketUsed(bucket), 15);
    for (int i = 0; i < 15; ++i)
        EXPECT_TRUE(doc.RestorePos(names[i])) << i;
    EXPECT_FALSE(doc.RestorePos(names[15]));
    EXPECT_TRUE(doc.SavePos(u"Name"));
    EXPECT_FALSE(doc.RestorePos(u"name"));

    // The copy's buckets hold exactly the used entries.
    ModelProbe copy;
    static_cast<CMarkup&>(copy) = doc;
    EXPECT_EQ(copy.BucketSize(bucket), 15);
    EXPECT_EQ(copy.BucketUsed(bucket), 15);
    EXPECT_TRUE(copy.RestorePos(names[14]));
}

TEST(XmlModel, DropsSavedPositionsOfReleasedElements) {
    ModelProbe doc;
    ASSERT_TRUE(doc.SetDoc(u"<r><a/><b/><c/></r>"));
    const int r = doc.Elem(0).child;
    const int a = doc.Elem(r).child;
    const int b = doc.Elem(a).next;
    // Save main positions by restoring nothing: use x_SetPos through RestorePos of a root save.
    struct Setter : ModelProbe {
        void at(int parent, int main) { x_SetPos(parent, main, 0); }
    };
    static_cast<Setter&>(doc).at(r, a);
    doc.SavePos(u"a");
    static_cast<Setter&>(doc).at(r, b);
    doc.SavePos(u"b");
    doc.SavePos(u"h");  // 'a' + 7: same bucket as "a"
    static_cast<Setter&>(doc).at(r, doc.Elem(b).next);
    doc.SavePos(u"o");  // 'a' + 14
    doc.x_UnlinkElem(b);
    doc.x_CheckSavedPos();
    EXPECT_TRUE(doc.RestorePos(u"a"));
    EXPECT_EQ(doc.MainPos(), a);
    EXPECT_FALSE(doc.RestorePos(u"b"));
    EXPECT_FALSE(doc.RestorePos(u"h"));
    EXPECT_TRUE(doc.RestorePos(u"o"));
    EXPECT_EQ(doc.BucketUsed(CMarkup::SavedPosMap::Hash(u"a")), 2);
}

TEST(XmlModel, CopiesAreIndependent) {
    MarkupInspector source;
    ASSERT_TRUE(source.SetDoc(u"<r><a/></r>"));
    source.SavePos(u"p");
    MarkupInspector copy(source);
    EXPECT_EQ(copy.GetDoc(), source.GetDoc());
    EXPECT_EQ(copy.Structure(), source.Structure());
    ModelProbe& edit = static_cast<ModelProbe&>(static_cast<MarkupInspector&>(copy));
    edit.x_DocChange(3, 0, u"xx");
    edit.x_Adjust(edit.Elem(edit.Elem(0).child).child, 2, true);
    EXPECT_EQ(narrow(source.GetDoc()), "<r><a/></r>");
    EXPECT_EQ(source.Structure(), "r@0+11[3/4]{a@3+4[4/0] } ");
    copy = copy;  // self-assignment changes nothing
    EXPECT_TRUE(copy.RestorePos(u"p"));
}

TEST(XmlModel, AdjustsOffsetsBehindAnEdit) {
    ModelProbe doc;
    ASSERT_TRUE(doc.SetDoc(u"<r><a><b/></a><c><d/></c></r><!--x-->"));
    const int r = doc.Elem(0).child;
    const int a = doc.Elem(r).child;
    // Grow a's start tag by 2 units: its children and everything after move, r grows.
    doc.x_DocChange(2 + 3 - 1 + 0, 0, u"  ");
    doc.Elem(a).SetStartTagLen(doc.Elem(a).StartTagLen() + 2);
    doc.Elem(a).length += 2;
    doc.x_Adjust(a, 2, false);
    EXPECT_EQ(doc.CheckIndex(), "");
    EXPECT_EQ(doc.Structure(), "r@0+31[3/4]{a@3+13[5/4]{b@8+4[4/0] } c@16+11[3/4]{d@19+4[4/0] } } ");

    // After-only: the edit sits after a's content, its children stay.
    doc.x_DocChange(16, 0, u"z");
    doc.x_Adjust(a, 1, true);
    EXPECT_EQ(doc.CheckIndex(), "");
    EXPECT_EQ(doc.Structure(), "r@0+32[3/4]{a@3+13[5/4]{b@8+4[4/0] } c@17+11[3/4]{d@20+4[4/0] } } ");
    EXPECT_EQ(doc.Elem(0).length, static_cast<int>(doc.GetDoc().size()));
}
