// Windows of processes against a real window system: a private X server, and helper processes
// (this test program in helper mode) that own titled, hidden and nested windows.
#include "log/log.h"
#include "pubfunc/pubfunc.h"
#include "processes/helpers/host.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

HWND handle(unsigned long long id) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(id)); }

std::u16string fromAscii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::u16string upper(std::u16string s) {
    for (char16_t& c : s)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    return s;
}

std::u16string selfName() { return fromAscii(fs::path(nxproc::selfExePath()).filename().string()); }

// A helper process and the windows it owns; it ends when the object goes.
class WindowOwner {
public:
    explicit WindowOwner(bool hiddenOnly) : m_dir("windows") {
        m_child = nxtest::startSelf("WindowHelper.OwnsWindowsUntilStopped",
                                    {{"NX_IDS_FILE", idsFile()},
                                     {"NX_STOP_FILE", stopFile()},
                                     {"NX_WINDOWS", hiddenOnly ? "hidden" : "full"}});
    }
    ~WindowOwner() { stop(); }

    // Waits until the helper has written its window ids; false when it failed or timed out.
    // The file may show up before its text can be read (a rename under Wine): read until the
    // line is whole.
    bool ready() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (m_child != 0 && std::chrono::steady_clock::now() < deadline) {
            text = fs::exists(idsFile()) ? nxtest::readFileBytes(idsFile()) : std::string();
            if (!text.empty() && text.back() == '\n') {
                std::istringstream in(text);
                unsigned long long m = 0, h = 0, hp = 0, oc = 0, gc = 0;
                in >> pid >> m >> h >> hp >> oc >> gc;
                main = handle(m), hidden = handle(h), hiddenParent = handle(hp);
                orphanChild = handle(oc), grandchild = handle(gc);
                return static_cast<bool>(in) && pid != 0;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    // Ends the helper (its windows go with its connection); true when it exited cleanly.
    bool stop() {
        if (m_child == 0)
            return true;
        std::ofstream(stopFile()).put('x');
        const bool ok = nxtest::waitChild(m_child) == 0;
        m_child = 0;
        return ok;
    }

    std::string text;  // what the helper wrote, for failure messages
    unsigned long pid = 0;
    HWND main = nullptr, hidden = nullptr, hiddenParent = nullptr, orphanChild = nullptr,
         grandchild = nullptr;

private:
    std::string idsFile() const { return (m_dir.path() / "ids").string(); }
    std::string stopFile() const { return (m_dir.path() / "stop").string(); }

    nxtest::TempDir m_dir;
    long long m_child = 0;
};

TEST(WindowHelper, OwnsWindowsUntilStopped) {
    if (!nxtest::isChildProcess())
        GTEST_SKIP() << "helper-process body";
    const int result = nxproc::runWindowHelper(
        nxtest::getEnv("NX_IDS_FILE"), nxtest::getEnv("NX_STOP_FILE"), nxtest::getEnv("NX_WINDOWS") == "hidden");
    if (result != 0)
        std::ofstream(nxtest::getEnv("NX_IDS_FILE")) << "0\n";  // tells the waiting test at once
    EXPECT_EQ(result, 0);
}

// Runs an X server for the suite and sends the process-wide log to a file the tests read.
class Windows : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = std::make_unique<nxproc::DisplayServer>();
        if (s_server->start(&s_why) && nxproc::windowsAreX11())
            nxproc::setEnvVar("DISPLAY", s_server->display());
        s_logDir = std::make_unique<nxtest::TempDir>("windows-log");
        TRK::TRKLogger::Instance()->InitLog(s_logDir->file("windows.log"));
    }
    static void TearDownTestSuite() {
        if (nxproc::windowsAreX11())
            nxproc::setEnvVar("DISPLAY", "");
        s_server.reset();
    }
    void SetUp() override {
        if (!s_server->running())
            GTEST_SKIP() << "no window system for the window tests: " << s_why;
    }

    // The log written so far, and the part of it after `from` bytes.
    static std::string logText(std::size_t from = 0) {
        const std::string all = nxtest::readFileBytes(s_logDir->path() / "windows.log");
        return from < all.size() ? all.substr(from) : std::string();
    }

