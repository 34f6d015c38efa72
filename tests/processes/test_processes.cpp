// Processes: the snapshot as the library reads it, seen through real child processes of this
// test program (found by id and by name, several of one name, one that has ended) and through
// copies of it named like the engine's master executables.
#include "pubfunc/pubfunc.h"
#include "processes/helpers/host.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <thread>

struct PubfuncProcessTestAccess {
    static int DebugPrivilege(char16_t* name, int enable) {
        return pubfunc::DebugPrivilege(name, enable);
    }
};

namespace {

namespace fs = std::filesystem;

using ProcessList = std::vector<std::pair<unsigned long, std::u16string>>;

std::u16string fromAscii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::u16string upper(std::u16string s) {
    for (char16_t& c : s)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    return s;
}

// The ids the snapshot lists under `name`, in snapshot order.
std::vector<unsigned long> idsNamed(const std::u16string& name) {
    ProcessList all;
    EXPECT_TRUE(pubfunc::getProcessList(all));
    std::vector<unsigned long> ids;
    for (const auto& p : all)
        if (p.second == name)
            ids.push_back(p.first);
    return ids;
}

// Children of this program that run until a stop file appears.
class Sleepers {
public:
    explicit Sleepers(int count) : m_dir("sleepers") {
        for (int i = 0; i < count; ++i) {
            const std::string ready = (m_dir.path() / ("ready" + std::to_string(i))).string();
            m_children.push_back(nxtest::startSelf(
                "ProcessHelper.SleepsUntilStopped",
                {{"NX_READY_FILE", ready}, {"NX_STOP_FILE", stopFile()}}));
            m_ready.push_back(ready);
        }
    }
    ~Sleepers() { stop(); }

    // Waits until every child runs its test body (then it is surely in the snapshot).
    bool waitReady() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (const std::string& r : m_ready)
            while (!fs::exists(r)) {
                if (std::chrono::steady_clock::now() > deadline)
                    return false;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        return true;
    }
    // The child ids, read from their ready files.
    std::vector<unsigned long> ids() const {
        std::vector<unsigned long> out;
        for (const std::string& r : m_ready)
            out.push_back(std::stoul(nxtest::readFileBytes(r)));
        return out;
    }
    // Tells the children to end and waits for each; all exit codes 0 gives true.
    bool stop() {
        bool ok = true;
        if (!m_children.empty())
            std::ofstream(stopFile()).put('x');
        for (long long c : m_children)
            ok = nxtest::waitChild(c) == 0 && ok;
        m_children.clear();
        return ok;
    }

private:
    std::string stopFile() const { return (m_dir.path() / "stop").string(); }

    nxtest::TempDir m_dir;
    std::vector<long long> m_children;
    std::vector<std::string> m_ready;
};

TEST(ProcessHelper, SleepsUntilStopped) {
    if (!nxtest::isChildProcess())
        GTEST_SKIP() << "helper-process body";
    {
        std::ofstream out(nxtest::getEnv("NX_READY_FILE") + ".part");
        out << nxtest::selfProcessId();
    }
    fs::rename(nxtest::getEnv("NX_READY_FILE") + ".part", nxtest::getEnv("NX_READY_FILE"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!fs::exists(nxtest::getEnv("NX_STOP_FILE")) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

TEST(MasterHelper, ReportsIsMasterExe) {
    if (!nxtest::isChildProcess())
        GTEST_SKIP() << "helper-process body";
    EXPECT_EQ(pubfunc::isMasterExe(), nxtest::getEnv("NX_EXPECT_MASTER") == "1");
}

TEST(Processes, ThisProcessIsListedUnderItsExecutableName) {
    const std::u16string name = fromAscii(fs::path(nxproc::selfExePath()).filename().string());
    ProcessList all;
    ASSERT_TRUE(pubfunc::getProcessList(all));
    const auto self = std::find_if(all.begin(), all.end(), [](const auto& p) {
        return p.first == nxtest::selfProcessId();
    });
    ASSERT_NE(self, all.end());
    EXPECT_EQ(nxtest::narrow(self->second), nxtest::narrow(name));
    EXPECT_TRUE(pubfunc::isProcessExist(nxtest::selfProcessId()));
    EXPECT_FALSE(pubfunc::isProcessExist(0xFFFFFFF0UL));
}

TEST(Processes, ChildrenOfOneNameAreAllFoundUntilTheyExit) {
    const std::u16string name = fromAscii(fs::path(nxproc::selfExePath()).filename().string());
    Sleepers children(3);
    ASSERT_TRUE(children.waitReady());
    const std::vector<unsigned long> ids = children.ids();
    const std::vector<unsigned long> named = idsNamed(name);
    for (unsigned long id : ids) {
        EXPECT_TRUE(pubfunc::isProcessExist(id)) << id;
        EXPECT_NE(std::find(named.begin(), named.end(), id), named.end()) << id;
    }
    // This process and its three children share the name.
    EXPECT_GE(named.size(), 4u);

    // Without windows, no process of the name is picked, in any letter case, and the window
    // argument keeps its value.
    HWND wnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1234));
    EXPECT_EQ(pubfunc::getProcessIDWnd(upper(name), wnd, u"t"), 0UL);
    EXPECT_EQ(wnd, reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1234)));

