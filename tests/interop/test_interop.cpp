// The interop classes as a host uses them: CShareData within this process and across real ones
// (this program runs itself again as the other side), CDLLHelper with two fixture libraries
// built next to this program.
#include "interop/interop.h"
#include "interop_test_util.h"
#include "log/log.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <regex>
#include <string>
#include <thread>

using interoptest::fixtureA;
using interoptest::fixtureB;
using interoptest::uniqueName;
using nxtest::widen;

namespace {

// Child: plays the other side named by NXTEST_ROLE on the block named by NXTEST_SHM_NAME.
TEST(CShareDataChild, PlaysItsRole) {
    if (!nxtest::isChildProcess())
        return;
    const std::string role = nxtest::getEnv("NXTEST_ROLE");
    const std::u16string name = widen(nxtest::getEnv("NXTEST_SHM_NAME"));
    CShareData shm;
    // answer: checks the parent's pattern, answers in the first bytes, closes, then asks for a
    // view larger than the block with the log open.
    if (role == "answer") {
        ASSERT_TRUE(shm.openSharedFile(name, 64));
        for (int i = 0; i < 64; ++i)
            ASSERT_EQ(static_cast<unsigned char>(i * 3), shm.getSharedData()[i]) << i;
        ASSERT_EQ(4u, shm.writeData(reinterpret_cast<const unsigned char*>("DONE"), 4));
        shm.closeSharedFile();
        ASSERT_TRUE(TRK::TRKLogger::Instance()->InitLog(widen(nxtest::getEnv("NXTEST_LOG_PATH"))));
        EXPECT_FALSE(CShareData().createSharedFile(name, 1 << 20));
    } else {  // creates and holds until killed: no close, the system ends the hold
        ASSERT_TRUE(shm.createSharedFile(name, 32));
        std::memcpy(shm.getSharedData(), "from child", 10);
        std::this_thread::sleep_for(std::chrono::seconds(60));
    }
}

// The other process also logs the view it cannot map: one line, ending in the error number.
TEST(CShareData, IsReadAndWrittenByAnotherProcessAndEndsWithItsLastHolder) {
    const std::string name = uniqueName("pair");
    nxtest::TempDir dir("interop-log");
    const std::filesystem::path log = dir.path() / "shm.log";
    {
        CShareData shm;
        ASSERT_TRUE(shm.createSharedFile(widen(name), 64));
        unsigned char pattern[64], got[64];
        for (int i = 0; i < 64; ++i)
            pattern[i] = static_cast<unsigned char>(i * 3);
        ASSERT_EQ(64u, shm.writeData(pattern, 64));
        ASSERT_EQ(0, nxtest::runSelf("CShareDataChild.*", {{"NXTEST_ROLE", "answer"},
                                                           {"NXTEST_SHM_NAME", name},
                                                           {"NXTEST_LOG_PATH", log.string()}}));
        ASSERT_EQ(64u, shm.getSharedData(got, 64));
        EXPECT_EQ(0, std::memcmp(got, "DONE", 4));
        EXPECT_EQ(0, std::memcmp(got + 4, pattern + 4, 60));
        EXPECT_TRUE(CShareData().openSharedFile(widen(name), 64));
    }
    EXPECT_FALSE(CShareData().openSharedFile(widen(name), 64));
    const std::regex line(":error CShareData::createSharedFile MapViewOfFile\\(\\) fail\\. fileName=" +
                          name + ", size=1048576, err=[1-9][0-9]*\r\n$");
    EXPECT_TRUE(std::regex_search(nxtest::readFileBytes(log), line)) << nxtest::readFileBytes(log);
}

// A killed creator's block stays while this process holds it and goes when nobody else did.
TEST(CShareData, OutlivesAKilledCreatorWhileHeldAndGoesWithAKilledLastHolder) {
    for (bool held : {true, false}) {
        SCOPED_TRACE(held);
        const std::string name = uniqueName("creator");
        const long long child = nxtest::startSelf(
            "CShareDataChild.*", {{"NXTEST_ROLE", "hold"}, {"NXTEST_SHM_NAME", name}});
        ASSERT_NE(0, child);
        CShareData shm;
        const bool opened = nxtest::waitUntil([&] {
            return shm.openSharedFile(widen(name), 32) &&
                   std::memcmp(shm.getSharedData(), "from child", 10) == 0;
        });
        if (!held)
            shm.closeSharedFile();
        nxtest::killChild(child);
        ASSERT_TRUE(opened);
        if (held) {
            EXPECT_EQ(0, std::memcmp(shm.getSharedData(), "from child", 10));
            shm.closeSharedFile();
        }
        // Also waited for: the kernel releases a dead holder's block as it tears the process down.
        EXPECT_TRUE(nxtest::waitUntil([&] { return !CShareData().openSharedFile(widen(name), 1); }));
        ASSERT_TRUE(shm.createSharedFile(widen(name), 16));
        EXPECT_EQ(0, std::memcmp(shm.getSharedData(), "\0\0\0\0\0", 5));
    }
}

TEST(CShareData, BoundsEveryCopyOpensAnExistingNameAndRefusesEmptyOrMissingBlocks) {
    const std::u16string name = widen(uniqueName("bounds")), other = widen(uniqueName("other"));
    CShareData a, b, c, wide;
    unsigned char data[65], got[65] = {7};
    std::memset(data, 0xAB, sizeof data);
    EXPECT_FALSE(c.openSharedFile(other, 16));
    EXPECT_FALSE(c.openSharedFile(u"", 16));
    EXPECT_FALSE(c.createSharedFile(u"", 16));
    c.closeSharedFile();  // nothing held: nothing to do
    ASSERT_TRUE(a.createSharedFile(name, 64));
    EXPECT_EQ(64u, a.writeData(data, 64));
    EXPECT_EQ(0u, a.writeData(data, 65));
    EXPECT_EQ(0u, a.getSharedData(got, 65));
    EXPECT_EQ(7, got[0]);  // a refused copy copies nothing
    // Creating an existing name opens that block: both views share its bytes.
    ASSERT_TRUE(b.createSharedFile(name, 64));
    b.getSharedData()[63] = 9;
    EXPECT_EQ(64u, a.getSharedData(got, 64));
    EXPECT_EQ(0xAB, got[0]);
    EXPECT_EQ(9, got[63]);
    // A second create or open of another name keeps the block and makes nothing.
    unsigned char* view = b.getSharedData();
    EXPECT_FALSE(b.createSharedFile(other, 16));
    EXPECT_TRUE(b.openSharedFile(other, 16));
    EXPECT_EQ(view, b.getSharedData());
    EXPECT_FALSE(c.openSharedFile(other, 16));
    // Two holders in one process: closing one keeps the block for the other.
    a.closeSharedFile();
    ASSERT_TRUE(c.openSharedFile(name, 64));
    EXPECT_EQ(9, c.getSharedData()[63]);

    // A view larger than the block fails (well beyond it: Windows maps whole pages); the object
    // keeps its mapping without a view, copies refused, until it is closed.
    EXPECT_FALSE(wide.openSharedFile(name, 1 << 20));
    EXPECT_EQ(nullptr, wide.getSharedData());
    EXPECT_EQ(0u, wide.getSharedData(got, 1));
    EXPECT_EQ(0u, wide.writeData(data, 1));
    EXPECT_TRUE(wide.openSharedFile(name, 64));  // already holds a mapping
    wide.closeSharedFile();
    EXPECT_TRUE(wide.openSharedFile(name, 64));
    EXPECT_EQ(64u, wide.getSharedData(got, 64));
}

// nxfixture_add(2, 3): 5 from library A, 105 from B, -1 without the export.
int callAdd(const CDLLHelper& dll) {
    auto add = reinterpret_cast<int (*)(int, int)>(dll.GetProcAddress("nxfixture_add"));
    return add ? add(2, 3) : -1;
}

// Whether the file is loaded in this process at all.
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
        ASSERT_TRUE(byFileName.FindDll(widen(NXTEST_FIXTURE_A_NAME)));
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
