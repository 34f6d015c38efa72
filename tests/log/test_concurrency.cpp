// Many threads logging into one file: every line arrives whole and exactly once.
#include "log/log.h"
#include "log_test_util.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

namespace {

TEST(LogConcurrency, EightThreadsWriteEveryLineWholeAndNeverInterleaved) {
    constexpr int kThreads = 8;
    constexpr int kLines = 10000;
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
    const auto got = logtest::lines(path);
    ASSERT_EQ(static_cast<std::size_t>(kThreads * kLines), got.size());
    std::vector<std::vector<int>> seen(kThreads, std::vector<int>(kLines, 0));
    std::vector<int> next(kThreads, 0);
    const std::regex body(":info thread ([0-7]) line ([0-9]{5}) payload \xC3\xA9\xC3\xA8\r\n");
    int bad = 0;
    for (const auto& line : got) {
        std::smatch m;
        const std::string b = logtest::body(line);
        if (!std::regex_match(b, m, body)) {
            if (++bad < 5)
                ADD_FAILURE() << "mangled line: " << line;
            continue;
        }
        const int t = std::stoi(m[1].str());
        const int i = std::stoi(m[2].str());
        ++seen[t][i];
        // Each thread's lines appear in the order it wrote them.
        EXPECT_EQ(next[t], i);
        next[t] = i + 1;
    }
    EXPECT_EQ(0, bad);
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kLines; ++i)
            ASSERT_EQ(1, seen[t][i]) << "thread " << t << " line " << i;
}

}  // namespace
