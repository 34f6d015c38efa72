// The file logger: line format, levels, encoding, cuts, opening failures, rotation at opening,
// following a log that another logger rotated, the process-wide instance (seen from a child
// process) and many threads writing at once. Failures of the system calls: test_log_internals.
#include "log/log.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t kLimit = 20971520;  // the rotation limit

// The file's text split after every CR LF (a tail without one is the last element); with
// `bodies`, each line from after the process id's "] " on: marker, message and line end.
std::vector<std::string> lines(const fs::path& path, bool bodies = false) {
    const std::string all = nxtest::readFileBytes(path);
    std::vector<std::string> out;
    for (std::size_t p = 0, end; p < all.size(); p = end) {
        const std::size_t e = all.find("\r\n", p);
        end = e == std::string::npos ? all.size() : e + 2;
        const std::size_t from = bodies ? std::min(all.find("] ", p), end - 2) + 2 : p;
        out.push_back(all.substr(from, end - from));
    }
    return out;
}

TEST(Logger, WritesOneStampedUtf8LinePerLevelIntoItsFirstFileOnly) {
    nxtest::TempDir dir("log-format");
    const fs::path nested = dir.path() / "a" / "b" / "c";  // created with its parents
    const std::u16string path = (nested / "app.log").u16string(), other = dir.file("other.log");
    {
        TRK::TRKLogger logger;
        ASSERT_TRUE(logger.InitLog(path.c_str()));
        // A second opening is refused, and the first file stays in use.
        EXPECT_FALSE(logger.InitLog(other));
        EXPECT_FALSE(logger.InitLog(path));
        logger.LogInfo(u"started %d", 1);
        logger.LogWaring(u"disk %s", u"nearly full");
        logger.LogDebug(u"never %s", u"written");
        logger.LogError(u"code %08X", 0xBEEFu);
        logger.LogFatal(u"big %I64d", -1234567890123LL);
        // u-umlaut, a CJK character, an emoji (surrogate pair) and a lone high surrogate.
        logger.LogInfo(u"%s|%s", u"\u00FC\u4E2D\U0001F600", u"a\xD800z");
    }
    EXPECT_TRUE(fs::is_directory(nested));
    EXPECT_FALSE(fs::exists(other));
    EXPECT_NE("\xEF\xBB\xBF", nxtest::readFileBytes(path).substr(0, 3)) << "no byte order mark";
    const auto got = lines(path);
    const std::regex line(
        "(Mon|Tue|Wed|Thu|Fri|Sat|Sun) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
        "(0[1-9]|[12][0-9]|3[01]) ([01][0-9]|2[0-3]):[0-5][0-9]:[0-6][0-9] [0-9]{4}: "
        "(0|[1-9][0-9]{0,2}) \\[([0-9]+)\\] (:[a-z]+ .*)\r\n");
    const std::vector<std::string> expected = {
        ":info started 1\r\n", ":warning disk nearly full\r\n", ":error code 0000BEEF\r\n",
        ":fatal big -1234567890123\r\n",
        ":info \xC3\xBC\xE4\xB8\xAD\xF0\x9F\x98\x80|a\xEF\xBF\xBDz\r\n"};
    EXPECT_EQ(expected, lines(path, true));
    for (const std::string& l : got) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, line)) << l;
        EXPECT_EQ(std::to_string(nxtest::selfProcessId()), m[6].str());
    }
}

TEST(Logger, CutsLongMessagesAndTheirLineEnd) {
    nxtest::TempDir dir("log-cut");
    const std::u16string path = dir.file("cut.log");
    {
        TRK::TRKLogger logger;
        ASSERT_TRUE(logger.InitLog(path));
        logger.LogInfo(u"%s", std::u16string(5000, u'x').c_str());
        logger.LogInfo(u"next");
    }
    // The first line lost its CR LF: the second line's stamp follows its last 'x' directly.
    const std::string all = nxtest::readFileBytes(path);
    ASSERT_EQ(1u, lines(path).size());
    const std::size_t head = all.find("] ") + 2;  // after stamp, ms and pid
    const std::size_t stampEnd = all.find(": ") + 1;
    const std::size_t xs = all.find_first_not_of('x', head + 6) - (head + 6);
    EXPECT_EQ(":info ", all.substr(head, 6));
    EXPECT_EQ(4091 - (head + 6 - stampEnd), xs) << "4,091 units after the stamp's colon";
    EXPECT_EQ(":info next\r\n", all.substr(all.size() - 12));
}