    static std::unique_ptr<nxproc::DisplayServer> s_server;
    static std::string s_why;
    static std::unique_ptr<nxtest::TempDir> s_logDir;
};

std::unique_ptr<nxproc::DisplayServer> Windows::s_server;
std::string Windows::s_why;
std::unique_ptr<nxtest::TempDir> Windows::s_logDir;

TEST_F(Windows, MainWindowIsTheFirstVisibleTopLevelWindowAndEveryLookIsLogged) {
    WindowOwner owner(false);
    ASSERT_TRUE(owner.ready()) << owner.text;
    const std::size_t mark = logText().size();
    EXPECT_EQ(pubfunc::getProcessMainWnd(owner.pid, u"wanted title"), owner.main);
    EXPECT_EQ(nxtest::narrow(pubfunc::getWindowTitle(owner.main)), "nx main window");

    // The hidden windows lie above the main window, so they are looked at (and logged) first.
    const std::string log = logText(mark);
    const std::string pid = std::to_string(owner.pid);
    const std::size_t call =
        log.find(":info pubfunc::getProcessMainWnd dwPID=" + pid + ", strTitle=wanted title\r\n");
    const std::size_t hidden =
        log.find("pubfunc::getProcessMainWnd find result: szTitle=nx hidden window, isVisible=0\r\n");
    const std::size_t parent =
        log.find("pubfunc::getProcessMainWnd find result: szTitle=nx hidden parent, isVisible=0\r\n");
    const std::size_t main =
        log.find("pubfunc::getProcessMainWnd find result: szTitle=nx main window, isVisible=1\r\n");
    ASSERT_NE(call, std::string::npos) << log;
    ASSERT_NE(hidden, std::string::npos) << log;
    ASSERT_NE(parent, std::string::npos) << log;
    ASSERT_NE(main, std::string::npos) << log;
    EXPECT_LT(call, hidden);
    EXPECT_LT(hidden, main);
    EXPECT_LT(parent, main);

    // A process without windows: only the call is logged.
    const std::size_t mark2 = logText().size();
    EXPECT_EQ(pubfunc::getProcessMainWnd(nxtest::selfProcessId(), u""), nullptr);
    EXPECT_EQ(logText(mark2).find("find result"), std::string::npos);
}

TEST_F(Windows, HiddenWindowsAreSkippedUntilShownAndShowingTreatsThemAll) {
    WindowOwner hiddenOnly(true);
    WindowOwner full(false);
    ASSERT_TRUE(hiddenOnly.ready()) << hiddenOnly.text;
    ASSERT_TRUE(full.ready()) << full.text;

    EXPECT_EQ(pubfunc::getProcessMainWnd(hiddenOnly.pid, u""), nullptr);
    // The child below a hidden parent is its own top window for now.
    EXPECT_EQ(pubfunc::FindWindowTop(full.orphanChild), full.orphanChild);

    pubfunc::showProcessMainWnd(hiddenOnly.pid);
    EXPECT_EQ(pubfunc::getProcessMainWnd(hiddenOnly.pid, u""), hiddenOnly.hidden);

    // Every window of the process is shown and raised, in stacking order from the top: the
    // hidden parent below the topmost hidden window is shown too, and the main window, raised
    // last, ends on top.
    pubfunc::showProcessMainWnd(full.pid);
    EXPECT_EQ(pubfunc::FindWindowTop(full.orphanChild), full.hiddenParent);
    EXPECT_EQ(pubfunc::getProcessMainWnd(full.pid, u""), full.main);
}

TEST_F(Windows, ProcessByNameIsTheFirstOfThatNameWithAVisibleWindow) {
    // This process and the first helper share the name but have no visible window.
    WindowOwner hiddenOnly(true);
    WindowOwner full(false);
    ASSERT_TRUE(hiddenOnly.ready()) << hiddenOnly.text;
    ASSERT_TRUE(full.ready()) << full.text;

    HWND wnd = nullptr;
    EXPECT_EQ(pubfunc::getProcessIDWnd(upper(selfName()), wnd, u"t"), full.pid);
    EXPECT_EQ(wnd, full.main);

    // Names are compared whole: a shorter name finds nothing and leaves the argument alone.
    HWND untouched = handle(7);
    const std::u16string name = selfName();
    EXPECT_EQ(pubfunc::getProcessIDWnd(name.substr(0, name.size() - 1), untouched, u"t"), 0UL);
    EXPECT_EQ(untouched, handle(7));
}

