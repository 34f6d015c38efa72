// CShareData within this process and across real ones: this program runs itself again as the
// other side.
#include "interop/interop.h"
#include "interop_test_util.h"
#include "log/log.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

using interoptest::u16;
using interoptest::uniqueName;

namespace {

// Child: plays the other side named by NXTEST_ROLE on the block named by NXTEST_SHM_NAME.
TEST(CShareDataChild, PlaysItsRole) {
    if (!nxtest::isChildProcess())
        return;
    const std::string role = nxtest::getEnv("NXTEST_ROLE");
    const std::u16string name = u16(nxtest::getEnv("NXTEST_SHM_NAME"));
    CShareData shm;
    if (role == "answer") {  // checks the parent's pattern, answers in the first bytes, closes;
        ASSERT_TRUE(shm.openSharedFile(name, 64));  // then asks for a view larger than the
        for (int i = 0; i < 64; ++i)                // block with the log open
            ASSERT_EQ(static_cast<unsigned char>(i * 3), shm.getSharedData()[i]) << i;
        ASSERT_EQ(4u, shm.writeData(reinterpret_cast<const unsigned char*>("DONE"), 4));
        shm.closeSharedFile();
        ASSERT_TRUE(TRK::TRKLogger::Instance()->InitLog(u16(nxtest::getEnv("NXTEST_LOG_PATH"))));
        EXPECT_FALSE(CShareData().createSharedFile(name, 1 << 20));
    } else {  // creates and holds until killed: no close, the system ends the hold
        ASSERT_TRUE(shm.createSharedFile(name, 32));
        std::memcpy(shm.getSharedData(), "from child", 10);
        std::this_thread::sleep_for(std::chrono::seconds(60));
    }
}

// The other process also logs the view it cannot map: one line, ending in the system's error
// number.
TEST(CShareData, IsReadAndWrittenByAnotherProcessAndEndsWithItsLastHolder) {
    const std::string name = uniqueName("pair");
    nxtest::TempDir dir("interop-log");
    const std::filesystem::path log = dir.path() / "shm.log";
    {
        CShareData shm;
        ASSERT_TRUE(shm.createSharedFile(u16(name), 64));
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
        // The child has closed; this process still holds the block, so it can be opened.
        EXPECT_TRUE(CShareData().openSharedFile(u16(name), 64));
    }
    EXPECT_FALSE(CShareData().openSharedFile(u16(name), 64));
    const std::regex line(":error CShareData::createSharedFile MapViewOfFile\\(\\) fail\\. fileName=" +
                          name + ", size=1048576, err=[1-9][0-9]*\r\n$");
    EXPECT_TRUE(std::regex_search(nxtest::readFileBytes(log), line)) << nxtest::readFileBytes(log);
}

// A killed creator: the block stays while this process holds it, and goes when the last
// holder was the one killed; a new block of the name starts zero-filled.
TEST(CShareData, OutlivesAKilledCreatorWhileHeldAndGoesWithAKilledLastHolder) {
    for (bool held : {true, false}) {
        SCOPED_TRACE(held);
        const std::string name = uniqueName("creator");
        const long long child = nxtest::startSelf(
            "CShareDataChild.*", {{"NXTEST_ROLE", "hold"}, {"NXTEST_SHM_NAME", name}});
        ASSERT_NE(0, child);
        CShareData shm;
        const bool opened = interoptest::waitFor([&] {
            return shm.openSharedFile(u16(name), 32) &&
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
        EXPECT_TRUE(interoptest::waitFor([&] { return !CShareData().openSharedFile(u16(name), 1); }));
        ASSERT_TRUE(shm.createSharedFile(u16(name), 16));
        EXPECT_EQ(0, std::memcmp(shm.getSharedData(), "\0\0\0\0\0", 5));
    }
}

TEST(CShareData, BoundsEveryCopyOpensAnExistingNameAndRefusesEmptyOrMissingBlocks) {
    const std::u16string name = u16(uniqueName("bounds")), other = u16(uniqueName("other"));
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

    // Opening with more than the block holds fails in the view, and the object keeps its
    // mapping without a view (copies refused) until it is closed. (Windows maps whole pages: a
    // view that ends inside the block's last page is not refused there, hence a size well
    // beyond it.)
    EXPECT_FALSE(wide.openSharedFile(name, 1 << 20));
    EXPECT_EQ(nullptr, wide.getSharedData());
    EXPECT_EQ(0u, wide.getSharedData(got, 1));
    EXPECT_EQ(0u, wide.writeData(data, 1));
    EXPECT_TRUE(wide.openSharedFile(name, 64));  // already holds a mapping
    wide.closeSharedFile();
    EXPECT_TRUE(wide.openSharedFile(name, 64));
    EXPECT_EQ(64u, wide.getSharedData(got, 64));
}

}  // namespace
