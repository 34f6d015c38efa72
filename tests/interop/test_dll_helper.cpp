// CDLLHelper with two real fixture libraries built next to this program.
#include "interop/interop.h"
#include "interop_test_util.h"

#include <gtest/gtest.h>

using interoptest::fixtureA;
using interoptest::fixtureB;

namespace {

// nxfixture_add(2, 3): 5 from library A, 105 from B, -1 without the export.
int callAdd(const CDLLHelper& dll) {
    auto add = reinterpret_cast<int (*)(int, int)>(dll.GetProcAddress("nxfixture_add"));
    return add ? add(2, 3) : -1;
}

// Whether the file is loaded in this process at all (adopts and frees again).
bool isLoaded(const std::u16string& path) { return CDLLHelper().FindDll(path); }

TEST(CDLLHelper, LoadsReloadsAndFreesAndAFailedLoadLeavesItEmpty) {
    CDLLHelper dll;
    EXPECT_EQ(-1, callAdd(dll));
    EXPECT_EQ(nullptr, dll.get_DllHandle());
    dll.FreeDll();  // empty: nothing to do
    ASSERT_TRUE(dll.LoadDll(fixtureA()));
    EXPECT_TRUE(dll.IsValidDll());
    EXPECT_EQ(5, callAdd(dll));
    EXPECT_EQ(nullptr, dll.GetProcAddress("nxfixture_missing"));
    EXPECT_NE(nullptr, static_cast<HMODULE>(dll));
    ASSERT_TRUE(dll.LoadDllEx(fixtureB(), 0x8));  // altered search path; A is freed
    EXPECT_EQ(105, callAdd(dll));
    EXPECT_FALSE(isLoaded(fixtureA()));
    EXPECT_TRUE(isLoaded(fixtureB()));
    EXPECT_FALSE(dll.LoadDll(fixtureA() + u".missing"));  // B is freed all the same
    EXPECT_FALSE(dll.IsValidDll());
    EXPECT_EQ(-1, callAdd(dll));
    EXPECT_FALSE(isLoaded(fixtureB()));
    EXPECT_FALSE(dll.LoadDllEx(u"", 0));
    ASSERT_TRUE(dll.LoadDllEx(fixtureA(), 0));
    EXPECT_EQ(5, callAdd(dll));
    dll.FreeDll();
    dll.FreeDll();
    EXPECT_FALSE(dll.IsValidDll());
    EXPECT_FALSE(isLoaded(fixtureA()));
}

TEST(CDLLHelper, AdoptionsAndCopiesHoldReferencesOfTheirOwn) {
    CDLLHelper owner;
    EXPECT_FALSE(owner.FindDll(fixtureA()));  // not loaded: nothing is loaded by a find
    EXPECT_FALSE(isLoaded(fixtureA()));
    EXPECT_FALSE(owner.FindDll(u""));
    ASSERT_TRUE(owner.LoadDll(fixtureA()));
    {
        CDLLHelper byPath, byFileName;
        ASSERT_TRUE(byPath.FindDll(fixtureA()));
        ASSERT_TRUE(byFileName.FindDll(interoptest::u16(NXTEST_FIXTURE_A_NAME)));
        EXPECT_EQ(owner.get_DllHandle(), byFileName.get_DllHandle());
        // A held library is kept, whatever the name asked for.
        EXPECT_TRUE(byPath.FindDll(u"no-such-library"));
        EXPECT_EQ(owner.get_DllHandle(), byPath.get_DllHandle());
    }
    // Both adopters have freed their references; the owner's library is still there.
    EXPECT_EQ(5, callAdd(owner));
    owner.FreeDll();
    EXPECT_FALSE(isLoaded(fixtureA()));
    EXPECT_FALSE(owner.FindDll(u"no-such-library"));

    CDLLHelper other;
    ASSERT_TRUE(other.LoadDll(fixtureB()));
    {
        ASSERT_TRUE(owner.LoadDll(fixtureA()));
        CDLLHelper copy(owner);
        EXPECT_EQ(owner.get_DllHandle(), copy.get_DllHandle());
        other = owner;  // frees B, takes A
        EXPECT_EQ(owner.get_DllHandle(), other.get_DllHandle());
        EXPECT_FALSE(isLoaded(fixtureB()));
        other = other;
        owner.FreeDll();
        EXPECT_EQ(5, callAdd(copy));
    }
    EXPECT_EQ(5, callAdd(other));
    other.FreeDll();
    EXPECT_FALSE(isLoaded(fixtureA()));
    EXPECT_FALSE(CDLLHelper(owner).IsValidDll());  // a copy of an empty object
}

}  // namespace
