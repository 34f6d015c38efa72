// Line format, levels, cuts, encoding and opening failures of a logger of its own.
#include "log/log.h"
#include "log_test_util.h"
#include "support/child_process.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

namespace TRK {
// Reaches the private marker table.
struct TRKLoggerTestAccess {
    static std::u16string marker(TRKLogger& l, int level) { return l.__GetLogLevel(level); }
};
}  // namespace TRK

namespace {

using logtest::body;
using logtest::lines;

TEST(Logger, WritesOneStampedLinePerLevelAndDiscardsDebug) {
    nxtest::TempDir dir("log-format");
    const std::u16string path = dir.file("app.log");
    {
        TRK::TRKLogger logger;
        ASSERT_TRUE(logger.InitLog(path));
        logger.LogInfo(u"started %d", 1);
        logger.LogWaring(u"disk %s", u"nearly full");
        logger.LogDebug(u"never %s", u"written");
        logger.LogError(u"code %08X", 0xBEEFu);
        logger.LogFatal(u"big %I64d", -1234567890123LL);
    }
    const auto got = lines(path);
    ASSERT_EQ(4u, got.size());
    const std::regex line(
        "(Mon|Tue|Wed|Thu|Fri|Sat|Sun) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
        "(0[1-9]|[12][0-9]|3[01]) ([01][0-9]|2[0-3]):[0-5][0-9]:[0-6][0-9] [0-9]{4}: "
        "(0|[1-9][0-9]{0,2}) \\[([0-9]+)\\] (:[a-z]+ .*)\r\n");
    const char* expected[] = {":info started 1\r\n", ":warning disk nearly full\r\n",
                              ":error code 0000BEEF\r\n", ":fatal big -1234567890123\r\n"};
    for (std::size_t i = 0; i < got.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(got[i], m, line)) << got[i];
        EXPECT_EQ(std::to_string(nxtest::selfProcessId()), m[6].str());
        EXPECT_EQ(expected[i], body(got[i]));
    }
}

TEST(Logger, MarkersFollowTheLevelTableWithInfoForUnknownLevels) {
    TRK::TRKLogger l;
    using A = TRK::TRKLoggerTestAccess;
    EXPECT_EQ(u":info ", A::marker(l, 0));
    EXPECT_EQ(u":warning ", A::marker(l, 1));
    EXPECT_EQ(u":error ", A::marker(l, 2));
    EXPECT_EQ(u":fatal ", A::marker(l, 3));
    EXPECT_EQ(u":debug ", A::marker(l, 4));
    EXPECT_EQ(u":info ", A::marker(l, 7));
    EXPECT_EQ(u":info ", A::marker(l, -1));
}

TEST(Logger, StoresNonAsciiTextAsUtf8WithoutByteOrderMark) {
    nxtest::TempDir dir("log-utf8");
    const std::u16string path = dir.file("utf8.log");
    {
        TRK::TRKLogger logger;
        ASSERT_TRUE(logger.InitLog(path));
        // u-umlaut, a CJK character, an emoji (surrogate pair) and a lone high surrogate.
        logger.LogInfo(u"%s|%s", u"\u00FC\u4E2D\U0001F600", u"a\xD800z");
    }
    const std::string all = nxtest::readFileBytes(std::filesystem::path(path));
    ASSERT_GE(all.size(), 3u);
    EXPECT_NE("\xEF\xBB\xBF", all.substr(0, 3));
    EXPECT_EQ(":info \xC3\xBC\xE4\xB8\xAD\xF0\x9F\x98\x80|a\xEF\xBF\xBDz\r\n", body(all));
}