// Each path that cannot be opened leaves a logger whose lines are dropped without blocking and
// which may still open a good path.
TEST(Logger, OpeningFailsWithoutAUsableFolderOrARegularFile) {
    nxtest::TempDir dir("log-fail");
    std::ofstream(dir.path() / "blocker") << "file";
    std::vector<std::u16string> paths = {
        (dir.path() / "blocker" / "sub" / "x.log").u16string(),  // a file where a folder should be
        u"bare.log",  // no separator: the directory part is empty, which is never a folder
        // A backslash wins over a later slash: the folder after it is never made.
        dir.path().u16string() + u"\\made/x.log",
        dir.path().u16string(),
    };
#ifndef _WIN32
    // Nobody reads the FIFO: writing lines into it would block the logging thread for good.
    ASSERT_TRUE(nxtest::makeFifo((dir.path() / "fifo.log").string()));
    paths.push_back((dir.path() / "fifo.log").u16string());
    for (const char* device : {"/dev/full", "/dev/null"})
        if (fs::exists(device))
            paths.push_back(fs::path(device).u16string());
#endif
    for (const std::u16string& path : paths) {
        TRK::TRKLogger logger;
        EXPECT_FALSE(logger.InitLog(path)) << fs::path(path);
        logger.LogFatal(u"dropped %d", 1);
        EXPECT_TRUE(logger.InitLog(dir.file("good.log"))) << "usable after " << fs::path(path);
    }
    EXPECT_FALSE(TRK::TRKLogger().InitLog(static_cast<const char16_t*>(nullptr)));
    EXPECT_FALSE(fs::exists("bare.log"));
    EXPECT_FALSE(fs::exists(dir.path() / "made"));
}

TEST(LogRotation, OnlyAFileAboveTheLimitMovesAsideThroughTwoGenerations) {
    nxtest::TempDir dir("log-rotation");
    const fs::path log = dir.path() / "app.log", bk = dir.path() / "app.log.bk",
                   bkbk = dir.path() / "app.log.bk.bk";
    const auto make = [&](const std::string& tag, std::uintmax_t size) {  // sparse after `tag`
        std::ofstream(log, std::ios::binary) << tag;
        fs::resize_file(log, size);
    };
    const auto logOnce = [&](const char16_t* text) {
        TRK::TRKLogger logger;
        EXPECT_TRUE(logger.InitLog(log.u16string()));
        logger.LogInfo(u"%s", text);
    };
    const auto head = [](const fs::path& p) { return nxtest::readFileBytes(p).substr(0, 4); };

    make("OLD!", kLimit);  // exactly the limit: appended to
    logOnce(u"appended");
    EXPECT_FALSE(fs::exists(bk));
    EXPECT_EQ("OLD!", head(log));
    EXPECT_EQ(":info appended\r\n", lines(log, true).back());

    make("GEN1", kLimit + 1);  // one byte more, no backups yet: only the move to ".bk"
    logOnce(u"fresh one");
    EXPECT_EQ(kLimit + 1, fs::file_size(bk));
    EXPECT_EQ("GEN1", head(bk));
    EXPECT_FALSE(fs::exists(bkbk));
    EXPECT_EQ(1u, lines(log).size());

    // Both backups exist: ".bk.bk" is dropped, ".bk" moves up, the log becomes ".bk".
    make("GEN2", kLimit + 1);
    std::ofstream(bkbk, std::ios::binary) << "ANCIENT";
    logOnce(u"fresh two");
    EXPECT_EQ("GEN2", head(bk));
    EXPECT_EQ("GEN1", head(bkbk));
    EXPECT_EQ(std::vector<std::string>{":info fresh two\r\n"}, lines(log, true));

    logOnce(u"third");  // a small log is left alone even with backups around
    EXPECT_EQ(2u, lines(log).size());
    EXPECT_EQ("GEN2", head(bk));
}

