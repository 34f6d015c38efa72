// The private-profile store on real files and with two processes writing one file at once, and
// the frame-rate counters on an injected millisecond clock, read back from the process log.
#include "log/log.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "pubfunc/pubfunc.h"
#include "pubfunc/pubfunc_internal.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

const bool kPosixStore = platform::kPathSeparator == u'/';

std::u16string read(const fs::path& file, const std::u16string& section, const std::u16string& key,
                    const char16_t* def = u"<default>") {
    std::u16string buf(1024, u'#');
    const std::size_t n = platform::profileGetString(file.u16string().c_str(), section.c_str(),
                                                     key.c_str(), def, &buf[0], buf.size());
    EXPECT_EQ(u'\0', buf[n]);
    return buf.substr(0, n);
}

bool write(const fs::path& file, const std::u16string& section, const std::u16string& key,
           const std::u16string& value) {
    return platform::profileWriteString(file.u16string().c_str(), section.c_str(), key.c_str(),
                                        value.c_str());
}

std::u16string u16(const std::string& s) { return fs::path(s).u16string(); }

TEST(Profile, StoresEmptyValuesLeavesOnlyItsLockFileAndKeepsHandWrittenContent) {
    // Reads, case, defaults and cuts are checked through the user configuration (test_paths).
    nxtest::TempDir dir("profile-basic");
    const fs::path ini = dir.path() / "user.ini";
    EXPECT_EQ(u"", read(ini, u"s", u"k", nullptr));
    ASSERT_TRUE(write(ini, u"t", u"k", u""));
    EXPECT_EQ(u"", read(ini, u"t", u"k"));
    if (!kPosixStore)
        return;  // the system's profile functions own the rest
    // Nothing but the file and its lock file is left behind.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"user.ini", "user.ini.lock"}), names);
    // Hand-written content of a damaged file is kept byte for byte.
    const fs::path bad = dir.path() / "bad.ini";
    const std::string head = "garbage \xFF\xFE\n; note\n[s]\nk=1\n";
    const std::string tail = "\n" + std::string(200000, 'x') + "\n[s]\nj=";
    std::ofstream(bad, std::ios::binary) << head << tail << "2";
    EXPECT_EQ(u"2", read(bad, u"s", u"j"));
    ASSERT_TRUE(write(bad, u"s", u"new", u"3"));
    ASSERT_TRUE(write(bad, u"s", u"j", u"22"));
    EXPECT_EQ(head + "new=3\n" + tail + "22", nxtest::readFileBytes(bad));
}

// Runs itself twice as a child (NXTEST_WRITER set), each writing 60 keys of its own and a
// shared one into the same file.
TEST(Profile, TwoProcessesWritingAtOnceLoseNoEntry) {
    if (!kPosixStore)
        GTEST_SKIP() << "concurrent writers are serialised only as far as the system does it";
    if (nxtest::isChildProcess()) {
        const fs::path ini = nxtest::getEnv("NXTEST_INI");
        const std::u16string prefix = u16(nxtest::getEnv("NXTEST_WRITER"));
        for (int i = 0; i < 60; ++i) {
            const std::u16string n = u16(std::to_string(i));
            ASSERT_TRUE(write(ini, u"race", prefix + n, n));
            ASSERT_TRUE(write(ini, u"shared", u"last", prefix + n));
        }
        return;
    }
    nxtest::TempDir dir("profile-race");
    const fs::path ini = dir.path() / "race.ini";
    std::ofstream(ini, std::ios::binary) << "; shared by two writers\n";
    long long child[2];
    for (int w = 0; w < 2; ++w)
        child[w] = nxtest::startSelf("Profile.TwoProcessesWritingAtOnceLoseNoEntry",
                                     {{"NXTEST_INI", ini.string()}, {"NXTEST_WRITER", w ? "b" : "a"}});
    for (long long c : child)
        EXPECT_EQ(0, nxtest::waitChild(c));
    for (const std::string who : {"a", "b"})
        for (int i = 0; i < 60; ++i)
            EXPECT_EQ(u16(std::to_string(i)), read(ini, u"race", u16(who + std::to_string(i))))
                << who << i;
    const std::u16string last = read(ini, u"shared", u"last");
    EXPECT_TRUE(last == u"a59" || last == u"b59");
    EXPECT_EQ(0u, nxtest::readFileBytes(ini).find("; shared by two writers\n"));
}

unsigned int g_now = 0;

TEST(FrameRate, StagesLogOnlyAfterMoreThanTheirIntervalAndCountSeparately) {
    const std::string fps = ":info pubfunc::_updatePublishFPS  ";
    nxtest::TempDir dir("pubfunc-fps");
    ASSERT_TRUE(TRK::TRKLogger::Instance()->InitLog(dir.file("fps.log")));
    nxpubfunc::setTickSource([] { return g_now; });
    const auto at = [](unsigned tick, void (*stage)(const std::u16string&), const char16_t* name) {
        g_now = tick;
        stage(name);
    };
    std::size_t seen = 0;
    auto newLines = [&] {  // the lines logged since the last call, from their level marker on
        const std::string all = nxtest::readFileBytes(dir.path() / "fps.log");
        return std::regex_replace(all.substr(std::exchange(seen, all.size())),
                                  std::regex(".*\\] "), "");
    };
    // Capture, 60 s: the first call only starts the interval, and 60000 ms is not more than it.
    for (unsigned i = 0; i <= 600; ++i)
        at(5000 + 100 * i, pubfunc::updatePublishCaptureFPS, u"cap");
    EXPECT_EQ("", newLines());
    at(g_now + 100, pubfunc::updatePublishCaptureFPS, u"cap");
    EXPECT_EQ(fps + "cap AVG_FPS : 10 FPS : 601\r\n", newLines());
    // The next interval starts at the tick read after logging, with the count back at 0.
    at(g_now + 60001, pubfunc::updatePublishCaptureFPS, u"cap");
    EXPECT_EQ(fps + "cap AVG_FPS : 0 FPS : 1\r\n", newLines());

    // The encoder stages: 8 s, averaged over a pause; an empty name stays empty.
    at(1, pubfunc::updateBeforeEncodeFPS, u"enc");
    at(1, pubfunc::updateAfterEncodeFPS, u"");
    at(8001, pubfunc::updateBeforeEncodeFPS, u"enc");
    EXPECT_EQ("", newLines());
    at(1 + 600000, pubfunc::updateBeforeEncodeFPS, u"enc");  // ten minutes later
    at(1 + 600000, pubfunc::updateAfterEncodeFPS, u"");
    EXPECT_EQ(fps + "enc AVG_FPS : 0 FPS : 2\r\n" + fps + " AVG_FPS : 0 FPS : 1\r\n", newLines());

    // Send, 60 s, across a wrap of the tick count; the idle capture stage does not log with it.
    nxpubfunc::resetFrameCounters();
    for (unsigned i = 0; i <= 3001; ++i)
        at(0xFFFFF000u + 20u * i, pubfunc::updatePublishSendFPS, u"send");
    pubfunc::updatePublishCaptureFPS(u"cap");
    EXPECT_EQ(fps + "send AVG_FPS : 50 FPS : 3001\r\n", newLines());
    nxpubfunc::setTickSource(nullptr);
}

}  // namespace