TEST(Logger, CutsLongMessagesAndTheirLineEnd) {
    nxtest::TempDir dir("log-cut");
    const std::u16string path = dir.file("cut.log");
    const std::u16string longText(5000, u'x');
    {
        TRK::TRKLogger logger;
        ASSERT_TRUE(logger.InitLog(path));
        logger.LogInfo(u"%s", longText.c_str());
        logger.LogInfo(u"next");
    }
    const std::string all = nxtest::readFileBytes(std::filesystem::path(path));
    // The first line lost its CR LF: the second line's stamp follows its last 'x' directly.
    const auto got = lines(path);
    ASSERT_EQ(1u, got.size());
    const std::size_t head = all.find("] ") + 2;   // stamp, ms and pid
    const std::size_t stampEnd = all.find(": ") + 1;
    const std::size_t lineUnits = 4091;           // everything after the stamp's colon
    const std::size_t xs = all.find_first_not_of('x', head + 6) - (head + 6);
    EXPECT_EQ(":info ", all.substr(head, 6));
    EXPECT_EQ(lineUnits - (head + 6 - stampEnd), xs);
    EXPECT_EQ(":info next\r\n", all.substr(all.size() - 12));
}

TEST(Logger, SecondInitLogIsRefusedAndTheFirstFileStaysInUse) {
    nxtest::TempDir dir("log-second");
    const std::u16string first = dir.file("first.log");
    const std::u16string second = dir.file("second.log");
    {
        TRK::TRKLogger logger;
        ASSERT_TRUE(logger.InitLog(first.c_str()));
        EXPECT_FALSE(logger.InitLog(second));
        EXPECT_FALSE(logger.InitLog(first));
        logger.LogInfo(u"still here");
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(second)));
    const auto got = lines(first);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(":info still here\r\n", body(got[0]));
}

TEST(Logger, CreatesMissingFoldersWithTheirParents) {
    nxtest::TempDir dir("log-mkdir");
    const std::filesystem::path nested = dir.path() / "a" / "b" / "c";
    const std::u16string path = (nested / "deep.log").u16string();
    TRK::TRKLogger logger;
    ASSERT_TRUE(logger.InitLog(path));
    logger.LogError(u"deep");
    EXPECT_TRUE(std::filesystem::is_directory(nested));
    EXPECT_EQ(1u, lines(path).size());
}

TEST(Logger, OpeningFailsWithoutUsableFolderAndLoggingStaysSilent) {
    nxtest::TempDir dir("log-fail");
    // A regular file where a parent folder should be: the folder cannot be created.
    const std::filesystem::path blocker = dir.path() / "blocker";
    { std::ofstream(blocker) << "file"; }
    TRK::TRKLogger blocked;
    EXPECT_FALSE(blocked.InitLog(((blocker / "sub") / "x.log").u16string()));
    blocked.LogFatal(u"dropped %d", 1);

    // No separator at all: the directory part is empty, which is never a folder.
    TRK::TRKLogger bare;
    EXPECT_FALSE(bare.InitLog(u"bare.log"));
    EXPECT_FALSE(std::filesystem::exists("bare.log"));

    // A backslash wins over a later slash: only the part before it is checked or created, so
    // the folder after it is never made and the open fails.
    TRK::TRKLogger mixed;
    const std::u16string mixedPath = dir.path().u16string() + u"\\made/x.log";
    EXPECT_FALSE(mixed.InitLog(mixedPath));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "made"));

    // Null path and a path naming a folder.
    TRK::TRKLogger null;
    EXPECT_FALSE(null.InitLog(static_cast<const char16_t*>(nullptr)));
    TRK::TRKLogger folder;
    EXPECT_FALSE(folder.InitLog(dir.path().u16string()));
    // Having failed, a logger may still open a good path.
    EXPECT_TRUE(folder.InitLog(dir.file("good.log")));
}

TEST(Logger, KeepsRunningWhenTheDeviceIsFull) {
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    TRK::TRKLogger logger;
    if (!logger.InitLog(u"/dev/full"))
        GTEST_SKIP() << "/dev/full cannot be opened for appending here";
    for (int i = 0; i < 1000; ++i)
        logger.LogError(u"lost line %d", i);
    SUCCEED();
}

}  // namespace
