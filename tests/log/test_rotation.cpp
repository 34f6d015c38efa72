// Rotation at opening: the size threshold and both backup generations.
#include "log/log.h"
#include "log_test_util.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t kLimit = 20971520;

// A file of `size` bytes whose first bytes are `tag` (the rest is sparse zeroes).
void makeFile(const fs::path& p, const std::string& tag, std::uintmax_t size) {
    { std::ofstream(p, std::ios::binary) << tag; }
    fs::resize_file(p, size);
}

std::string head(const fs::path& p, std::size_t n) { return nxtest::readFileBytes(p).substr(0, n); }

TEST(LogRotation, AFileOfExactlyTheLimitIsAppendedTo) {
    nxtest::TempDir dir("log-rot-limit");
    const fs::path log = dir.path() / "app.log";
    makeFile(log, "OLD", kLimit);
    {
        TRK::TRKLogger logger;
        ASSERT_TRUE(logger.InitLog(log.u16string()));
        logger.LogInfo(u"appended");
    }
    EXPECT_FALSE(fs::exists(dir.path() / "app.log.bk"));
    EXPECT_GT(fs::file_size(log), kLimit);
    EXPECT_EQ("OLD", head(log, 3));
    const std::string all = nxtest::readFileBytes(log);
    EXPECT_EQ(":info appended\r\n", all.substr(all.size() - 16));
}

TEST(LogRotation, OneByteMoreMovesTheFileAsideThroughBothGenerations) {
    nxtest::TempDir dir("log-rot-gens");
    const fs::path log = dir.path() / "app.log";
    const fs::path bk = dir.path() / "app.log.bk";
    const fs::path bkbk = dir.path() / "app.log.bk.bk";

    // No earlier backups: only the move to ".bk" happens.
    makeFile(log, "GEN1", kLimit + 1);
    {
        TRK::TRKLogger logger;
        ASSERT_TRUE(logger.InitLog(log.u16string()));
        logger.LogInfo(u"fresh one");
    }
    EXPECT_EQ(kLimit + 1, fs::file_size(bk));
    EXPECT_EQ("GEN1", head(bk, 4));
    EXPECT_FALSE(fs::exists(bkbk));
    EXPECT_EQ(1u, logtest::lines(log.u16string()).size());

    // Both backups exist: ".bk.bk" is dropped, ".bk" moves up, the log becomes ".bk".
    makeFile(log, "GEN2", kLimit + 1);
    { std::ofstream(bkbk, std::ios::binary) << "ANCIENT"; }
    {
        TRK::TRKLogger logger;
        ASSERT_TRUE(logger.InitLog(log.u16string()));
        logger.LogWaring(u"fresh two");
    }
    EXPECT_EQ("GEN2", head(bk, 4));
    EXPECT_EQ("GEN1", head(bkbk, 4));
    const auto got = logtest::lines(log.u16string());
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(":warning fresh two\r\n", logtest::body(got[0]));

    // A small log is left alone even with backups around.
    {
        TRK::TRKLogger logger;
        ASSERT_TRUE(logger.InitLog(log.u16string()));
        logger.LogInfo(u"third");
    }
    EXPECT_EQ(2u, logtest::lines(log.u16string()).size());
    EXPECT_EQ("GEN2", head(bk, 4));
}

}  // namespace
