// CShareData across real processes: this program runs itself again as the other side.
#include "interop/interop.h"
#include "interop_test_util.h"
#include "log/log.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

using interoptest::u16;
using interoptest::uniqueName;

namespace {

std::u16string childBlockName() { return u16(nxtest::getEnv("NXTEST_SHM_NAME")); }

// Child: opens the parent's block, checks its pattern, answers in its first bytes and closes.
TEST(CShareDataChild, AnswersThroughTheBlock) {
    if (!nxtest::isChildProcess())
        return;
    CShareData shm;
    ASSERT_TRUE(shm.openSharedFile(childBlockName(), 64));
    unsigned char got[64];
    ASSERT_EQ(64u, shm.getSharedData(got, 64));
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(static_cast<unsigned char>(i * 3), got[i]) << i;
    ASSERT_EQ(4u, shm.writeData(reinterpret_cast<const unsigned char*>("DONE"), 4));
    shm.closeSharedFile();
}

// Child: creates a block, waits until the parent has opened it, and ends without closing it.
TEST(CShareDataChild, CreatesAndEndsWithoutClosing) {
    if (!nxtest::isChildProcess())
        return;
    CShareData shm;
    ASSERT_TRUE(shm.createSharedFile(childBlockName(), 32));
    std::memcpy(shm.getSharedData(), "from child", 10);
    ASSERT_TRUE(interoptest::waitFor([&] { return shm.getSharedData()[31] == 1; }));
    std::_Exit(0);  // no destructor, no close: the system ends the hold
}

// Child: asks for a view larger than the parent's existing block, with the log open.
TEST(CShareDataChild, LogsTheFailedView) {
    if (!nxtest::isChildProcess())
        return;
    ASSERT_TRUE(TRK::TRKLogger::Instance()->InitLog(u16(nxtest::getEnv("NXTEST_LOG_PATH"))));
    CShareData shm;
    EXPECT_FALSE(shm.createSharedFile(childBlockName(), 1 << 20));
    EXPECT_EQ(nullptr, shm.getSharedData());
    EXPECT_EQ(0u, shm.writeData(reinterpret_cast<const unsigned char*>("x"), 1));
}

TEST(CShareData, IsReadAndWrittenByAnotherProcessAndEndsWithItsLastHolder) {
    const std::string name = uniqueName("pair");
    {
        CShareData shm;
        ASSERT_TRUE(shm.createSharedFile(u16(name), 64));
        unsigned char pattern[64];
        for (int i = 0; i < 64; ++i)
            pattern[i] = static_cast<unsigned char>(i * 3);
        ASSERT_EQ(64u, shm.writeData(pattern, 64));
        ASSERT_EQ(0, nxtest::runSelf("CShareDataChild.AnswersThroughTheBlock",
                                     {{"NXTEST_SHM_NAME", name}}));
        unsigned char got[64];
        ASSERT_EQ(64u, shm.getSharedData(got, 64));
        EXPECT_EQ(0, std::memcmp(got, "DONE", 4));
        EXPECT_EQ(0, std::memcmp(got + 4, pattern + 4, 60));
        // The child has closed; this process still holds the block, so it can be opened.
        CShareData again;
        EXPECT_TRUE(again.openSharedFile(u16(name), 64));
    }
    CShareData late;
    EXPECT_FALSE(late.openSharedFile(u16(name), 64));
}

TEST(CShareData, OutlivesItsCreatorWhileAnotherProcessHoldsIt) {
    const std::string name = uniqueName("creator");
    const long long child =
        nxtest::startSelf("CShareDataChild.CreatesAndEndsWithoutClosing", {{"NXTEST_SHM_NAME", name}});
    ASSERT_NE(0, child);
    {
        CShareData shm;
        const bool opened =
            interoptest::waitFor([&] { return shm.openSharedFile(u16(name), 32); });
        if (opened)
            shm.getSharedData()[31] = 1;
        EXPECT_EQ(0, nxtest::waitChild(child));
        ASSERT_TRUE(opened);
        // Its creator is gone; the bytes stay while this process holds the block.
        unsigned char got[10];
        ASSERT_EQ(10u, shm.getSharedData(got, 10));
        EXPECT_EQ(0, std::memcmp(got, "from child", 10));
    }
    EXPECT_TRUE(interoptest::goneSoon<CShareData>(u16(name)));
    CShareData late;
    // A new block of the same name starts out zero-filled.
    ASSERT_TRUE(late.createSharedFile(u16(name), 32));
    EXPECT_EQ(0, late.getSharedData()[0]);
}

TEST(CShareData, BoundsEveryCopyByItsSize) {
    const std::u16string name = u16(uniqueName("bounds"));
    CShareData shm;
    ASSERT_TRUE(shm.createSharedFile(name, 64));
    unsigned char data[65];
    std::memset(data, 0xAB, sizeof data);
    EXPECT_EQ(64u, shm.writeData(data, 64));
    EXPECT_EQ(0u, shm.writeData(data, 65));
    EXPECT_EQ(0u, shm.writeData(data, 0));
    unsigned char got[65] = {};
    EXPECT_EQ(0u, shm.getSharedData(got, 65));
    EXPECT_EQ(0, got[0]);  // a refused copy copies nothing
    EXPECT_EQ(64u, shm.getSharedData(got, 64));
    EXPECT_EQ(0xAB, got[63]);

    // Opening with more than the block holds fails in the view, and the object keeps its
    // mapping without a view until it is closed. (Windows maps whole pages: a view that ends
    // inside the block's last page is not refused there, hence a size well beyond it.)
    CShareData wide;
    EXPECT_FALSE(wide.openSharedFile(name, 1 << 20));
    EXPECT_EQ(nullptr, wide.getSharedData());
    EXPECT_EQ(0u, wide.getSharedData(got, 1));
    EXPECT_EQ(0u, wide.writeData(data, 1));
    EXPECT_TRUE(wide.openSharedFile(name, 64));   // already holds a mapping
    EXPECT_FALSE(wide.createSharedFile(name, 64));
    wide.closeSharedFile();
    EXPECT_TRUE(wide.openSharedFile(name, 64));
    EXPECT_EQ(64u, wide.getSharedData(got, 64));
}

TEST(CShareData, RefusesMissingAndEmptyNamesAndClosedObjects) {
    CShareData shm;
    EXPECT_FALSE(shm.openSharedFile(u16(uniqueName("missing")), 16));
    EXPECT_FALSE(shm.openSharedFile(u"", 16));
    EXPECT_FALSE(shm.createSharedFile(u"", 16));
    unsigned char byte = 7;
    EXPECT_EQ(0u, shm.getSharedData(&byte, 1));
    EXPECT_EQ(0u, shm.writeData(&byte, 1));
    EXPECT_EQ(nullptr, shm.getSharedData());
    shm.closeSharedFile();
    shm.closeSharedFile();
    EXPECT_EQ(7, byte);
}

TEST(CShareData, KeepsItsBlockOnASecondCreateOrOpen) {
    const std::u16string first = u16(uniqueName("first"));
    const std::u16string other = u16(uniqueName("other"));
    CShareData shm;
    ASSERT_TRUE(shm.createSharedFile(first, 16));
    unsigned char* view = shm.getSharedData();
    view[0] = 42;
    EXPECT_FALSE(shm.createSharedFile(other, 16));
    EXPECT_TRUE(shm.openSharedFile(other, 16));
    EXPECT_EQ(view, shm.getSharedData());
    CShareData probe;
    EXPECT_FALSE(probe.openSharedFile(other, 16));  // the second create made nothing
    ASSERT_TRUE(probe.openSharedFile(first, 16));
    EXPECT_EQ(42, probe.getSharedData()[0]);
}

TEST(CShareData, CreatingAnExistingNameOpensThatBlock) {
    const std::u16string name = u16(uniqueName("twice"));
    CShareData a, b;
    ASSERT_TRUE(a.createSharedFile(name, 16));
    ASSERT_EQ(3u, a.writeData(reinterpret_cast<const unsigned char*>("abc"), 3));
    ASSERT_TRUE(b.createSharedFile(name, 16));
    EXPECT_EQ(0, std::memcmp(b.getSharedData(), "abc", 3));
    b.getSharedData()[15] = 9;
    EXPECT_EQ(9, a.getSharedData()[15]);
    // Two holders in one process: closing one keeps the block for the other.
    a.closeSharedFile();
    CShareData c;
    ASSERT_TRUE(c.openSharedFile(name, 16));
    EXPECT_EQ(9, c.getSharedData()[15]);
}

TEST(CShareData, LogsAViewItCannotMap) {
    const std::string name = uniqueName("logged");
    nxtest::TempDir dir("interop-log");
    const std::filesystem::path log = dir.path() / "shm.log";
    CShareData shm;
    ASSERT_TRUE(shm.createSharedFile(u16(name), 16));
    ASSERT_EQ(0, nxtest::runSelf("CShareDataChild.LogsTheFailedView",
                                 {{"NXTEST_SHM_NAME", name}, {"NXTEST_LOG_PATH", log.string()}}));
    const std::string text = nxtest::readFileBytes(log);
    const std::string expected = ":error CShareData::createSharedFile MapViewOfFile() fail. fileName=" +
                                 name + ", size=1048576, err=";
    const std::size_t at = text.find(expected);
    ASSERT_NE(std::string::npos, at) << text;
    const std::size_t code = at + expected.size();
    ASSERT_LT(code, text.size());
    EXPECT_TRUE(text[code] >= '1' && text[code] <= '9') << text;  // the system's error number
    EXPECT_EQ(text.size() - 2, text.find("\r\n", code));         // one line, nothing else
}

}  // namespace
