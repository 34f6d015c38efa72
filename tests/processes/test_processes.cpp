// Processes: the snapshot as the library reads it, seen through real child processes of this
// test program (found by id and by name, several of one name, ones that have ended) and through
// copies of it named like the engine's master executables.
#include "pubfunc/pubfunc.h"
#include "processes/helpers/host.h"
#include "support/child_process.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>

struct PubfuncProcessTestAccess {
    static int DebugPrivilege(char16_t* name, int enable) {
        return pubfunc::DebugPrivilege(name, enable);
    }
};

namespace {

namespace fs = std::filesystem;

// The ids the snapshot lists under `name`, in snapshot order.
std::vector<unsigned long> idsNamed(const std::u16string& name) {
    std::vector<std::pair<unsigned long, std::u16string>> all;
    EXPECT_TRUE(pubfunc::getProcessList(all));
    std::vector<unsigned long> ids;
    for (const auto& p : all)
        if (p.second == name)
            ids.push_back(p.first);
    return ids;
}

bool listed(const std::vector<unsigned long>& ids, unsigned long id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

TEST(ProcessHelper, SleepsUntilStopped) {
    if (!nxtest::isChildProcess())
        GTEST_SKIP() << "helper-process body";
    nxproc::reportReady(std::to_string(nxtest::selfProcessId()));
    nxproc::waitUntilStopped();
}

TEST(MasterHelper, ReportsIsMasterExe) {
    if (!nxtest::isChildProcess())
        GTEST_SKIP() << "helper-process body";
    EXPECT_EQ(pubfunc::isMasterExe(), nxtest::getEnv("NX_EXPECT_MASTER") == "1");
}

TEST(Processes, ThisProcessAndChildrenOfItsNameAreListedUntilTheyExit) {
    const std::u16string name = nxproc::selfName();
    EXPECT_TRUE(listed(idsNamed(name), nxtest::selfProcessId())) << nxtest::narrow(name);
    EXPECT_TRUE(pubfunc::isProcessExist(nxtest::selfProcessId()));
    EXPECT_FALSE(pubfunc::isProcessExist(0xFFFFFFF0UL));

    std::deque<nxproc::Helper> children;
    std::vector<unsigned long> ids;
    for (int i = 0; i < 3; ++i)
        children.emplace_back("ProcessHelper.SleepsUntilStopped");
    for (nxproc::Helper& child : children) {
        const std::string line = child.waitReady();  // then it is surely in the snapshot
        ASSERT_FALSE(line.empty());
        ids.push_back(std::stoul(line));
    }
    const std::vector<unsigned long> named = idsNamed(name);
    for (unsigned long id : ids) {
        EXPECT_TRUE(pubfunc::isProcessExist(id)) << id;
        EXPECT_TRUE(listed(named, id)) << id;
    }
    EXPECT_GE(named.size(), 4u) << "this process and its three children share the name";

    // Without windows, no process of the name is picked, in any letter case, and the window
    // argument keeps its value.
    const HWND before = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1234));
    HWND wnd = before;
    EXPECT_EQ(pubfunc::getProcessIDWnd(nxproc::upper(name), wnd, u"t"), 0UL);
    EXPECT_EQ(wnd, before);

    for (nxproc::Helper& child : children)
        ASSERT_TRUE(child.stop());
    const std::vector<unsigned long> after = idsNamed(name);
    for (unsigned long id : ids) {
        EXPECT_FALSE(pubfunc::isProcessExist(id)) << id;
        EXPECT_FALSE(listed(after, id)) << id;
    }
}

TEST(Processes, MasterExecutableIsRecognisedByFileNameInAnyCase) {
    EXPECT_FALSE(pubfunc::isMasterExe());
    // Copies sit next to the test program so that they find the same libraries.
    const fs::path self = nxtest::selfExePath();
    const std::pair<const char*, bool> cases[] = {
        {"GrabSvr.exe", true}, {"QX.EXE", true}, {"lumacast_engine_tester64.exe", true},
        {"grabsvr64x.exe", false}, {"my_qx.exe", false}};
    for (const auto& [name, master] : cases) {
        const fs::path copy = self.parent_path() / name;
        std::error_code ec;
        fs::copy_file(self, copy, fs::copy_options::overwrite_existing, ec);
        ASSERT_FALSE(ec) << name << ": " << ec.message();
        const std::string expect = master ? "1" : "0";
        const int code = nxtest::waitChild(nxtest::startProgram(
            copy.string(), "MasterHelper.ReportsIsMasterExe", {{"NX_EXPECT_MASTER", expect}}));
        fs::remove(copy, ec);
        EXPECT_EQ(code, 0) << name;
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
    unsigned long long permitted = 0;
    for (std::string line; std::getline(status, line);)
        if (line.rfind("CapPrm:", 0) == 0)
            permitted = std::stoull(line.substr(7), nullptr, 16);
    const int held = (permitted >> 19) & 1 ? 1 : 0;
    EXPECT_EQ(PubfuncProcessTestAccess::DebugPrivilege(debug, 1), held);
    EXPECT_EQ(PubfuncProcessTestAccess::DebugPrivilege(debug, 0), 1);
    EXPECT_EQ(PubfuncProcessTestAccess::DebugPrivilege(debug, 1), held);
    // Only Windows has a window-message filter.
    EXPECT_FALSE(pubfunc::changeUIPIMessageFilter(0x401, true));
    EXPECT_FALSE(pubfunc::changeUIPIMessageFilter(0x401, false));
#endif
}

}  // namespace