// A logger that stays open while other loggers (other processes, in real life) rotate the same
// log three times: within about a second of each rotation its lines go to the new log at the
// path, and none of the lines it wrote since it followed the first rotation is lost (two
// backups are kept, so the third rotation drops the log of before the first).
TEST(LogRotation, AnOpenLoggerFollowsTheLogThatOthersRotated) {
    nxtest::TempDir dir("log-follow");
    const fs::path log = dir.path() / "app.log";
    TRK::TRKLogger longLived;
    ASSERT_TRUE(longLived.InitLog(log.u16string()));
    longLived.LogInfo(u"before any rotation");
    std::vector<std::string> written;  // the long-lived logger's lines
    const auto contains = [](const fs::path& p, const std::string& what) {
        return nxtest::readFileBytes(p).find(what) != std::string::npos;
    };
    for (int round = 1; round <= 3; ++round) {
        fs::resize_file(log, kLimit + 1);  // big enough for the next opening to rotate it
        {
            TRK::TRKLogger other;
            ASSERT_TRUE(other.InitLog(log.u16string()));
            other.LogInfo(u"rotated %d", round);
        }
        ASSERT_LT(fs::file_size(log), kLimit) << "round " << round << ": a fresh log";
        // The path is checked once a second; the bound only stops a logger that never follows,
        // and is wide so that a loaded machine does not make it fail.
        bool followed = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (int i = 0; !followed && std::chrono::steady_clock::now() < deadline; ++i) {
            longLived.LogInfo(u"round %d line %d", round, i);
            written.push_back("round " + std::to_string(round) + " line " + std::to_string(i) + "\r\n");
            followed = contains(log, written.back());
            if (!followed)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_TRUE(followed) << "round " << round << ": the lines still go to the old file";
        if (round == 1)  // the lines before it followed went to the log that is dropped last
            written.erase(written.begin(), written.end() - 1);
    }
    std::string all;
    for (const char* name : {"app.log", "app.log.bk", "app.log.bk.bk"})
        all += nxtest::readFileBytes(dir.path() / name);
    std::size_t lost = 0;
    for (const std::string& line : written)
        lost += all.find(":info " + line) == std::string::npos;
    EXPECT_EQ(0u, lost) << "of " << written.size() << " lines";
    EXPECT_TRUE(contains(dir.path() / "app.log.bk.bk", "rotated 1"));
}

// Child: opens the instance, is refused a second path, logs and ends normally; the unload
// clean-up closes the file.
TEST(LoggerInstanceChild, OpensOnceAndLogs) {
    if (!nxtest::isChildProcess())
        return;
    const std::u16string path = fs::path(nxtest::getEnv("NXTEST_LOG_PATH")).u16string();
    TRK::TRKLogger* log = TRK::TRKLogger::Instance();
    ASSERT_NE(nullptr, log);
    EXPECT_EQ(log, TRK::TRKLogger::Instance());
    log->LogInfo(u"before opening");
    EXPECT_FALSE(log->isInstallHook());
    log->SetInstallHook(true);
    EXPECT_TRUE(TRK::TRKLogger::Instance()->isInstallHook());
    ASSERT_TRUE(log->InitLog(path));
    EXPECT_FALSE(log->InitLog(path + u".other"));
    log->LogInfo(u"child %d", 1);
    log->LogFatal(u"child %d", 2);
}

TEST(LoggerInstance, IsProcessWideOpensOnlyOnceAndDropsEverythingWhileNotOpened) {
    // This process never opens the instance: every level is a silent no-op.
    TRK::TRKLogger::Instance()->LogInfo(u"%s", u"nothing");
    TRK::TRKLogger::Instance()->LogWaring(nullptr);

    nxtest::TempDir dir("log-instance");
    const fs::path log = dir.path() / "sub" / "instance.log";
    ASSERT_EQ(0, nxtest::runSelf("LoggerInstanceChild.OpensOnceAndLogs",
                                 {{"NXTEST_LOG_PATH", log.string()}}));
    EXPECT_EQ((std::vector<std::string>{":info child 1\r\n", ":fatal child 2\r\n"}), lines(log, true));
    EXPECT_FALSE(fs::exists(log.string() + ".other"));
}

TEST(LogConcurrency, EightThreadsWriteEveryLineWholeAndNeverInterleaved) {
    constexpr int kThreads = 8, kLines = 10000;
    nxtest::TempDir dir("log-threads");
    const std::u16string path = dir.file("threads.log");
    {
        TRK::TRKLogger logger;
        ASSERT_TRUE(logger.InitLog(path));
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&logger, t] {
                for (int i = 0; i < kLines; ++i)
                    logger.LogInfo(u"thread %d line %05d %s", t, i, u"payload \u00E9\u00E8");
            });
        for (auto& th : threads)
            th.join();
    }
    const auto got = lines(path, true);
    ASSERT_EQ(static_cast<std::size_t>(kThreads * kLines), got.size());
    // Each thread's lines appear whole, once, and in the order it wrote them.
    std::vector<int> next(kThreads, 0);
    const std::regex expected(":info thread ([0-7]) line ([0-9]{5}) payload \xC3\xA9\xC3\xA8\r\n");
    for (const auto& line : got) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, expected)) << "mangled line: " << line;
        const int t = std::stoi(m[1].str()), i = std::stoi(m[2].str());
        EXPECT_EQ(next[t], i) << "thread " << t;
        next[t] = i + 1;
    }
    EXPECT_EQ(std::vector<int>(kThreads, kLines), next) << "every thread's last line arrived";
}

}  // namespace
