// Windows of processes on a real window system, owned by helper processes (this test program
// in helper mode) with titled, hidden and nested windows.
#include "log/log.h"
#include "pubfunc/pubfunc.h"
#include "processes/helpers/host.h"
#include "support/child_process.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

namespace {

HWND handle(std::uintptr_t id) { return reinterpret_cast<HWND>(id); }

// A helper process and the windows it reported (see runWindowHelper); pid 0 when it failed.
struct WindowOwner {
    explicit WindowOwner(bool hiddenOnly)
        : helper("WindowHelper.OwnsWindowsUntilStopped",
                 {{"NX_WINDOWS", hiddenOnly ? "hidden" : "full"}}) {
        std::istringstream in(text = helper.waitReady());
        in >> pid;
        for (HWND* w : {&main, &hidden, &hiddenParent, &orphanChild, &grandchild}) {
            unsigned long long id = 0;
            *w = handle((in >> id, id));
        }
        pid = in ? pid : 0;
    }

    nxproc::Helper helper;
    std::string text;  // what the helper reported, for failure messages
    unsigned long pid = 0;
    HWND main = nullptr, hidden = nullptr, hiddenParent = nullptr, orphanChild = nullptr,
         grandchild = nullptr;
};

TEST(WindowHelper, OwnsWindowsUntilStopped) {
    if (!nxtest::isChildProcess())
        GTEST_SKIP() << "helper-process body";
    const int result = nxproc::runWindowHelper(nxtest::getEnv("NX_WINDOWS") == "hidden");
    if (result != 0)
        nxproc::reportReady("0");  // tells the waiting test at once
    EXPECT_EQ(result, 0);
}

// Runs a window system for the suite and sends the process-wide log to a file the tests read.
class Windows : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = nxproc::startWindowSystem(&s_display);
        if (s_server != 0 && nxproc::kX11Windows)
            nxtest::setEnv("DISPLAY", s_display);
        s_logDir = std::make_unique<nxtest::TempDir>("windows-log");
        TRK::TRKLogger::Instance()->InitLog(s_logDir->file("windows.log"));
    }
    static void TearDownTestSuite() {
        if (nxproc::kX11Windows) {
            nxtest::setEnv("DISPLAY", "");
            nxtest::killChild(s_server, /*letItClean=*/true);
        }
    }
    void SetUp() override {
        if (s_server == 0)
            GTEST_SKIP() << "no window system for the window tests: " << s_display;
    }

    // The log written after its first `from` bytes.
    static std::string logText(std::size_t from = 0) {
        const std::string all = nxtest::readFileBytes(s_logDir->path() / "windows.log");
        return all.substr(std::min(from, all.size()));
    }

    static inline long long s_server = 0;
    static inline std::string s_display;  // ":N" on X11, or why there is no window system
    static inline std::unique_ptr<nxtest::TempDir> s_logDir;
};