    ASSERT_TRUE(children.stop());
    for (unsigned long id : ids)
        EXPECT_FALSE(pubfunc::isProcessExist(id)) << id;
    for (unsigned long id : idsNamed(name))
        EXPECT_EQ(std::find(ids.begin(), ids.end(), id), ids.end()) << id;
}

TEST(Processes, MasterExecutableIsRecognisedByFileNameInAnyCase) {
    EXPECT_FALSE(pubfunc::isMasterExe());
    // Copies sit next to the test program so that they find the same libraries.
    const fs::path self = nxproc::selfExePath();
    struct Case {
        const char* name;
        bool master;
    } const cases[] = {
        {"GrabSvr.exe", true},
        {"QX.EXE", true},
        {"lumacast_engine_tester64.exe", true},
        {"grabsvr64x.exe", false},
        {"my_qx.exe", false},
    };
    for (const Case& c : cases) {
        const fs::path copy = self.parent_path() / c.name;
        std::error_code ec;
        fs::copy_file(self, copy, fs::copy_options::overwrite_existing, ec);
        ASSERT_FALSE(ec) << c.name << ": " << ec.message();
        const int code = nxproc::runProgram(copy.string(), "MasterHelper.ReportsIsMasterExe",
                                            {{"NX_EXPECT_MASTER", c.master ? "1" : "0"}});
        fs::remove(copy, ec);
        EXPECT_EQ(code, 0) << c.name;
    }
}

TEST(Processes, InjectionAndPrivilegesReportPlainResults) {
    EXPECT_FALSE(pubfunc::injectDll(u"grabsvr.exe", u"hook.dll"));
    EXPECT_FALSE(pubfunc::injectDll(u"", u""));

    char16_t unknown[] = u"SeNoSuchPrivilege";
    EXPECT_EQ(PubfuncProcessTestAccess::DebugPrivilege(unknown, 1), 0);
    char16_t debug[] = u"SeDebugPrivilege";
#ifdef _WIN32
    // A privilege the token holds can be switched on and off; one it lacks can be neither.
    const int on = PubfuncProcessTestAccess::DebugPrivilege(debug, 1);
    EXPECT_EQ(PubfuncProcessTestAccess::DebugPrivilege(debug, 0), on);
#else
    // The debug privilege is the capability CAP_SYS_PTRACE (bit 19): it can be raised exactly
    // when the permitted set holds it, and dropping it always succeeds.
    std::ifstream status("/proc/self/status");
    std::string line;
    unsigned long long permitted = 0;
    while (std::getline(status, line))
        if (line.rfind("CapPrm:", 0) == 0)
            permitted = std::stoull(line.substr(7), nullptr, 16);
    const int held = (permitted >> 19) & 1 ? 1 : 0;
    EXPECT_EQ(PubfuncProcessTestAccess::DebugPrivilege(debug, 1), held);
    EXPECT_EQ(PubfuncProcessTestAccess::DebugPrivilege(debug, 0), 1);
    EXPECT_EQ(PubfuncProcessTestAccess::DebugPrivilege(debug, 1), held);
#endif

#ifndef _WIN32
    // Only Windows has a window-message filter.
    EXPECT_FALSE(pubfunc::changeUIPIMessageFilter(0x401, true));
    EXPECT_FALSE(pubfunc::changeUIPIMessageFilter(0x401, false));
#endif
}

}  // namespace