TEST_F(Windows, TopWindowClimbsOnlyThroughVisibleParents) {
    WindowOwner owner(false);
    ASSERT_TRUE(owner.ready()) << owner.text;
    EXPECT_EQ(pubfunc::FindWindowTop(owner.main), owner.main);
    EXPECT_EQ(pubfunc::FindWindowTop(owner.hidden), owner.hidden);
    EXPECT_EQ(pubfunc::FindWindowTop(owner.grandchild), owner.main);
    EXPECT_EQ(pubfunc::FindWindowTop(owner.orphanChild), owner.orphanChild);
    EXPECT_EQ(pubfunc::FindWindowTop(nullptr), nullptr);

    // The windows go with their owner's connection.
    ASSERT_TRUE(owner.stop());
    EXPECT_EQ(pubfunc::FindWindowTop(owner.main), nullptr);
    EXPECT_EQ(pubfunc::FindWindowTop(owner.grandchild), nullptr);
    EXPECT_EQ(pubfunc::getProcessMainWnd(owner.pid, u""), nullptr);
}

TEST_F(Windows, WithoutAReachableDisplayThereAreNoWindows) {
    if (!nxproc::windowsAreX11())
        GTEST_SKIP() << "X11 only: Windows always has its desktop";
    WindowOwner owner(false);
    ASSERT_TRUE(owner.ready()) << owner.text;
    const std::string display = s_server->display();
    for (const char* other : {"", ":4093"}) {
        nxproc::setEnvVar("DISPLAY", other);
        HWND wnd = nullptr;
        EXPECT_EQ(pubfunc::getProcessMainWnd(owner.pid, u""), nullptr) << other;
        EXPECT_EQ(pubfunc::getProcessIDWnd(selfName(), wnd, u""), 0UL) << other;
        EXPECT_EQ(pubfunc::FindWindowTop(owner.main), nullptr) << other;
        pubfunc::showProcessMainWnd(owner.pid);
    }
    nxproc::setEnvVar("DISPLAY", display);
    EXPECT_EQ(pubfunc::getProcessMainWnd(owner.pid, u""), owner.main);
}

TEST_F(Windows, QueriesFromSeveralThreadsAgree) {
    WindowOwner owner(false);
    ASSERT_TRUE(owner.ready()) << owner.text;
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&owner, &wrong, t] {
            for (int i = 0; i < 50; ++i) {
                if (pubfunc::getProcessMainWnd(owner.pid, u"") != owner.main)
                    ++wrong[t];
                if (pubfunc::FindWindowTop(owner.grandchild) != owner.main)
                    ++wrong[t];
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST_F(Windows, AServerThatGoesAwayLeavesNoWindowsAndNoHarm) {
    if (!nxproc::windowsAreX11())
        GTEST_SKIP() << "X11 only: Windows always has its desktop";
    const std::string display = s_server->display();
    {
        nxproc::DisplayServer other;
        std::string why;
        ASSERT_TRUE(other.start(&why)) << why;
        nxproc::setEnvVar("DISPLAY", other.display());
        // Connects to the second server, which then ends under the open connection.
        EXPECT_EQ(pubfunc::getProcessMainWnd(nxtest::selfProcessId(), u""), nullptr);
        other.stop();
        EXPECT_EQ(pubfunc::getProcessMainWnd(nxtest::selfProcessId(), u""), nullptr);
        EXPECT_EQ(pubfunc::FindWindowTop(handle(0x200001)), nullptr);
    }
    nxproc::setEnvVar("DISPLAY", display);
    WindowOwner owner(false);
    ASSERT_TRUE(owner.ready()) << owner.text;
    EXPECT_EQ(pubfunc::getProcessMainWnd(owner.pid, u""), owner.main);
}

}  // namespace