TEST_F(Windows, MainAndTopWindowsFollowVisibilityAreLoggedAgreeAcrossThreadsAndGoWithTheOwner) {
    WindowOwner owner(false);
    ASSERT_NE(owner.pid, 0UL) << owner.text;
    std::size_t mark = logText().size();
    EXPECT_EQ(pubfunc::getProcessMainWnd(owner.pid, u"wanted title"), owner.main);
    EXPECT_EQ(nxtest::narrow(pubfunc::getWindowTitle(owner.main)), "nx main window");

    // The hidden windows lie above the main window, so they are looked at (and logged) first.
    const std::string log = logText(mark), found = "pubfunc::getProcessMainWnd find result: ";
    const std::string lines[] = {
        ":info pubfunc::getProcessMainWnd dwPID=" + std::to_string(owner.pid) +
            ", strTitle=wanted title\r\n",
        found + "szTitle=nx hidden window, isVisible=0\r\n",
        found + "szTitle=nx hidden parent, isVisible=0\r\n",
        found + "szTitle=nx main window, isVisible=1\r\n"};
    std::size_t at[4];
    for (int i = 0; i < 4; ++i)
        ASSERT_NE(at[i] = log.find(lines[i]), std::string::npos) << lines[i] << "in:\n" << log;
    EXPECT_TRUE(at[0] < at[1] && at[1] < at[3] && at[2] < at[3]) << log;

    // A process without windows: only the call is logged.
    mark = logText().size();
    EXPECT_EQ(pubfunc::getProcessMainWnd(nxtest::selfProcessId(), u""), nullptr);
    EXPECT_EQ(logText(mark).find("find result"), std::string::npos);

    // The top window climbs only through visible parents.
    const std::pair<HWND, HWND> tops[] = {{owner.main, owner.main}, {owner.grandchild, owner.main},
                                          {owner.orphanChild, owner.orphanChild},
                                          {nullptr, nullptr}};
    for (const auto& [window, top] : tops)
        EXPECT_EQ(pubfunc::FindWindowTop(window), top) << window;
    // Queries from several threads at once agree.
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> threads;
    for (int& w : wrong)
        threads.emplace_back([&owner, &w] {
            for (int i = 0; i < 50; ++i)
                w += (pubfunc::getProcessMainWnd(owner.pid, u"") != owner.main) +
                     (pubfunc::FindWindowTop(owner.grandchild) != owner.main);
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
    ASSERT_TRUE(owner.helper.stop());
    EXPECT_EQ(pubfunc::FindWindowTop(owner.grandchild), nullptr);
    EXPECT_EQ(pubfunc::getProcessMainWnd(owner.pid, u""), nullptr);
}

TEST_F(Windows, HiddenWindowsAreSkippedByIdAndByNameUntilShownAndShowingTreatsThemAll) {
    // This process and the first helper share the name but have no visible window.
    WindowOwner hiddenOnly(true), full(false);
    ASSERT_NE(hiddenOnly.pid, 0UL) << hiddenOnly.text;
    ASSERT_NE(full.pid, 0UL) << full.text;
    EXPECT_EQ(pubfunc::getProcessMainWnd(hiddenOnly.pid, u""), nullptr);
    HWND wnd = nullptr;
    EXPECT_EQ(pubfunc::getProcessIDWnd(nxproc::selfName(true), wnd, u"t"), full.pid);
    EXPECT_EQ(wnd, full.main);
    // Names are compared whole: a shorter name finds nothing and leaves the argument alone.
    const std::u16string name = nxproc::selfName();
    EXPECT_EQ(pubfunc::getProcessIDWnd(name.substr(0, name.size() - 1), wnd, u"t"), 0UL);
    EXPECT_EQ(wnd, full.main);

    pubfunc::showProcessMainWnd(hiddenOnly.pid);
    EXPECT_EQ(pubfunc::getProcessMainWnd(hiddenOnly.pid, u""), hiddenOnly.hidden);
    // Every window of the process is shown and raised, from the top of the stacking order: the
    // hidden parent is shown too (its child now climbs to it), the main window ends on top.
    pubfunc::showProcessMainWnd(full.pid);
    EXPECT_EQ(pubfunc::FindWindowTop(full.orphanChild), full.hiddenParent);
    EXPECT_EQ(pubfunc::getProcessMainWnd(full.pid, u""), full.main);
}

TEST_F(Windows, MissingOrLostDisplaysGiveNoWindowsAndDoNoHarm) {
    if (!nxproc::kX11Windows)
        GTEST_SKIP() << "X11 only: Windows always has its desktop";
    WindowOwner owner(false);
    ASSERT_NE(owner.pid, 0UL) << owner.text;
    HWND wnd = nullptr;
    for (const char* other : {"", ":4093"}) {
        nxtest::setEnv("DISPLAY", other);
        EXPECT_EQ(pubfunc::getProcessMainWnd(owner.pid, u""), nullptr) << other;
        EXPECT_EQ(pubfunc::getProcessIDWnd(nxproc::selfName(), wnd, u""), 0UL) << other;
        EXPECT_EQ(pubfunc::FindWindowTop(owner.main), nullptr) << other;
        pubfunc::showProcessMainWnd(owner.pid);
    }
    std::string other;
    const long long second = nxtest::startXvfb(&other);
    ASSERT_NE(second, 0) << other;
    nxtest::setEnv("DISPLAY", other);
    // Connects to the second server, which then ends under the open connection.
    EXPECT_EQ(pubfunc::getProcessMainWnd(owner.pid, u""), nullptr);
    nxtest::killChild(second, /*letItClean=*/true);
    EXPECT_EQ(pubfunc::getProcessMainWnd(owner.pid, u""), nullptr);
    EXPECT_EQ(pubfunc::FindWindowTop(handle(0x200001)), nullptr);
    nxtest::setEnv("DISPLAY", s_display);
    EXPECT_EQ(pubfunc::getProcessMainWnd(owner.pid, u""), owner.main);
}

}  // namespace
