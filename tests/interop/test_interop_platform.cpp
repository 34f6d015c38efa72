// The platform services under the interop classes: shared-memory names, holders that are
// killed, module paths, and nothing left mapped after many loads and mappings.
#include "interop/interop.h"
#include "interop_test_util.h"
#include "platform/child.h"
#include "platform/dl.h"
#include "platform/process.h"
#include "platform/shm.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

using interoptest::u16;
using interoptest::uniqueName;

namespace {

namespace fs = std::filesystem;

std::u16string killedBlockName(unsigned long pid) { return u16("nxtest.killed." + std::to_string(pid)); }

// Child (run only through the parent below): holds a block named after its own process id
// until it is killed.
TEST(ShmHolderChild, DISABLED_HoldsUntilKilled) {
    CShareData shm;
    ASSERT_TRUE(shm.createSharedFile(killedBlockName(platform::currentProcessId()), 16));
    std::memcpy(shm.getSharedData(), "alive", 5);
    std::this_thread::sleep_for(std::chrono::seconds(60));
}

TEST(ShmPlatform, ABlockGoesWithItsLastHolderWhenThatHolderIsKilled) {
    platform::Child* child = platform::childStart(
        {"--gtest_filter=ShmHolderChild.DISABLED_HoldsUntilKilled", "--gtest_also_run_disabled_tests"});
    ASSERT_NE(nullptr, child);
    const std::u16string name = killedBlockName(platform::childId(child));
    const bool opened = interoptest::waitFor([&] {
        CShareData shm;
        return shm.openSharedFile(name, 16) && std::memcmp(shm.getSharedData(), "alive", 5) == 0;
    });
    // Only the child holds it now; killing the child ends the block.
    platform::childStop(child);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(interoptest::waitFor([&] { return !CShareData().openSharedFile(name, 1); }));
    CShareData shm;
    ASSERT_TRUE(shm.createSharedFile(name, 16));
    EXPECT_EQ(0, std::memcmp(shm.getSharedData(), "\0\0\0\0\0", 5));
}

#ifndef _WIN32
TEST(ShmPlatform, MapsBlockNamesToObjectNamesOneToOne) {
    const struct { const char16_t* name; const char* system; } cases[] = {
        {u"cap.frame", "/nxshm.cap.frame"},        {u"Local\\cap.frame", "/nxshm.cap.frame"},
        {u"Global\\cap.frame", "/nxshm.cap.frame"}, {u"Session\\1\\x", "/nxshm.Session\\1\\x"},
        {u"a/b%c", "/nxshm.a%2Fb%25c"},            {u"a%2Fb", "/nxshm.a%252Fb"},
        {u"tab\there", "/nxshm.tab%09here"},       {u"\u00e9t\u00e9", "/nxshm.\xC3\xA9t\xC3\xA9"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.system, platform::shmSystemName(c.name)) << c.system;
    // Long names are cut to a system-sized name that still tells them apart.
    std::u16string longA(400, u'a'), longB = longA;
    longB.back() = u'b';
    const std::string a = platform::shmSystemName(longA);
    EXPECT_LE(a.size(), 256u);
    EXPECT_NE(a, platform::shmSystemName(longB));
    EXPECT_EQ(0u, a.find("/nxshm.aaaa"));
    // The names reach the system: a long one and one with a slash work end to end.
    for (const std::u16string& name : {longB, std::u16string(u"nxtest/slash%")}) {
        CShareData x, y;
        ASSERT_TRUE(x.createSharedFile(name, 8));
        x.getSharedData()[0] = 5;
        ASSERT_TRUE(y.openSharedFile(name, 8));
        EXPECT_EQ(5, y.getSharedData()[0]);
    }
}
#endif

TEST(ShmPlatform, RefusesDegenerateRequestsAndReportsAnExistingBlock) {
    EXPECT_EQ(nullptr, platform::shmOpen(u16(uniqueName("none"))));
    EXPECT_EQ(nullptr, platform::shmCreate(u16(uniqueName("zero")), 0));
    platform::shmUnmap(nullptr);
    platform::shmClose(nullptr);
    bool existed[2] = {true, false};
    const std::u16string name = u16(uniqueName("existed"));
    platform::ShmObject* objects[2] = {platform::shmCreate(name, 8, &existed[0]),
                                       platform::shmCreate(name, 8, &existed[1])};
    ASSERT_TRUE(objects[0] && objects[1]);
    EXPECT_FALSE(existed[0]);
    EXPECT_TRUE(existed[1]);
    void* whole = platform::shmMap(objects[1], 0);  // 0: the whole block
    EXPECT_NE(nullptr, whole);
    platform::shmUnmap(whole);
    platform::shmClose(objects[1]);
    platform::shmClose(objects[0]);
}

TEST(DlPlatform, NamesTheFilesOfLoadedModulesAndAThousandLoadsAndMappingsLeaveNothingMapped) {
    const std::u16string exe = platform::executablePath();
    EXPECT_TRUE(fs::exists(fs::path(exe)));
    EXPECT_EQ(exe, platform::modulePath(reinterpret_cast<const void*>(&killedBlockName)));
    EXPECT_TRUE(platform::modulePath(nullptr).empty());
    platform::Module* m = platform::dlLoad(interoptest::fixtureA());
    ASSERT_NE(nullptr, m);
    auto address = reinterpret_cast<const void* (*)()>(platform::dlSymbol(m, "nxfixture_address"));
    ASSERT_NE(nullptr, address);
    EXPECT_TRUE(fs::equivalent(fs::path(platform::modulePath(address())), fs::path(NXTEST_FIXTURE_A)));
    EXPECT_TRUE(platform::dlFree(m));

    const std::u16string name = u16(uniqueName("cycles"));
    auto cycle = [&] {
        CDLLHelper a, adopted;
        a.LoadDll(interoptest::fixtureA());
        adopted.FindDll(interoptest::fixtureA());
        CDLLHelper copy(a);
        a.LoadDll(interoptest::fixtureB());
        CShareData shm;
        shm.createSharedFile(name, 4096);
        shm.getSharedData()[4095] = 1;
    };
    cycle();  // first use of every code path
    const std::size_t before = platform::mappedFileRegionCount();
    ASSERT_GT(before, 0u);
    for (int i = 0; i < 1000; ++i)
        cycle();
    EXPECT_EQ(before, platform::mappedFileRegionCount());
    EXPECT_FALSE(CDLLHelper().FindDll(interoptest::fixtureA()));
    EXPECT_FALSE(CDLLHelper().FindDll(interoptest::fixtureB()));
    EXPECT_FALSE(CShareData().openSharedFile(name, 1));
}

}  // namespace
