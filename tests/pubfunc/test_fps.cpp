// Frame-rate counters on an injected millisecond clock, read back from the process-wide log.
#include "log/log.h"
#include "pubfunc/pubfunc.h"
#include "pubfunc/pubfunc_internal.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

unsigned int g_now = 0;
unsigned int fakeTicks() { return g_now; }

// The log of this program: opened once, shared by the tests; each test reads what it added.
class FrameRate : public ::testing::Test {
protected:
    static nxtest::TempDir* dir;
    static std::size_t seen;

    static void SetUpTestSuite() {
        dir = new nxtest::TempDir("pubfunc-fps");
        ASSERT_TRUE(TRK::TRKLogger::Instance()->InitLog(dir->file("fps.log")));
    }
    void SetUp() override {
        nxpubfunc::setTickSource(fakeTicks);
        nxpubfunc::resetFrameCounters();
        newLines();
    }
    void TearDown() override { nxpubfunc::setTickSource(nullptr); }

    // The bodies (marker onwards) of the lines logged since the last call.
    static std::vector<std::string> newLines() {
        const std::string all = nxtest::readFileBytes(dir->path() / "fps.log");
        std::vector<std::string> out;
        std::size_t p = seen;
        while (p < all.size()) {
            const std::size_t e = all.find("\r\n", p);
            const std::string line = all.substr(p, e - p);
            out.push_back(line.substr(line.find("] ") + 2));
            p = e + 2;
        }
        seen = all.size();
        return out;
    }
};
nxtest::TempDir* FrameRate::dir = nullptr;
std::size_t FrameRate::seen = 0;

TEST_F(FrameRate, CaptureStageLogsOnlyAfterMoreThanSixtySeconds) {
    g_now = 5000;
    pubfunc::updatePublishCaptureFPS(u"cap");  // starts the interval, counts nothing
    for (int i = 1; i <= 600; ++i) {
        g_now = 5000 + 100 * i;
        pubfunc::updatePublishCaptureFPS(u"cap");
    }
    EXPECT_TRUE(newLines().empty());  // 60000 ms is not more than the interval
    g_now += 100;
    pubfunc::updatePublishCaptureFPS(u"cap");
    EXPECT_EQ(std::vector<std::string>{":info pubfunc::_updatePublishFPS  cap AVG_FPS : 10 FPS : 601"},
              newLines());
    // The next interval starts at the tick read after logging, with the count back at 0.
    g_now += 60001;
    pubfunc::updatePublishCaptureFPS(u"cap");
    EXPECT_EQ(std::vector<std::string>{":info pubfunc::_updatePublishFPS  cap AVG_FPS : 0 FPS : 1"},
              newLines());
}

TEST_F(FrameRate, EncoderStagesUseEightSecondsAndAveragePauses) {
    g_now = 1;
    pubfunc::updateBeforeEncodeFPS(u"enc");
    pubfunc::updateAfterEncodeFPS(u"");
    g_now = 8001;
    pubfunc::updateBeforeEncodeFPS(u"enc");
    EXPECT_TRUE(newLines().empty());
    g_now = 1 + 600000;  // ten minutes later
    pubfunc::updateBeforeEncodeFPS(u"enc");
    pubfunc::updateAfterEncodeFPS(u"");  // an empty name stays empty
    EXPECT_EQ((std::vector<std::string>{
                  ":info pubfunc::_updatePublishFPS  enc AVG_FPS : 0 FPS : 2",
                  ":info pubfunc::_updatePublishFPS   AVG_FPS : 0 FPS : 1"}),
              newLines());
}

TEST_F(FrameRate, SendStageSurvivesATickWrap) {
    g_now = 0xFFFFF000u;
    pubfunc::updatePublishSendFPS(u"send");
    for (int i = 1; i <= 3001; ++i) {
        g_now = 0xFFFFF000u + 20u * static_cast<unsigned>(i);  // wraps past zero
        pubfunc::updatePublishSendFPS(u"send");
    }
    EXPECT_EQ(std::vector<std::string>{":info pubfunc::_updatePublishFPS  send AVG_FPS : 50 FPS : 3001"},
              newLines());
    // Stages count separately: the capture stage is still idle.
    pubfunc::updatePublishCaptureFPS(u"cap");
    EXPECT_TRUE(newLines().empty());
}

}  // namespace
