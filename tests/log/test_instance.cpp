// The process-wide instance, seen from fresh child processes of this program.
#include "log/log.h"
#include "log_test_util.h"
#include "support/child_process.h"

#include <gtest/gtest.h>

namespace {

std::u16string childLogPath() {
    return std::filesystem::path(nxtest::getEnv("NXTEST_LOG_PATH")).u16string();
}

// Child: opens the instance, is refused a second path, logs and ends normally; the unload
// clean-up closes the file.
TEST(LoggerInstanceChild, OpensOnceAndLogs) {
    if (!nxtest::isChildProcess())
        return;
    TRK::TRKLogger* log = TRK::TRKLogger::Instance();
    ASSERT_NE(nullptr, log);
    EXPECT_EQ(log, TRK::TRKLogger::Instance());
    log->LogInfo(u"before opening");
    EXPECT_FALSE(log->isInstallHook());
    log->SetInstallHook(true);
    EXPECT_TRUE(TRK::TRKLogger::Instance()->isInstallHook());
    ASSERT_TRUE(log->InitLog(childLogPath()));
    EXPECT_FALSE(log->InitLog(childLogPath() + u".other"));
    log->LogInfo(u"child %d", 1);
    log->LogFatal(u"child %d", 2);
}

TEST(LoggerInstance, IsProcessWideAndOpensOnlyOnce) {
    nxtest::TempDir dir("log-instance");
    const std::filesystem::path log = dir.path() / "sub" / "instance.log";
    ASSERT_EQ(0, nxtest::runSelf("LoggerInstanceChild.OpensOnceAndLogs",
                                 {{"NXTEST_LOG_PATH", log.string()}}));
    const auto got = logtest::lines(log.u16string());
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(":info child 1\r\n", logtest::body(got[0]));
    EXPECT_EQ(":fatal child 2\r\n", logtest::body(got[1]));
    EXPECT_FALSE(std::filesystem::exists(log.string() + ".other"));
}

TEST(LoggerInstance, DropsEverythingWhileNotOpened) {
    // This process never opens the instance: every level is a silent no-op.
    TRK::TRKLogger* log = TRK::TRKLogger::Instance();
    log->LogInfo(u"%s", u"nothing");
    log->LogWaring(nullptr);
    log->LogDebug(u"%d", 1);
    SUCCEED();
}

}  // namespace
